#include "utils/OptimizeVertices.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <unordered_set>
#include <vector>

#include "nodes/BaseMeshRenderNode.h"
#include "nodes/ShellNode.h"
#include "nodes/ShellSkinNode.h"
#include "qz/tasks/GlobalThreadPools.h"
#include "qz/tasks/TaskGroup.h"
#include "qz/tasks/ThreadPool.h"
#include "utils/DegenerateTriangles.h"
#include "utils/MergeRenderNodes.h"
#include "utils/VertexWeld.h"
#include "utils/Workers.h"

namespace model::utils {
namespace {

// The core task system's name for the vertex pass's task groups.
constexpr const char* kVertexPassTaskGroup = "UNIMODELDESCSTATIC";

// Below this many vertices a mesh is welded by one worker: the passes of a
// shared weld would cost more in hand-overs than they save.
constexpr std::size_t kLargeMesh = std::size_t(1) << 16;

// Each object once, in list order: two tasks must never share a node.
template <class T, class List>
std::vector<T*> distinctNodes(const List& list) {
    std::vector<T*> out;
    std::unordered_set<const T*> seen;
    for (const auto& node : list) {
        T* typed = dynamic_cast<T*>(node.get());
        if (typed && seen.insert(typed).second) out.push_back(typed);
    }
    return out;
}

struct ShellGeometry {
    Vertices* vertices;
    Indices* indices;
};

ShellGeometry shellGeometry(BaseShellNode& shell) {
    if (auto* s = dynamic_cast<ShellNode*>(&shell)) return {&s->getVertices(), &s->getIndices()};
    if (auto* s = dynamic_cast<ShellSkinNode*>(&shell)) return {&s->getVertices(), &s->getIndices()};
    return {nullptr, nullptr};
}

}  // namespace

VertexPassTotals optimizeVertices(RootNode& root, float tolerance) {
    return optimizeVertices(root, tolerance, qz::globalThreadPool(qz::PoolSlot::Normal));
}

VertexPassTotals optimizeVertices(RootNode& root, float tolerance, qz::ThreadPool& pool) {
    std::atomic<std::size_t> renderWelded{0};
    std::atomic<std::size_t> renderDegenerate{0};
    const std::vector<BaseMeshRenderNode*> meshes = distinctNodes<BaseMeshRenderNode>(root.getRenderNodes());
    auto tidy = [&](std::size_t k, const Workers& workers) {
        BaseMeshRenderNode& mesh = *meshes[k];
        const std::size_t scans = mesh.getNumParents();
        // The weld leaves the vertex data as it was or shortens its lists,
        // so the boxes are read again only when it removed vertices:
        // reading them costs a pass over every position.
        mesh.editAttributes([&](Vertices& vertices, Indices& indices) {
            renderWelded += weldVertices(vertices, indices, tolerance, workers);
            // The weld refuses an index past the vertices before it changes
            // anything, so the list needs no second check.
            if (indices.primitiveKind == primitive_kind::kTriangleList)
                renderDegenerate +=
                    removeDegenerateTriangles(vertices, indices.indices, scans, workers, IndicesInRange{});
        });
    };
    // A mesh that holds a large share of all vertices would keep one worker
    // busy while the others wait: it is welded by all of them, on this
    // thread, while the other meshes run as tasks of their own.
    std::vector<std::size_t> large, small;
    std::size_t total = 0;
    for (const BaseMeshRenderNode* mesh : meshes) total += mesh->getVertices().vertexCount();
    for (std::size_t k = 0; k < meshes.size(); ++k) {
        const std::size_t count = meshes[k]->getVertices().vertexCount();
        const bool isLarge = pool.threadCount() > 1 && count >= kLargeMesh && count * 2 * pool.threadCount() >= total;
        (isLarge ? large : small).push_back(k);
    }
    std::vector<std::exception_ptr> errors(meshes.size());
    {
        const Workers one;
        const auto group = qz::TaskGroup::create(kVertexPassTaskGroup);
        try {
            for (std::size_t k : small)
                pool.submit(group, [&, k] {
                    try {
                        tidy(k, one);
                    } catch (...) {
                        errors[k] = std::current_exception();
                    }
                });
        } catch (...) {
            // The queued tasks refer to this frame.
            group->wait();
            throw;
        }
        const Workers all(pool);
        for (std::size_t k : large) {
            try {
                tidy(k, all);
            } catch (...) {
                errors[k] = std::current_exception();
            }
        }
        group->wait();
    }
    for (const std::exception_ptr& e : errors)
        if (e) std::rethrow_exception(e);
    removeEmptyRenderNodes(root);

    std::atomic<std::size_t> shellWelded{0};
    std::atomic<std::size_t> shellTriangles{0};
    std::vector<ShellGeometry> shells;
    for (BaseShellNode* shell : distinctNodes<BaseShellNode>(root.getShellNodes())) {
        const ShellGeometry g = shellGeometry(*shell);
        if (g.vertices) shells.push_back(g);
    }
    Workers(pool).forEachTask(shells.size(), [&](std::size_t k) {
        shellWelded += weldVertices(*shells[k].vertices, *shells[k].indices, tolerance);
        shellTriangles += shells[k].indices->indices.size() / 3;
    });
    auto& shellList = root.getShellNodes();
    shellList.erase(std::remove_if(shellList.begin(), shellList.end(),
                                   [](const Ptr<BaseShellNode>& s) { return s && s->isEmpty(); }),
                    shellList.end());

    return {renderWelded + shellWelded, renderDegenerate + shellTriangles};
}

}  // namespace model::utils
