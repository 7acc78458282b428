// The Python class Model.

#include "PyModel.h"

#include <memory>

#include <pybind11/stl.h>

#include "Bindings.h"
#include "FiniteVertexData.h"
#include "ModelObjects.h"
#include "PyConnector.h"
#include "PyShells.h"
#include "qz/Log.h"
#include "SaveSequence.h"

namespace py = pybind11;

namespace pytav {

namespace {

model::BoundingBox toBox(const BoxValues& v) {
    const auto& [minX, minY, minZ, maxX, maxY, maxZ] = v;
    return model::BoundingBox::fromValues(minX, minY, minZ, maxX, maxY, maxZ);
}

}  // namespace

Model::Model() : root_(createModelObject<model::RootNode>("model::RootNode")) {
    rootTransformObject_ = py::cast(std::make_unique<Node>("root"));
    rootTransform_ = rootTransformObject_.cast<Node*>();
    root_->setTopNode(rootTransform_->getModelNode());
}

Model::~Model() = default;

void Model::setBBox(const BoxValues& box) { root_->setBoundingBox(toBox(box)); }
void Model::setUserBox(const BoxValues& box) { root_->setUserBox(toBox(box)); }
void Model::setLightBox(const BoxValues& box) { root_->setLightBox(toBox(box)); }

std::string Model::save(const SavePath& path, std::uint32_t version) { return saveModel(*root_, path.text, version); }

std::string Model::addRenderNode(IRenderNode& node) {
    std::string message = node.build();
    if (message.empty()) {
        const model::Ptr<model::BaseRenderNode> built = node.getModelNode();
        if (built && !hasFiniteVertexData(*built)) message = nonFiniteVertexDataMessage(node.getNodeName());
    }
    if (!message.empty()) {
        // Exporters often drop the returned text; the log keeps it, with the
        // node it concerns.
        qz::logText("PYTAV", qz::LOG_WARNING, node.getNodeName() + ": " + message);
        return message;
    }
    root_->addRenderNode(node.getModelNode());
    return {};
}

void Model::addLight(const Light& light) { root_->addLight(light.getModelNode()); }

namespace {

void addSegmentsNode(Model& self, const SegmentsNode& segments) {
    self.getRoot().addShellNode(segments.getModelNode());
}

// An incomplete shell is still added (it holds whatever an earlier build
// gave it, often nothing, and the vertex pass drops empty shells); the
// warning is all the script gets, as the call returns nothing.
void addShellNode(Model& self, ShellNode& shell) {
    const std::string message = shell.build();
    if (!message.empty()) qz::logText("PYTAV", qz::LOG_WARNING, shell.getNodeName() + ": " + message);
    self.getRoot().addShellNode(shell.getModelNode());
}

void addConnector(Model& self, const Connector& connector) { self.getRoot().addConnector(connector.getModelNode()); }

}  // namespace

// --- Python class ------------------------------------------------------

void declareModel(py::module_& m) { py::class_<Model>(m, "Model"); }

void bindModel(py::module_& m) {
    py::class_<Model>(m.attr("Model"))
        .def(py::init<>())
        .def("getRootTransform", &Model::getRootTransform, py::return_value_policy::reference)
        .def("setBBox", &Model::setBBox)
        .def("setUserBox", &Model::setUserBox)
        .def("setLightBox", &Model::setLightBox)
        .def("save", &Model::save)
        .def("addRenderNode", &Model::addRenderNode)
        .def("addSegmentsNode", &addSegmentsNode)
        .def("addShellNode", &addShellNode)
        .def("addConnector", &addConnector)
        .def("addOmniLight", [](Model& self, const OmniLight& light) { self.addLight(light); })
        .def("addSpotLight", [](Model& self, const SpotLight& light) { self.addLight(light); });
}

}  // namespace pytav
