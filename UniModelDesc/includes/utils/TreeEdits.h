#pragma once
// model::utils::TreeEdits: the callbacks through which the graph passes
// reach the model that owns the tree they change (NodeHelpers), and the two
// tree edits the passes share (removeNode, replaceNode).
//
// A pass never asks the root node directly: the callbacks decide where
// attachments are looked up (the root node's own scans, or an
// AttachmentIndex kept for one run) and where removed nodes go.
//
// Contract of the NodeHelpers members (all must be set before a pass runs):
//  - onRemove(node): unlinks node from its parent, when it has one, and
//    keeps a counted reference to it until the run ends (the removed list).
//  - replaceParent(old, new): every base-node link to old points at new
//    afterwards; true when any link changed.
//  - setTopNode(node): node becomes the model's top node.
//  - hasAttached(node): some base node has node as a parent.
//  - getAttached(node): every (base node, parent index) whose parent is
//    node, in the root node's getAllBaseNodes order, then parent order.
//  - setParent(base, index, node): sets one parent link of a base node; the
//    passes change single links only through it, so that whoever answers
//    the attachment queries sees every change.
//
// bindNodeHelpers(root, removed) answers from the root node's own scans
// (each query walks every base node); bindNodeHelpers(root, index, removed)
// answers from an index built from that root beforehand. Both append to
// `removed`, which must outlive the helpers, and hold references to root
// and index, which must too.

#include <cstddef>
#include <functional>
#include <vector>

#include "Node.h"
#include "nodes/RootNode.h"

namespace model::utils {

class AttachmentIndex;

using RemovedList = std::vector<Ptr<Node>>;

struct NodeHelpers {
    std::function<void(const Ptr<Node>& node)> onRemove;
    std::function<bool(const Node* oldNode, const Ptr<Node>& newNode)> replaceParent;
    std::function<void(const Ptr<Node>& node)> setTopNode;
    std::function<bool(const Node* node)> hasAttached;
    std::function<AttachedList(const Node* node)> getAttached;
    std::function<void(BaseNode& base, std::size_t index, const Ptr<Node>& node)> setParent;
};

NodeHelpers bindNodeHelpers(RootNode& root, RemovedList& removed);
NodeHelpers bindNodeHelpers(RootNode& root, AttachmentIndex& index, RemovedList& removed);

// True when node has a parent that lets the passes remove or move it.
inline bool isMovable(const Node& node) {
    const Node* parent = node.parentNode();
    return parent && !parent->protectsChildren();
}

// Takes one node out of the tree and lets its children take its place.
// When node is null or has no parent nothing happens and the result is
// false. Otherwise every child of node, in order, moves into node's parent
// just before node; then helpers.onRemove(node) unlinks node and keeps it;
// the result is true. Base nodes hanging off node are not touched: a caller
// that wants them kept re-points them first (helpers.replaceParent).
bool removeNode(const NodeHelpers& helpers, const Ptr<Node>& node);

// Puts a new node in the place of an old one: helpers.replaceParent(old,
// new) first, so base nodes hang off new; then every child of old, in
// order, is appended to new's children; when old has no parent new becomes
// the top node (helpers.setTopNode), otherwise new goes into old's parent
// just before old; last, helpers.onRemove(old). new must be a node outside
// old's subtree and not old itself (qz::ExtException otherwise, before
// anything changes); null nodes raise qz::ExtException as well.
void replaceNode(const NodeHelpers& helpers, const Ptr<Node>& oldNode, const Ptr<Node>& newNode);

}  // namespace model::utils
