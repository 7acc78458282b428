#pragma once
// model::utils::optimizeVertices: the parallel vertex pass of a save. Welds
// the vertices of every mesh render node and shell, drops degenerate
// triangles, then the nodes left without geometry.
//
// Contract:
//  - Render nodes: one task per mesh render node of the root node's list
//    (a node listed twice is processed once) in a task group named
//    "UNIMODELDESCSTATIC" on `pool`; the call waits for all of them. Each
//    task changes its own node only: weldVertices (utils/VertexWeld.h) with
//    `tolerance`, then, for triangle lists (primitive kind 5),
//    removeDegenerateTriangles with one scan per parent of the node. Then
//    the mesh render nodes without primitives and the fake light sets
//    without lights leave the list (removeEmptyRenderNodes).
//  - Shells: one task per ShellNode and ShellSkinNode of the shell list,
//    welded the same way; then every shell node whose isEmpty() holds
//    leaves the list.
//  - Returns the totals over render nodes and shells: vertices removed by
//    welding, and (render nodes) triangles removed as degenerate plus
//    (shells) the triangles each shell holds after welding.
//  - The result is the same whatever the number of workers and whatever
//    order the tasks finish in.
//  - Errors: when tasks fail, the error of the first failing node in list
//    order is rethrown after all tasks have ended (the other nodes keep
//    their results). The overload without a pool uses the global pool
//    (qz::ExtException when the global pools don't exist).

#include <cstddef>

#include "nodes/RootNode.h"

namespace qz {
class ThreadPool;
}

namespace model::utils {

struct VertexPassTotals {
    // Vertices removed by welding, over render nodes and shells.
    std::size_t weldedVertices = 0;
    // Degenerate triangles removed from render nodes plus the triangles the
    // shells hold after welding.
    std::size_t degenerateAndShellTriangles = 0;
};

VertexPassTotals optimizeVertices(RootNode& root, float tolerance);
VertexPassTotals optimizeVertices(RootNode& root, float tolerance, qz::ThreadPool& pool);

}  // namespace model::utils
