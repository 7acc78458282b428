// Model.save: the steps between a script's model and its file.

#include "SaveSequence.h"

#include <algorithm>
#include <vector>

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

// Normals are checked a chunk at a time: a large mesh's by every worker, and
// many small meshes by one worker each without a task per mesh.
constexpr std::size_t kNormalChunk = std::size_t(3) << 16;  // floats

// Whether one of the `count` normals at d is too short. Counted without a
// branch per normal, so the compiler can check several at once.
bool hasZeroNormal(const float* d, std::size_t count) {
    std::size_t shorter = 0;
    for (std::size_t i = 0; i < 3 * count; i += 3)
        shorter += d[i] * d[i] + d[i + 1] * d[i + 1] + d[i + 2] * d[i + 2] < kMinNormalLengthSquared;
    return shorter != 0;
}

}  // namespace

void checkZeroNormals(const model::RootNode& root, const model::utils::Workers& workers) {
    struct Chunk {
        std::size_t node;  // in the render-node list
        const float* normals;
        std::size_t count;
    };
    const auto& nodes = root.getRenderNodes();
    std::vector<Chunk> chunks;
    for (std::size_t k = 0; k < nodes.size(); ++k) {
        const auto* mesh = dynamic_cast<const model::BaseMeshRenderNode*>(nodes[k].get());
        const model::VertexAttribute* normals = mesh ? mesh->getVertices().findAttribute(model::NORMAL0) : nullptr;
        if (!normals || normals->components != 3) continue;
        const std::size_t floats = normals->data.size() / 3 * 3;
        for (std::size_t at = 0; at < floats; at += kNormalChunk)
            chunks.push_back({k, normals->data.data() + at, std::min(kNormalChunk, floats - at) / 3});
    }
    std::vector<std::uint8_t> zero(chunks.size(), 0);
    workers.forEachItem(chunks.size(), [&](std::size_t c) { zero[c] = hasZeroNormal(chunks[c].normals, chunks[c].count); });
    std::vector<bool> named(nodes.size(), false);
    for (std::size_t c = 0; c < chunks.size(); ++c)
        if (zero[c]) named[chunks[c].node] = true;
    std::string names;
    for (std::size_t k = 0; k < nodes.size(); ++k) {
        if (!named[k]) continue;
        if (!names.empty()) names += ", ";
        names += nodes[k]->getName();
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
        // The passes spread their work over the global pools; a script that
        // never called init still gets its file.
        if (!qz::globalThreadPoolsExist()) qz::createGlobalThreadPools();
        const model::utils::Workers workers(qz::globalThreadPool(qz::PoolSlot::Normal));

        root.prepareMeshes();
        checkZeroNormals(root, workers);

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
        model::utils::checkFiniteModel(root, workers);
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
