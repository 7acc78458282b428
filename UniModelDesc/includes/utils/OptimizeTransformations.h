#pragma once
// model::optimizeTransformations: makes the transform tree of a model as
// small as the optimisation rules allow, in place.
//
// Contract:
//  - Runs iterations of replaceEmptyNodes, removeDummyNodes, removeDeadEnds
//    and moveTransforms on the root node's top node as it is when the
//    iteration starts. When removeDeadEnds removed anything, it runs again
//    after moveTransforms until a call removes nothing. The iterations stop
//    after the first one in which no pass changed anything. Returns the
//    number of iterations (0 when the root node has no top node).
//  - Attachment queries are answered from an AttachmentIndex built from the
//    root node's base nodes before the first iteration; all link changes of
//    the run go through it.
//  - Every node taken out of the tree is renamed "_DELETED_" at the end,
//    also when a pass failed half-way (the exception then passes on). Base
//    nodes are re-pointed before the tree node they hang off is removed.
//  - utils::iteratePasses(root, helpers) is the iteration alone with any
//    helpers: no index, no renaming.

#include <cstddef>

#include "nodes/RootNode.h"
#include "utils/NodeHelpers.h"

namespace model {

std::size_t optimizeTransformations(RootNode& root);

namespace utils {

inline constexpr const char* kDeletedNodeName = "_DELETED_";

std::size_t iteratePasses(RootNode& root, const NodeHelpers& helpers);

}  // namespace utils

}  // namespace model
