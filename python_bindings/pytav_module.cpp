// Module entry of pytav. PYBIND11_MODULE refuses an interpreter whose minor
// version differs from the one the module was compiled for, and turns an
// exception escaping the body into ImportError.

#include "Bindings.h"

PYBIND11_MODULE(pytav, m) {
    pytav::bindModuleFunctions(m);
}
