#pragma once
// model::utils::moveTransforms: pushes the matrices of transform nodes one
// step down, into geometry and into the nodes below them.
//
// Contract: collects, in pre-order from top, every TransformNode (exactly
// that class), then takes each candidate t in order, with M its matrix:
//  1. When t has no parent, or its parent protects its children, the call
//     ends: later candidates are not looked at.
//  2. Each (base node, parent index) of helpers.getAttached(t) is asked to
//     bake M into its geometry (BaseNode::transformGeometry). The first
//     acceptance puts a new plain node G (no name) into t's place and t
//     under G; every base node that accepted is re-pointed to G through
//     helpers.setParent and counts one. When any base node refused, t is
//     done.
//  3. Each child c of t, in order, by its optimiser kind: a merging node
//     (transforms, animation nodes) takes M into its own matrix
//     (mergeTransform) and moves into t's parent just before t; a node that
//     lets transforms through (plain, visibility) moves there too, and a new
//     TransformNode with t's name and M takes over c's base nodes and
//     children and goes under c; any other child stays under t. Each moved
//     child counts one.
// t itself stays; once it has neither children nor base nodes, the next
// removeDeadEnds() removes it. Returns the count.

#include <cstdint>

#include "Node.h"
#include "utils/NodeHelpers.h"
#include "utils/PreOrder.h"

namespace model::utils {

std::uint64_t moveTransforms(const Ptr<Node>& top, const NodeHelpers& helpers);

// The same on the nodes of `order` (the tree below its top), which a call
// that returns leaves describing the tree as the pass left it.
std::uint64_t moveTransforms(PreOrder& order, const NodeHelpers& helpers);

}  // namespace model::utils
