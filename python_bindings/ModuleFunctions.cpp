// Module-level functions: runtime start and stop, live-object count, version
// and the four log functions.

#include <string>

#include "Bindings.h"
#include "ClassRegistry.h"
#include "qz/Log.h"
#include "qz/tasks/GlobalThreadPools.h"

namespace pytav {
namespace {

constexpr const char* kLogTag = "PYTAV";

std::string versionText() {
#ifdef PYTAV_VERSION
    return std::string(PYTAV_VERSION) + ".0";
#else
    return "DEBUG.0";
#endif
}

// Model objects made by the class registry and not yet released.
std::size_t aliveObjects() { return model::ClassRegistry::instance().aliveCount(); }

}  // namespace

void bindModuleFunctions(pybind11::module_& m) {
    m.def("init", [] { qz::createGlobalThreadPools(); }, "Initialization of plugin.");
    m.def("deinit", [] { qz::destroyGlobalThreadPools(); }, "Deinitialization of plugin.");
    m.def("get_num_alived_objects", &aliveObjects, "Returns number of alived objects.");
    m.def("get_version", &versionText, "Returns version of bindings.");
    m.def("log_error", [](const std::string& text) { qz::logText(kLogTag, qz::LOG_ERROR, text); },
          pybind11::arg("text"), "Writes error message to log.");
    m.def("log_info", [](const std::string& text) { qz::logText(kLogTag, qz::LOG_INFO, text); },
          pybind11::arg("text"), "Writes info message to log.");
    m.def("log_warning", [](const std::string& text) { qz::logText(kLogTag, qz::LOG_WARNING, text); },
          pybind11::arg("text"), "Writes warning message to log.");
    m.def("log_debug", [](const std::string& text) { qz::logText(kLogTag, qz::LOG_DEBUG, text); },
          pybind11::arg("text"), "Writes debug message to log.");
}

}  // namespace pytav
