// Python class Connector.

#include "PyConnector.h"

#include "Bindings.h"
#include "FiniteArguments.h"
#include "ClassRegistry.h"
#include "StaticProperty.h"

namespace py = pybind11;

namespace pytav {

Connector::Connector(const std::string& name)
    : node_(model::ClassRegistry::make<model::Connector>("model::Connector")) {
    node_->setName(name);
}

Connector::~Connector() = default;

void Connector::setControlNode(const Node& node) { node_->setParent(0, node.getModelNode()); }

void Connector::setPropertyFloat(const std::string& name, float value) {
    requireFinite(allFinite(value), "Connector property " + name);
    auto property = model::ClassRegistry::make<model::FloatProperty>("model::Property<float>");
    property->setName(name);
    property->setValue(value);
    node_->addProperty(property);
}

void Connector::setPropertyString(const std::string& name, const std::string& value) {
    auto property = model::ClassRegistry::make<model::StringProperty>("model::Property<const char*>");
    property->setName(name);
    property->setValue(value);
    node_->addProperty(property);
}

// --- Python class ------------------------------------------------------

void declareConnector(py::module_& m) { py::class_<Connector>(m, "Connector"); }

void bindConnector(py::module_& m) {
    py::class_<Connector>(m.attr("Connector"))
        .def(py::init<const std::string&>(), py::arg("name"), "A named attachment point.")
        .def("setControlNode", &Connector::setControlNode, py::arg("node"), "Hangs the connector below node.")
        .def("setPropertyFloat", &Connector::setPropertyFloat, py::arg("name"), py::arg("value"),
             "Adds a number property.")
        .def("setPropertyString", &Connector::setPropertyString, py::arg("name"), py::arg("value"),
             "Adds a text property.");
}

}  // namespace pytav
