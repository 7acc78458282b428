#include "io/tav2/WriterUtils20.h"

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

NodePtr newPlainNode() { return ClassRegistry::make<Node>(getNodeTypeName(NodeType::Node)); }

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

std::uint32_t addEntry(PreparedTrees20& trees, const Node* source) {
    if (trees.nodes.size() >= kNoNode20) QZ_THROW(fmt::format("Too many nodes to write: {}.", trees.nodes.size()));
    TreeNode20 entry;
    entry.source = source;
    entry.visibility = isVisibilityNode(source);
    trees.nodes.push_back(entry);
    return static_cast<std::uint32_t>(trees.nodes.size() - 1);
}

std::uint32_t addPlainEntry(PreparedTrees20& trees) {
    trees.added.push_back(newPlainNode());
    return addEntry(trees, trees.added.back().get());
}

void appendChild(PreparedTrees20& trees, std::uint32_t parent, std::uint32_t child) {
    TreeNode20& p = trees.nodes[parent];
    if (p.lastChild == kNoNode20)
        p.firstChild = child;
    else
        trees.nodes[p.lastChild].nextSibling = child;
    p.lastChild = child;
    ++p.childCount;
}

// Copies the shape of the tree below top; returns the top's entry and fills
// `wanted` (source -> entry) for the sources it was given.
std::uint32_t copyShape(PreparedTrees20& trees, const Node* top,
                        std::unordered_map<const Node*, std::uint32_t>& wanted) {
    const auto note = [&wanted](const Node* source, std::uint32_t entry) {
        if (wanted.empty()) return;
        if (const auto found = wanted.find(source); found != wanted.end()) found->second = entry;
    };
    const std::uint32_t result = addEntry(trees, top);
    note(top, result);
    std::vector<std::pair<const Node*, std::uint32_t>> pending{{top, result}};
    while (!pending.empty()) {
        const auto [source, entry] = pending.back();
        pending.pop_back();
        for (const Node* child = source->firstChildNode(); child; child = child->nextSiblingNode()) {
            const std::uint32_t copy = addEntry(trees, child);
            appendChild(trees, entry, copy);
            note(child, copy);
            pending.emplace_back(child, copy);
        }
    }
    return result;
}

std::uint32_t copyOf(const std::unordered_map<const Node*, std::uint32_t>& copies, const Node* source) {
    const auto found = copies.find(source);
    if (found == copies.end() || found->second == kNoNode20) QZ_THROW("Unknown node.");
    return found->second;
}

bool isVisibilityEntry(const PreparedTrees20& trees, std::uint32_t entry) { return trees.nodes[entry].visibility; }

// Moves every visibility node below top under the visibility root (see the
// header). `previous` is the last child kept before the one examined, so a
// visibility node is unlinked from its parent's list in place.
void splitVisibility(PreparedTrees20& trees, std::uint32_t top) {
    std::vector<std::uint32_t> pending{top};
    while (!pending.empty()) {
        const std::uint32_t parent = pending.back();
        pending.pop_back();
        std::uint32_t previous = kNoNode20;
        std::uint32_t child = trees.nodes[parent].firstChild;
        while (child != kNoNode20) {
            if (!isVisibilityEntry(trees, child)) {
                pending.push_back(child);
                previous = child;
                child = trees.nodes[child].nextSibling;
                continue;
            }
            TreeNode20& visibility = trees.nodes[child];
            const std::uint32_t after = visibility.nextSibling;
            const bool hasChildren = visibility.firstChild != kNoNode20;
            // Its children, or the node after it, take its place.
            const std::uint32_t first = hasChildren ? visibility.firstChild : after;
            if (hasChildren) trees.nodes[visibility.lastChild].nextSibling = after;
            TreeNode20& p = trees.nodes[parent];
            if (previous == kNoNode20)
                p.firstChild = first;
            else
                trees.nodes[previous].nextSibling = first;
            if (p.lastChild == child) p.lastChild = hasChildren ? visibility.lastChild : previous;
            p.childCount = p.childCount - 1 + visibility.childCount;
            visibility.firstChild = visibility.lastChild = visibility.nextSibling = kNoNode20;
            visibility.childCount = 0;
            appendChild(trees, trees.visibilityRoot, child);
            child = first;
        }
    }
}

}  // namespace

