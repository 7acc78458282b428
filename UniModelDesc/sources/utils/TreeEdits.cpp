#include "utils/TreeEdits.h"

#include "qz/ExtException.h"
#include "utils/AttachmentIndex.h"

namespace model::utils {

namespace {

std::function<void(const Ptr<Node>&)> keepRemoved(RemovedList& removed) {
    return [&removed](const Ptr<Node>& node) {
        // The parent's reference moves to the list: no count changes.
        Ptr<Node> held = node->detachTaking();
        removed.push_back(held ? std::move(held) : node);
    };
}

}  // namespace

NodeHelpers bindNodeHelpers(RootNode& root, RemovedList& removed) {
    NodeHelpers helpers;
    helpers.onRemove = keepRemoved(removed);
    helpers.replaceParent = [&root](const Node* oldNode, const Ptr<Node>& newNode) {
        return root.replaceParent(oldNode, newNode);
    };
    helpers.setTopNode = [&root](const Ptr<Node>& node) { root.setTopNode(node); };
    helpers.hasAttached = [&root](const Node* node) { return root.hasAttached(node); };
    helpers.getAttached = [&root](const Node* node) { return root.getAttached(node); };
    helpers.setParent = [](BaseNode& base, std::size_t index, const Ptr<Node>& node) { base.setParent(index, node); };
    return helpers;
}

NodeHelpers bindNodeHelpers(RootNode& root, AttachmentIndex& index, RemovedList& removed) {
    NodeHelpers helpers;
    helpers.onRemove = keepRemoved(removed);
    helpers.replaceParent = [&index](const Node* oldNode, const Ptr<Node>& newNode) {
        return index.replaceParent(oldNode, newNode);
    };
    helpers.setTopNode = [&root](const Ptr<Node>& node) { root.setTopNode(node); };
    helpers.hasAttached = [&index](const Node* node) { return index.hasAttached(node); };
    helpers.getAttached = [&index](const Node* node) { return index.getAttached(node); };
    helpers.setParent = [&index](BaseNode& base, std::size_t i, const Ptr<Node>& node) {
        index.setParent(base, i, node);
    };
    return helpers;
}

bool removeNode(const NodeHelpers& helpers, const Ptr<Node>& node) {
    if (!node) return false;
    Node* parent = node->parentNode();
    if (!parent) return false;
    while (Node* child = node->firstChildNode()) parent->insertChildBefore(Ptr<Node>(child), node);
    helpers.onRemove(node);
    return true;
}

void replaceNode(const NodeHelpers& helpers, const Ptr<Node>& oldNode, const Ptr<Node>& newNode) {
    if (!oldNode || !newNode) QZ_THROW("Can't replace a node by a null node or replace a null node.");
    // Checked up front: the tree operations below would refuse such a node
    // only after the base nodes had been re-pointed to it.
    if (newNode->isSelfOrAncestor(oldNode.get())) QZ_THROW("Can't replace a node by itself or a node below it.");
    helpers.replaceParent(oldNode.get(), newNode);
    // One child at a time off the front: no list of them to allocate.
    while (Node* child = oldNode->firstChildNode()) newNode->addChild(Ptr<Node>(child));
    if (Node* parent = oldNode->parentNode())
        parent->insertChildBefore(newNode, oldNode);
    else
        helpers.setTopNode(newNode);
    helpers.onRemove(oldNode);
}

}  // namespace model::utils
