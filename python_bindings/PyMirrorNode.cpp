// Python class MirrorNode.

#include "PyMirrorNode.h"

#include "ScriptTypeNames.h"

#include "Bindings.h"
#include "ClassRegistry.h"
#include "StaticProperty.h"
#include "Texture.h"

namespace py = pybind11;

namespace pytav {

namespace {

constexpr std::size_t kMirrorTextureUse = 0;
constexpr std::size_t kMirrorTextureSlot = 0;

}  // namespace

MirrorNode::MirrorNode(const std::string& nodeName, const std::string& materialTitle)
    : FixedMaterialRenderNode(nodeName, materialTitle, "mirror_material",
                              {{model::POSITION0, 4}, {model::NORMAL0, 3}, {model::TEXCOORD0, 2}}) {
    auto color = model::ClassRegistry::make<model::Vec3fProperty>("model::Property<osg::Vec3f>");
    color->setName("color");
    color->setValue(osg::Vec3f(1.0f, 0.0f, 0.0f));
    material().addUniform(color);
    material().getTexCoordChannels()[kMirrorTextureUse] = 0;
}

MirrorNode::~MirrorNode() = default;

void MirrorNode::setTexture(const std::string& file) { texture_ = file; }

void MirrorNode::setTextureCoordinates(const FloatArray& coordinates) {
    replaceAttribute(model::TEXCOORD0, toFloatList(coordinates));
}

void MirrorNode::setControlNode(const Node& node) { this->node().setParent(0, node.getModelNode()); }

std::string MirrorNode::build() {
    if (std::string message = checkAttributesSet(); !message.empty()) return message;
    if (indices().empty()) return "Indices are empty.";
    if (texture_.empty()) return "Texture aren't set.";
    if (!node().getParent(0)) return kControlNodeNotSet;
    if (std::string message = checkGeometry(vertices()); !message.empty()) return message;
    if (std::string message = takeGeometry(vertices()); !message.empty()) return message;
    material().setTexture(kMirrorTextureSlot, model::makeTexture(texture_));
    markBuilt();
    return {};
}

// --- Python class ------------------------------------------------------

void declareMirrorNode(py::module_& m) { py::class_<MirrorNode, IRenderNode>(m, "MirrorNode"); }

void bindMirrorNode(py::module_& m) {
    bindFixedMaterialNode<MirrorNode, FloatArray>(m, "MirrorNode")
        .def("setIndices", &MirrorNode::setIndices, py::arg("indices"), "Sets the triangle indices.")
        .def("setTexture", &MirrorNode::setTexture, py::arg("file"), "Sets the mirror texture's file name.")
        .def("setTextureCoordinates", &MirrorNode::setTextureCoordinates, py::arg("coordinates"),
             "Sets the texture coordinates, two floats per vertex.")
        .def("setControlNode", &MirrorNode::setControlNode, py::arg("node"), "Hangs the render node below node.");
}

}  // namespace pytav
