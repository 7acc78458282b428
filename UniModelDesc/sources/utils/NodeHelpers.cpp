#include "utils/NodeHelpers.h"

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

}  // namespace model::utils
