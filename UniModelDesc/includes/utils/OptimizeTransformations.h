#pragma once
// model::optimizeTransformations and its passes: makes the transform tree of
// a model as small as the optimisation rules allow, in place.
//
// Every pass collects its candidates first, in depth-first pre-order from
// the top, then processes them in that order, and returns the number of
// changes it made. The tree edits they share are in utils/TreeEdits.h; the
// pre-order list they share, with the cache measures, in utils/PreOrder.h.
// The passes below stand in the order an iteration runs them.
//
// Contract of the run:
//  - optimizeTransformations(root) runs iterations of replaceEmptyNodes,
//    removeDummyNodes, removeDeadEnds and moveTransforms on the root node's
//    top node as it is when the iteration starts. When removeDeadEnds
//    removed anything, it runs again after moveTransforms until a call
//    removes nothing. The iterations stop after the first one in which no
//    pass changed anything. Returns the number of iterations (0 when the
//    root node has no top node).
//  - Attachment queries are answered from an AttachmentIndex built from the
//    root node's base nodes before the first iteration; all link changes of
//    the run go through it.
//  - Every node taken out of the tree is renamed "_DELETED_" at the end,
//    also when a pass failed half-way (the exception then passes on). Base
//    nodes are re-pointed before the tree node they hang off is removed.
//  - utils::iteratePasses(root, helpers) is the iteration alone with any
//    helpers: no index, no renaming.
//  - With `workers`, moveTransforms bakes the geometry of different base
//    nodes on their pool (see utils/Workers.h: not from one of its tasks);
//    the result is the same as on one thread.
//
// Each pass has two forms: on a tree given by its top (walked afresh), and
// on a PreOrder list of the tree below its top, which a call that returns
// leaves describing the tree as the pass left it.

#include <cstddef>
#include <cstdint>

#include "Node.h"
#include "nodes/RootNode.h"
#include "utils/PreOrder.h"
#include "utils/TreeEdits.h"
#include "utils/Workers.h"

namespace model {

std::size_t optimizeTransformations(RootNode& root, const utils::Workers& workers = utils::Workers());

namespace utils {

inline constexpr const char* kDeletedNodeName = "_DELETED_";

std::size_t iteratePasses(RootNode& root, const NodeHelpers& helpers, const Workers& workers = Workers());

// 1. replaceEmptyNodes: replaces tree nodes that have no effect of their
// own by simpler nodes of the same name. Collects (replacement, node) pairs
// for
//  - a TransformNode (exactly that class) whose matrix is the identity
//    within kIdentityTolerance: a plain Node;
//  - an ArgVisibilityNode without entries, or whose entries all have no
//    ranges: a plain Node;
//  - an ArgAnimationNode (not a bone) without any key: a plain Node when its
//    matrix with every argument at 0 is the identity, else a TransformNode
//    holding that matrix;
//  - an ArgAnimatedBone without any key: a Bone whose matrix is the animated
//    bone's matrix with every argument at 0 and whose bone matrix is a copy
//    of the animated bone's;
// then replaceNode()s each pair in that order. Returns the number of pairs.
// Only the name travels to the replacement. The top node may be replaced;
// the model's top node then changes through helpers.setTopNode.
std::uint64_t replaceEmptyNodes(const Ptr<Node>& top, const NodeHelpers& helpers);
std::uint64_t replaceEmptyNodes(PreOrder& order, const NodeHelpers& helpers);

// 2. removeDummyNodes: removes plain group nodes. Collects every node of
// class Node exactly (subclasses do not count) whose parent does not
// protect its children. For each in order, the base nodes hanging off it
// are re-pointed to its parent (helpers.replaceParent) and it is removed
// with removeNode(), its children taking its place. Returns the number
// collected. The top node has no parent and stays.
std::uint64_t removeDummyNodes(const Ptr<Node>& top, const NodeHelpers& helpers);
std::uint64_t removeDummyNodes(PreOrder& order, const NodeHelpers& helpers);

// 3. removeDeadEnds: removes leaves that carry nothing. Collects every node
// that has a parent which does not protect its children, has no children
// and has no base node hanging off it (helpers.hasAttached); removes each
// in order with removeNode(). Returns the number collected. Leaves that
// become dead ends because of this call are left for the next call.
std::uint64_t removeDeadEnds(const Ptr<Node>& top, const NodeHelpers& helpers);
std::uint64_t removeDeadEnds(PreOrder& order, const NodeHelpers& helpers);

// 4. moveTransforms: pushes the matrices of transform nodes one step down,
// into geometry and into the nodes below them. Collects every TransformNode
// (exactly that class), then takes each candidate t in order, with M its
// matrix:
//  a. When t has no parent, or its parent protects its children, the call
//     ends: later candidates are not looked at.
//  b. Each (base node, parent index) of helpers.getAttached(t) is asked
//     whether it bakes M into its geometry (takesGeometryTransform). The
//     first acceptance puts a new plain node G (no name) into t's place and
//     t under G; every base node that accepted is re-pointed to G through
//     helpers.setParent and counts one. When any base node refused, t is
//     done. The matrices themselves are baked (transformGeometry) once all
//     candidates are done, each base node's in the order they were
//     accepted.
//  c. Each child c of t, in order, by its optimiser kind: a merging node
//     (transforms, animation nodes) takes M into its own matrix
//     (mergeTransform) and moves into t's parent just before t; a node that
//     lets transforms through (plain, visibility) moves there too, and a new
//     TransformNode with t's name and M takes over c's base nodes and
//     children and goes under c; any other child stays under t. Each moved
//     child counts one.
// t itself stays; once it has neither children nor base nodes, the next
// removeDeadEnds() removes it. Returns the count.
std::uint64_t moveTransforms(const Ptr<Node>& top, const NodeHelpers& helpers, const Workers& workers = Workers());
std::uint64_t moveTransforms(PreOrder& order, const NodeHelpers& helpers, const Workers& workers = Workers());

}  // namespace utils

}  // namespace model
