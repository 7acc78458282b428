// Python class ColorNode.

#include "PyColorNode.h"

#include "Bindings.h"
#include "FiniteArguments.h"
#include "ClassRegistry.h"
#include "StaticProperty.h"

namespace py = pybind11;

namespace pytav {

namespace {

// A mesh whose colour the script forgot shows up in plain red.
const osg::Vec3f kDefaultColor(1.0f, 0.0f, 0.0f);

model::PropertyPtr makeColor(const osg::Vec3f& value) {
    auto color = model::ClassRegistry::make<model::Vec3fProperty>("model::Property<osg::Vec3f>");
    color->setName("color");
    color->setValue(value);
    return color;
}

}  // namespace

ColorNode::ColorNode(const std::string& nodeName, const std::string& materialTitle)
    : FixedMaterialRenderNode(nodeName, materialTitle, "color_material",
                              {{model::POSITION0, 4}, {model::NORMAL0, 3}}) {
    material().addUniform(makeColor(kDefaultColor));
}

ColorNode::~ColorNode() = default;

void ColorNode::setColor(float r, float g, float b) {
    requireFinite(allFinite(r, g, b), "Color");
    material().addUniform(makeColor(osg::Vec3f(r, g, b)));
}
void ColorNode::setControlNode(const Node& node) { this->node().setParent(0, node.getModelNode()); }

std::string ColorNode::build() {
    if (std::string message = checkAttributesSet(); !message.empty()) return message;
    if (indices().empty()) return "Indices aren't set.";
    if (!node().getParent(0)) return kControlNodeNotSet;
    if (std::string message = checkGeometry(vertices()); !message.empty()) return message;
    if (std::string message = takeGeometry(vertices()); !message.empty()) return message;
    markBuilt();
    return {};
}

// --- Python class ------------------------------------------------------

void declareColorNode(py::module_& m) { py::class_<ColorNode, IRenderNode>(m, "ColorNode"); }

void bindColorNode(py::module_& m) {
    bindFixedMaterialNode<ColorNode, FloatArray>(m, "ColorNode")
        .def("setIndices", indexList<ColorNode>(&ColorNode::setIndices), py::arg("indices"),
             "Sets the triangle indices.")
        .def("setColor", &ColorNode::setColor, py::arg("r"), py::arg("g"), py::arg("b"), "Sets the colour.")
        .def("setControlNode", &ColorNode::setControlNode, py::arg("node"), "Hangs the render node below node.");
}

}  // namespace pytav
