#include "io/tav2/WriterUtils20.h"

#include <bit>
#include <limits>
#include <unordered_map>

#include <fmt/format.h>

#include "ClassRegistry.h"
#include "nodes/ArgVisibilityNode.h"
#include "nodes/Connector.h"
#include "nodes/RootNode.h"
#include "qz/ExtException.h"

namespace model {

namespace {

NodePtr newPlainNode() {
    NodePtr node = ClassRegistry::instance().createAs<Node>(getNodeTypeName(NodeType::Node));
    if (!node) QZ_THROW("Can't create a plain node.");
    return node;
}

bool isVisibilityNode(const Node* node) { return dynamic_cast<const ArgVisibilityNode*>(node) != nullptr; }

bool isLod(const Node* node) { return node && node->getType() == NodeType::LodNode; }

// The attachment nodes of every connector, in the root's list order: its
// parent, and the nearest visibility node from there up (null for none).
struct Attachment {
    const Connector* connector;
    const Node* parent;
    const Node* visibility;
};

std::vector<Attachment> findAttachments(const RootNode& root) {
    std::vector<Attachment> found;
    found.reserve(root.getConnectors().size());
    for (const Ptr<Connector>& connector : root.getConnectors()) {
        if (!connector) QZ_THROW("Null connector in the connector list of the root node.");
        const NodePtr parent = connector->getParent(0);
        if (!parent) QZ_THROW(fmt::format("Connector '{}' has no parent.", connector->getName()));
        const Node* visibility =
            Node::walkUp(static_cast<const Node*>(parent.get()), [](const Node* n) { return !isVisibilityNode(n); });
        if (isLod(parent.get())) QZ_THROW("Remove connectors from lods.");
        if (isLod(visibility)) QZ_THROW("Remove connectors from lods.");
        found.push_back({connector.get(), parent.get(), visibility});
    }
    return found;
}

// Source -> copy for the attachment nodes only. The copy has the source's
// shape, so both trees are walked side by side; that spares a map of every
// node of the model.
std::unordered_map<const Node*, NodePtr> copiesOf(const std::vector<Attachment>& attachments, const Node* top,
                                                  const NodePtr& copy) {
    std::unordered_map<const Node*, NodePtr> copies;
    for (const Attachment& a : attachments) {
        copies.emplace(a.parent, NodePtr());
        if (a.visibility) copies.emplace(a.visibility, NodePtr());
    }
    if (copies.empty() || !top) return copies;
    std::vector<std::pair<const Node*, Node*>> pending{{top, copy.get()}};
    while (!pending.empty()) {
        const auto [source, copied] = pending.back();
        pending.pop_back();
        if (const auto wanted = copies.find(source); wanted != copies.end()) wanted->second = NodePtr(copied);
        Node* c = copied->firstChildNode();
        for (const Node* s = source->firstChildNode(); s && c; s = s->nextSiblingNode(), c = c->nextSiblingNode())
            pending.emplace_back(s, c);
    }
    return copies;
}

const NodePtr& copyOf(const std::unordered_map<const Node*, NodePtr>& copies, const Node* source) {
    const auto found = copies.find(source);
    if (found == copies.end() || !found->second) QZ_THROW("Unknown node.");
    return found->second;
}

// Moves every visibility node below top under visibilityRoot (see the header).
void splitVisibility(const NodePtr& top, const NodePtr& visibilityRoot) {
    std::vector<Node*> pending{top.get()};
    while (!pending.empty()) {
        Node* parent = pending.back();
        pending.pop_back();
        Node* child = parent->firstChildNode();
        while (child) {
            if (!isVisibilityNode(child)) {
                pending.push_back(child);
                child = child->nextSiblingNode();
                continue;
            }
            const NodePtr visibility(child);
            const std::vector<NodePtr> grandChildren = visibility->getChildren();
            for (const NodePtr& grandChild : grandChildren) parent->insertChildBefore(grandChild, visibility);
            Node* next = grandChildren.empty() ? visibility->nextSiblingNode() : grandChildren.front().get();
            visibilityRoot->addChild(visibility);
            child = next;
        }
    }
}

}  // namespace

PreparedTrees20 prepareTrees20(const RootNode& root) {
    const std::vector<Attachment> attachments = findAttachments(root);
    PreparedTrees20 trees;
    const Node* top = root.getTopNode().get();
    trees.transformTop = copyTree(top, nullptr);
    trees.visibilityRoot = newPlainNode();
    const auto copies = copiesOf(attachments, top, trees.transformTop);
    trees.connectors.reserve(attachments.size());
    for (const Attachment& a : attachments) {
        ConnectorEntry20 entry;
        entry.connector = a.connector;
        entry.transformSide = copyOf(copies, a.parent);
        if (a.visibility) entry.visibilitySide = copyOf(copies, a.visibility);
        trees.connectors.push_back(std::move(entry));
    }

    // A visibility node leaves the transform tree, so a connector hanging
    // directly from one needs a node that stays behind in its place.
    for (ConnectorEntry20& entry : trees.connectors) {
        if (entry.visibilitySide != entry.transformSide) continue;
        NodePtr stand = newPlainNode();
        entry.visibilitySide->addChild(stand);
        entry.transformSide = std::move(stand);
    }

    if (trees.transformTop) {
        if (isVisibilityNode(trees.transformTop.get())) {
            NodePtr above = newPlainNode();
            above->addChild(trees.transformTop);
            trees.transformTop = std::move(above);
        }
        splitVisibility(trees.transformTop, trees.visibilityRoot);
    }
    for (ConnectorEntry20& entry : trees.connectors)
        if (!entry.visibilitySide) entry.visibilitySide = trees.visibilityRoot;
    return trees;
}

std::vector<NodePtr> flattenTree20(const NodePtr& top, const std::unordered_set<const Node*>& first) {
    std::vector<NodePtr> leading;
    std::vector<NodePtr> rest;
    Node::traverse(static_cast<const Node*>(top.get()), [&](const Node* node) {
        (first.count(node) ? leading : rest).emplace_back(const_cast<Node*>(node));
        return true;
    });
    leading.insert(leading.end(), rest.begin(), rest.end());
    return leading;
}

NodeIndex20::NodeIndex20(const std::vector<NodePtr>& list) {
    if (list.size() > std::numeric_limits<std::uint32_t>::max())
        QZ_THROW(fmt::format("Too many nodes to write: {}.", list.size()));
    const std::size_t capacity = std::bit_ceil(2 * list.size() + 2);
    slots_.resize(capacity);
    shift_ = 64 - std::countr_zero(capacity);
    const std::size_t mask = capacity - 1;
    for (std::size_t i = 0; i < list.size(); ++i) {
        std::size_t at = home(list[i].get());
        while (slots_[at].node && slots_[at].node != list[i].get()) at = (at + 1) & mask;
        if (!slots_[at].node) slots_[at] = Slot{list[i].get(), static_cast<std::uint32_t>(i)};
    }
}

std::size_t NodeIndex20::home(const Node* node) const {
    return std::size_t((reinterpret_cast<std::uintptr_t>(node) * 0x9E3779B97F4A7C15ull) >> shift_);
}

std::uint32_t NodeIndex20::indexOf(const Node* node) const {
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t at = home(node); slots_[at].node; at = (at + 1) & mask)
        if (slots_[at].node == node) return slots_[at].index;
    QZ_THROW("Unknown node.");
}

}  // namespace model
