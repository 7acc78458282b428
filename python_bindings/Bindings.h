#pragma once
// One bind function per family of Python classes. pytav_module.cpp calls them
// in the order of the module's class table, so that every class is declared
// before a method that names it.

#include <pybind11/pybind11.h>

namespace pytav {

void bindModuleFunctions(pybind11::module_& m);

}  // namespace pytav
