#pragma once
// model::utils::removeDummyNodes: removes plain group nodes.
//
// Contract: collects, in pre-order from top, every node of class Node
// exactly (subclasses do not count) whose parent does not protect its
// children. For each in order, the base nodes hanging off it are re-pointed
// to its parent (helpers.replaceParent) and it is removed with removeNode(),
// its children taking its place. Returns the number collected. The top node
// has no parent and stays.

#include <cstdint>

#include "Node.h"
#include "utils/NodeHelpers.h"
#include "utils/PreOrder.h"

namespace model::utils {

std::uint64_t removeDummyNodes(const Ptr<Node>& top, const NodeHelpers& helpers);

// The same on the nodes of `order` (the tree below its top), which a call
// that returns leaves describing the tree as the pass left it.
std::uint64_t removeDummyNodes(PreOrder& order, const NodeHelpers& helpers);

}  // namespace model::utils
