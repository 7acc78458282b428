// Model.save: the steps between a script's model and its file.

#include "SaveSequence.h"

#include <algorithm>

#include <pybind11/pybind11.h>

#include "BaseMaterial.h"
#include "utils/FiniteModel.h"
#include "VertexFormat.h"
#include "nodes/BaseMeshRenderNode.h"
#include "nodes/LightNode.h"
#include "nodes/SkinNode.h"
#include "qz/ExtException.h"
#include "qz/tasks/GlobalThreadPools.h"
#include "utils/CompactTextureChannels.h"
#include "utils/MergeEqualMaterials.h"
#include "utils/MergeRenderNodes.h"
#include "utils/OptimizeVertices.h"
#include "utils/NumberNodeConverter.h"
#include "utils/OptimizeTransformations.h"

namespace pytav {

namespace {

// Shorter normals than this can't be normalised reliably by the renderer.
constexpr float kMinNormalLengthSquared = 0.0001f;

bool hasZeroNormal(const model::Vertices& vertices) {
    const model::VertexAttribute* normals = vertices.findAttribute(model::NORMAL0);
    if (!normals || normals->components != 3) return false;
    const std::vector<float>& d = normals->data;
    for (std::size_t i = 0; i + 3 <= d.size(); i += 3)
        if (d[i] * d[i] + d[i + 1] * d[i + 1] + d[i + 2] * d[i + 2] < kMinNormalLengthSquared) return true;
    return false;
}

}  // namespace

void checkZeroNormals(const model::RootNode& root) {
    std::string names;
    for (const auto& node : root.getRenderNodes()) {
        const auto* mesh = dynamic_cast<const model::BaseMeshRenderNode*>(node.get());
        if (!mesh || !hasZeroNormal(mesh->getVertices())) continue;
        if (!names.empty()) names += ", ";
        names += mesh->getName();
    }
    if (!names.empty()) QZ_THROW("Nodes having zero normals: " + names);
}

void checkBonesBoundingBox(const model::RootNode& root) {
    if (root.getBoundingBox().isValid()) return;
    for (const auto& node : root.getRenderNodes())
        if (dynamic_cast<const model::SkinNode*>(node.get()))
            QZ_THROW("if the model has bones, then you need to set a bounding box.");
}

void completeBoxes(model::RootNode& root) {
    if (!root.getBoundingBox().isValid()) root.calcBoundingBox();
    if (!root.getUserBox().isValid()) root.setUserBox(root.getBoundingBox());
    if (root.getLights().empty())
        root.setLightBox(model::BoundingBox::empty());
    else if (!root.getLightBox().isValid())
        root.calcLightBox();
}

std::string saveModel(model::RootNode& root, const std::string& path, std::uint32_t version) {
    try {
        root.prepareMeshes();
        checkZeroNormals(root);

        // The geometry passes spread their work over the global pools; a
        // script that never called init still gets its file.
        if (!qz::globalThreadPoolsExist()) qz::createGlobalThreadPools();
        const model::utils::Workers workers(qz::globalThreadPool(qz::PoolSlot::Normal));

        model::optimizeTransformations(root, workers);

        model::utils::mergeEqualMaterials(root);

        model::numberNodeConverter(root);

        model::utils::compactTextureChannels(root);
        model::utils::mergeRenderNodes(root, workers);
        model::utils::optimizeVertices(root, 1e-5f);

        checkBonesBoundingBox(root);
        completeBoxes(root);
        // The folding, baking and boxes above compute new numbers; only a
        // model of finite numbers is written.
        model::utils::checkFiniteModel(root);
        const model::RootNode::FileImage image = root.image(static_cast<std::uint16_t>(version));
        // The finished bytes go out without the interpreter lock: the reader
        // of a FIFO or socket may be another thread of this process, and no
        // thread need wait for a disk. The model is not touched any more.
        pybind11::gil_scoped_release unlocked;
        model::RootNode::writeImage(path, image);
    } catch (const qz::ExtException& e) {
        return e.message();
    }
    return std::string();
}

}  // namespace pytav
