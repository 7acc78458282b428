#pragma once
// model::utils::replaceEmptyNodes: replaces tree nodes that have no effect
// of their own by simpler nodes of the same name.
//
// Contract: collects, in pre-order from top, (replacement, node) pairs for
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

#include <cstdint>

#include "Node.h"
#include "utils/NodeHelpers.h"
#include "utils/PreOrder.h"

namespace model::utils {

std::uint64_t replaceEmptyNodes(const Ptr<Node>& top, const NodeHelpers& helpers);

// The same on the nodes of `order` (the tree below its top), which a call
// that returns leaves describing the tree as the pass left it.
std::uint64_t replaceEmptyNodes(PreOrder& order, const NodeHelpers& helpers);

// The same, for a run that calls removeDummyNodes(order, helpers) next: a
// node whose replacement would be a plain Node that removeDummyNodes then
// collects (one whose parent does not protect its children) is taken out as
// removeDummyNodes would take out that replacement (its base nodes
// re-pointed to its parent, removeNode()), and the replacement is never
// made. The tree, the base nodes' parents and `order` end as after the two
// passes in turn. Returns the number of pairs, as above; `dropped` is set
// to the number of nodes taken out, which the following removeDummyNodes
// call does not count again.
std::uint64_t replaceEmptyNodes(PreOrder& order, const NodeHelpers& helpers, std::uint64_t& dropped);

}  // namespace model::utils