PreparedTrees20 prepareTrees20(const RootNode& root) {
    const std::vector<Attachment> attachments = findAttachments(root);
    PreparedTrees20 trees;
    std::unordered_map<const Node*, std::uint32_t> copies;
    for (const Attachment& a : attachments) {
        copies.emplace(a.parent, kNoNode20);
        if (a.visibility) copies.emplace(a.visibility, kNoNode20);
    }
    if (const Node* top = root.getTopNode().get()) trees.transformTop = copyShape(trees, top, copies);
    trees.visibilityRoot = addPlainEntry(trees);
    trees.connectors.reserve(attachments.size());
    for (const Attachment& a : attachments) {
        ConnectorEntry20 entry;
        entry.connector = a.connector;
        entry.transformSide = copyOf(copies, a.parent);
        if (a.visibility) entry.visibilitySide = copyOf(copies, a.visibility);
        trees.connectors.push_back(entry);
    }

    // A visibility node leaves the transform tree, so a connector hanging
    // directly from one needs a node that stays behind in its place.
    for (ConnectorEntry20& entry : trees.connectors) {
        if (entry.visibilitySide != entry.transformSide) continue;
        const std::uint32_t stand = addPlainEntry(trees);
        appendChild(trees, entry.visibilitySide, stand);
        entry.transformSide = stand;
    }

    if (trees.transformTop != kNoNode20) {
        if (isVisibilityEntry(trees, trees.transformTop)) {
            const std::uint32_t above = addPlainEntry(trees);
            appendChild(trees, above, trees.transformTop);
            trees.transformTop = above;
        }
        splitVisibility(trees, trees.transformTop);
    }
    for (ConnectorEntry20& entry : trees.connectors)
        if (entry.visibilitySide == kNoNode20) entry.visibilitySide = trees.visibilityRoot;
    return trees;
}

std::vector<std::uint32_t> flattenTree20(const PreparedTrees20& trees, std::uint32_t top,
                                         const std::vector<bool>& first) {
    std::vector<std::uint32_t> leading;
    std::vector<std::uint32_t> rest;
    if (top == kNoNode20) return rest;
    rest.reserve(trees.nodes.size());
    std::vector<std::uint32_t> pending{top};
    std::vector<std::uint32_t> children;
    while (!pending.empty()) {
        const std::uint32_t entry = pending.back();
        pending.pop_back();
        (entry < first.size() && first[entry] ? leading : rest).push_back(entry);
        // Children go on the stack last first, so they come off in order.
        children.clear();
        for (std::uint32_t c = trees.nodes[entry].firstChild; c != kNoNode20; c = trees.nodes[c].nextSibling)
            children.push_back(c);
        pending.insert(pending.end(), children.rbegin(), children.rend());
    }
    leading.insert(leading.end(), rest.begin(), rest.end());
    return leading;
}

NodeIndex20::NodeIndex20(const std::vector<std::uint32_t>& list, std::size_t entryCount)
    : positions_(entryCount, kNoNode20) {
    if (list.size() > std::numeric_limits<std::uint32_t>::max())
        QZ_THROW(fmt::format("Too many nodes to write: {}.", list.size()));
    for (std::size_t i = 0; i < list.size(); ++i)
        if (list[i] < positions_.size() && positions_[list[i]] == kNoNode20)
            positions_[list[i]] = static_cast<std::uint32_t>(i);
}

std::uint32_t NodeIndex20::indexOf(std::uint32_t entry) const {
    if (entry >= positions_.size() || positions_[entry] == kNoNode20) QZ_THROW("Unknown node.");
    return positions_[entry];
}

}  // namespace model
