#pragma once
// model::utils::NodeHelpers: the callbacks through which the graph passes
// reach the model that owns the tree they change, and the prefetch hints
// with which they go through their candidates.
//
// A pass never asks the root node directly: the callbacks decide where
// attachments are looked up (the root node's own scans, or an
// AttachmentIndex kept for one run) and where removed nodes go.
//
// Contract of the members (all must be set before a pass runs):
//  - onRemove(node): unlinks node from its parent, when it has one, and
//    keeps a counted reference to it until the run ends (the removed list).
//  - replaceParent(old, new): every base-node link to old now points at
//    new; true when any link changed.
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
#include <string>
#include <utility>
#include <vector>

#include "ClassRegistry.h"
#include "Node.h"
#include "nodes/RootNode.h"
#include "qz/ExtException.h"
#include "qz/Memory.h"

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

// A pass processes its candidates long after the walk that found them, so
// on a tree larger than the caches every candidate would be a miss waited
// for in turn. prefetchAhead(list, i, nodeOf), called for candidate i, asks
// early for the candidate kFar places ahead and for the neighbours of the
// one kNear places ahead (which a removal or replacement relinks), so that
// the misses of several candidates overlap. nodeOf maps a list element to
// its const Node*. Only a hint: it changes nothing.
inline void prefetchNode(const Node* n) noexcept { qz::prefetchForRead(n, 3 * 64); }

// Relinking reads and writes only the links and the reference count, which
// share a node's first line: the neighbours' other lines are not asked for.
inline void prefetchNeighbours(const Node* n) noexcept {
    for (const Node* near : {n->parentNode(), n->prevSiblingNode(), n->nextSiblingNode(), n->firstChildNode()})
        qz::prefetchForWrite(near);
}

template <class List, class NodeOf>
void prefetchAhead(const List& list, std::size_t i, NodeOf&& nodeOf) noexcept {
    constexpr std::size_t kFar = 16;
    constexpr std::size_t kNear = 8;
    if (i + kFar < list.size()) prefetchNode(nodeOf(list[i + kFar]));
    if (i + kNear < list.size()) prefetchNeighbours(nodeOf(list[i + kNear]));
}

inline const Node* nodeOf(const Ptr<Node>& node) noexcept { return node.get(); }

// True when node has a parent that lets the passes remove or move it.
inline bool isMovable(const Node& node) {
    const Node* parent = node.parentNode();
    return parent && !parent->protectsChildren();
}

}  // namespace model::utils
