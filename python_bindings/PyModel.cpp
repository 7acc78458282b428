// The Python class Model.

#include "PyModel.h"

#include <algorithm>
#include <memory>
#include <string_view>

#include <fmt/format.h>

#include "ScriptTypeNames.h"

#include "Bindings.h"
#include "FiniteArguments.h"
#include "utils/FiniteVertexData.h"
#include "ClassRegistry.h"
#include "PyConnector.h"
#include "PyShells.h"
#include "qz/Log.h"
#include "SaveSequence.h"

namespace py = pybind11;

namespace pytav {

namespace {

model::BoundingBox toBox(const BoxValues& v, std::string_view what) {
    const auto& [minX, minY, minZ, maxX, maxY, maxZ] = v;
    requireFinite(allFinite(minX, minY, minZ, maxX, maxY, maxZ), what);
    return model::BoundingBox::fromValues(minX, minY, minZ, maxX, maxY, maxZ);
}

}  // namespace

Model::Model() : root_(model::ClassRegistry::make<model::RootNode>("model::RootNode")) {
    rootTransformObject_ = py::cast(std::make_unique<Node>("root"));
    rootTransform_ = rootTransformObject_.cast<Node*>();
    root_->setTopNode(rootTransform_->getModelNode());
}

Model::~Model() = default;

void Model::setBBox(const BoxValues& box) { root_->setBoundingBox(toBox(box, "Bounding box")); }
void Model::setUserBox(const BoxValues& box) { root_->setUserBox(toBox(box, "User box")); }
void Model::setLightBox(const BoxValues& box) { root_->setLightBox(toBox(box, "Light box")); }

std::string Model::save(const SavePath& path, std::uint32_t version) {
    if (std::string message = failedShellsMessage(); !message.empty()) return message;
    return saveModel(*root_, path.text, version);
}

void Model::addShellNode(IShellNode& shell) {
    const std::string message = shell.build();
    const model::Ptr<model::ShellNode> node = shell.getModelNode();
    // The latest build of a shell is the one that counts: a shell mended and
    // added again is no longer missing from the file.
    std::erase_if(failedShells_, [&node](const FailedShell& failed) { return failed.node == node; });
    if (!message.empty()) {
        qz::logText("PYTAV", qz::LOG_WARNING, shell.getNodeName() + ": " + message);
        failedShells_.push_back({node, shell.getNodeName(), message});
    }
    root_->addShellNode(node);
}

std::string Model::failedShellsMessage() const {
    std::string text;
    for (const FailedShell& failed : failedShells_) {
        if (!text.empty()) text += ' ';
        text += fmt::format("Shell '{}': {}", failed.name, failed.message);
    }
    return text;
}

std::string Model::addRenderNode(IRenderNode& node) {
    std::string message = node.build();
    if (message.empty()) {
        const model::Ptr<model::BaseRenderNode> built = node.getModelNode();
        if (built && !model::utils::hasFiniteVertexData(*built))
            message = model::utils::nonFiniteVertexDataMessage(node.getNodeName());
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

void addConnector(Model& self, const Connector& connector) { self.getRoot().addConnector(connector.getModelNode()); }

}  // namespace

// --- Python class ------------------------------------------------------

void declareModel(py::module_& m) { py::class_<Model>(m, "Model"); }

void bindModel(py::module_& m) {
    py::class_<Model>(m.attr("Model"))
        .def(py::init<>(), "An empty model whose root transform is named root.")
        .def("getRootTransform", &Model::getRootTransform, py::return_value_policy::reference,
             "The root transform, below which the whole model hangs.")
        .def("setBBox", &Model::setBBox, py::arg("box"),
             "Sets the bounding box from (min x, min y, min z, max x, max y, max z).")
        .def("setUserBox", &Model::setUserBox, py::arg("box"),
             "Sets the user box from (min x, min y, min z, max x, max y, max z).")
        .def("setLightBox", &Model::setLightBox, py::arg("box"),
             "Sets the light box from (min x, min y, min z, max x, max y, max z).")
        // The message may name the path: given back as os.fsdecode would.
        .def(
            "save",
            [](Model& self, const SavePath& path, std::uint32_t version) { return pathText(self.save(path, version)); },
            py::arg("path"), py::arg("version"),
            "Checks, optimises and writes the model in the given format; returns '' or the failure.")
        .def("addRenderNode", &Model::addRenderNode, py::arg("node"),
             "Builds the render node and adds it; returns '' or why it was left out.")
        .def("addSegmentsNode", &addSegmentsNode, py::arg("segments"), "Adds a set of segments to the model.")
        .def("addShellNode", [](Model& self, ShellNode& shell) { self.addShellNode(shell); }, py::arg("shell"),
             "Builds the shell and adds it; a failed build is reported by save.")
        .def("addConnector", &addConnector, py::arg("connector"), "Adds a connector to the model.")
        .def("addOmniLight", [](Model& self, const OmniLight& light) { self.addLight(light); }, py::arg("light"),
             "Adds an omni light to the model.")
        .def("addSpotLight", [](Model& self, const SpotLight& light) { self.addLight(light); }, py::arg("light"),
             "Adds a spot light to the model.");
}

}  // namespace pytav
