#pragma once
// model::utils::removeDeadEnds: removes leaves that carry nothing.
//
// Contract: collects, in pre-order from top, every node that has a parent
// which does not protect its children, has no children and has no base
// node hanging off it (helpers.hasAttached); removes each in order with
// removeNode(). Returns the number collected. Leaves that become dead ends
// because of this call are left for the next call.

#include <cstdint>

#include "Node.h"
#include "utils/NodeHelpers.h"
#include "utils/PreOrder.h"

namespace model::utils {

std::uint64_t removeDeadEnds(const Ptr<Node>& top, const NodeHelpers& helpers);

// The same on the nodes of `order` (the tree below its top), which a call
// that returns leaves describing the tree as the pass left it.
std::uint64_t removeDeadEnds(PreOrder& order, const NodeHelpers& helpers);

}  // namespace model::utils
