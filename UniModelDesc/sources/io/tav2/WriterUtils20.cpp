#include "io/tav2/WriterUtils20.h"

#include <limits>

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

const NodePtr& copyOf(const NodeCopies& copies, const Node* source) {
    const auto found = copies.find(source);
    if (found == copies.end()) QZ_THROW("Unknown node.");
    return found->second;
}

std::vector<ConnectorEntry20> mapConnectors(const RootNode& root, const NodeCopies& copies) {
    std::vector<ConnectorEntry20> entries;
    entries.reserve(root.getConnectors().size());
    for (const Ptr<Connector>& connector : root.getConnectors()) {
        if (!connector) QZ_THROW("Null connector in the connector list of the root node.");
        const NodePtr parent = connector->getParent(0);
        if (!parent) QZ_THROW(fmt::format("Connector '{}' has no parent.", connector->getName()));
        const Node* visibility =
            Node::walkUp(static_cast<const Node*>(parent.get()), [](const Node* n) { return !isVisibilityNode(n); });
        if (isLod(parent.get())) QZ_THROW("Remove connectors from lods.");
        if (isLod(visibility)) QZ_THROW("Remove connectors from lods.");
        ConnectorEntry20 entry;
        entry.connector = connector.get();
        entry.transformSide = copyOf(copies, parent.get());
        if (visibility) entry.visibilitySide = copyOf(copies, visibility);
        entries.push_back(std::move(entry));
    }
    return entries;
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
    PreparedTrees20 trees;
    NodeCopies copies;
    trees.transformTop = copyTree(root.getTopNode().get(), &copies);
    trees.visibilityRoot = newPlainNode();
    trees.connectors = mapConnectors(root, copies);

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
    index_.reserve(list.size());
    for (std::size_t i = 0; i < list.size(); ++i) index_.emplace(list[i].get(), static_cast<std::uint32_t>(i));
}

std::uint32_t NodeIndex20::indexOf(const Node* node) const {
    const auto found = index_.find(node);
    if (found == index_.end()) QZ_THROW("Unknown node.");
    return found->second;
}

}  // namespace model
