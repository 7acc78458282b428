// Lets a module load far enough into an interpreter of another minor version
// to refuse it with its own version-mismatch ImportError.
//
// The interpreter loads extension modules with every symbol bound at once,
// so a function that the other interpreter does not export (new in 3.13, or
// gone in 3.13) would fail the load with an "undefined symbol" error before
// the module's version check could run. Stand-ins for the few such functions
// that pybind11 calls satisfy the loader there; an interpreter that has them
// binds its own first (they keep default visibility, so the interpreter's
// definitions take precedence). The stand-ins are never reached: the version
// check refuses the other interpreter before any of them could be called.

#include <Python.h>

#define PYTAV_STANDIN extern "C" __attribute__((weak, visibility("default")))

namespace {
[[noreturn]] void refuse() {
    Py_FatalError("pytav: this module was built for another Python than the one running it");
}
} // namespace

#if PY_VERSION_HEX >= 0x030D0000

PYTAV_STANDIN PyThreadState *PyThreadState_GetUnchecked(void) { refuse(); }
PYTAV_STANDIN int PyDict_GetItemStringRef(PyObject *, const char *, PyObject **) { refuse(); }
PYTAV_STANDIN int PyObject_VisitManagedDict(PyObject *, visitproc, void *) { refuse(); }
PYTAV_STANDIN void PyObject_ClearManagedDict(PyObject *) { refuse(); }

#else

PYTAV_STANDIN PyThreadState *_PyThreadState_UncheckedGet(void) { refuse(); }

#endif
