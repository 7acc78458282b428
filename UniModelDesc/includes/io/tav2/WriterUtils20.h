#pragma once
// Tree preparation of the format 2.0 writer: the copy of the model's tree
// split into a transform tree and a visibility tree, the attachment of every
// connector in each, the flattening into indexed lists and the index lookup.
//
// Contract of prepareTrees20(root):
// - Works on a copy of the shape of the root's tree: one PreparedTrees20
//   entry per model node, pointing at that node, which writes its record;
//   the model is not changed and no node of it is cloned, so a save touches
//   each node and property of the model only to read it. Nodes the
//   preparation adds (the roots and stand-ins below) are new plain nodes,
//   owned by the PreparedTrees20.
// - Connectors, in the root's list order: the transform side is the copy of
//   the connector's parent, the visibility side the copy of the nearest
//   model::ArgVisibilityNode from that parent upwards (the parent included),
//   or the visibility tree's root when there is none. When both sides are
//   one visibility node, a new plain node is added as that node's last child
//   and stands for the connector on the transform side.
// - Split: a top node that is a visibility node first gets a new plain node
//   above it. Every visibility node then moves, childless, under the
//   visibility tree's root (a new plain node, unnamed), in walk order; its
//   children take its place among its parent's children, in their order, and
//   are examined in turn (so nested visibility nodes move as well).
// - Failures (qz::ExtException): a null connector ("Null connector in the
//   connector list of the root node."), a connector without a parent
//   ("Connector '<name>' has no parent."), a parent or visibility node that
//   is a LOD node ("Remove connectors from lods."), a parent outside the
//   root's tree ("Unknown node.").
// - A root without a top node gives an empty transform tree (no top).
//
// flattenTree20(trees, top, first): entries depth-first pre-order from top
// (a node before its children, children in order); the entries flagged in
// `first` (indexed like trees.nodes) come before all others, each group in
// walk order. Empty for kNoNode20.
//
// NodeIndex20: position of each entry in a flattened list; indexOf() raises
// qz::ExtException "Unknown node." for an entry not in the list.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "Node.h"

namespace model {

class Connector;
class RootNode;

constexpr std::uint32_t kNoNode20 = ~std::uint32_t(0);

// One node of the prepared trees: the node whose record it writes, and its
// links, as indices into PreparedTrees20::nodes.
struct TreeNode20 {
    const Node* source = nullptr;
    std::uint32_t firstChild = kNoNode20;
    std::uint32_t lastChild = kNoNode20;
    std::uint32_t nextSibling = kNoNode20;
    std::uint32_t childCount = 0;
    // The source is a model::ArgVisibilityNode (noted once, so the split
    // does not go back to the model's nodes).
    bool visibility = false;
};

struct ConnectorEntry20 {
    const Connector* connector = nullptr;
    std::uint32_t visibilitySide = kNoNode20;
    std::uint32_t transformSide = kNoNode20;
};

struct PreparedTrees20 {
    std::vector<TreeNode20> nodes;
    std::uint32_t transformTop = kNoNode20;
    std::uint32_t visibilityRoot = kNoNode20;
    std::vector<ConnectorEntry20> connectors;
    // The plain nodes the preparation made, kept alive for their records.
    std::vector<NodePtr> added;
};

PreparedTrees20 prepareTrees20(const RootNode& root);

std::vector<std::uint32_t> flattenTree20(const PreparedTrees20& trees, std::uint32_t top,
                                         const std::vector<bool>& first);

class NodeIndex20 {
public:
    // Throws qz::ExtException "Too many nodes to write: <n>." beyond 32 bits.
    NodeIndex20(const std::vector<std::uint32_t>& list, std::size_t entryCount);
    std::uint32_t indexOf(std::uint32_t entry) const;

private:
    std::vector<std::uint32_t> positions_;
};

}  // namespace model
