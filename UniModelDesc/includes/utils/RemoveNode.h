#pragma once
// model::utils::removeNode: takes one node out of the tree and lets its
// children take its place.
//
// Contract: when node has no parent nothing happens and the result is
// false. Otherwise every child of node, in order, moves into node's parent
// just before node; then helpers.onRemove(node) unlinks node and keeps it;
// the result is true. Base nodes hanging off node are not touched: a caller
// that wants them kept re-points them first (helpers.replaceParent).

#include "Node.h"
#include "utils/NodeHelpers.h"

namespace model::utils {

bool removeNode(const NodeHelpers& helpers, const Ptr<Node>& node);

}  // namespace model::utils
