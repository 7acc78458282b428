#pragma once
// model::utils::replaceNode: puts a new node in the place of an old one.
//
// Contract: helpers.replaceParent(old, new) first, so base nodes hang off
// new; then every child of old, in order, is appended to new's children;
// when old has no parent new becomes the top node (helpers.setTopNode),
// otherwise new goes into old's parent just before old; last,
// helpers.onRemove(old). new must be a node outside old's subtree and not
// old itself (qz::ExtException otherwise, before anything changes); null
// nodes raise qz::ExtException as well.

#include "Node.h"
#include "utils/NodeHelpers.h"

namespace model::utils {

void replaceNode(const NodeHelpers& helpers, const Ptr<Node>& oldNode, const Ptr<Node>& newNode);

}  // namespace model::utils
