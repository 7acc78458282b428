#pragma once
// Tree preparation of the format 2.0 writer: the copy of the model's tree
// split into a transform tree and a visibility tree, the attachment of every
// connector in each, the flattening into indexed lists and the index lookup.
//
// Contract of prepareTrees20(root):
// - Works on a copy of the root's tree (copyTree); the model is not changed.
//   The copies share their property objects with the model's nodes.
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
// - A root without a top node gives an empty transform tree (null top).
//
// flattenTree20(top, first): depth-first pre-order from top (a node before
// its children, children in order); the nodes of `first` come before all
// others, each group in walk order. Empty for a null top.
//
// NodeIndex20: position of each node in a flattened list; indexOf() raises
// qz::ExtException "Unknown node." for a node not in the list.

#include <cstddef>
#include <cstdint>
#include <unordered_set>
#include <vector>

#include "Node.h"

namespace model {

class Connector;
class RootNode;

struct ConnectorEntry20 {
    const Connector* connector = nullptr;
    NodePtr visibilitySide;
    NodePtr transformSide;
};

struct PreparedTrees20 {
    NodePtr transformTop;
    NodePtr visibilityRoot;
    std::vector<ConnectorEntry20> connectors;
};

PreparedTrees20 prepareTrees20(const RootNode& root);

std::vector<NodePtr> flattenTree20(const NodePtr& top, const std::unordered_set<const Node*>& first);

class NodeIndex20 {
public:
    explicit NodeIndex20(const std::vector<NodePtr>& list);
    std::uint32_t indexOf(const Node* node) const;

private:
    // Open addressing over the node addresses, at most half full: one
    // lookup per topology entry of every node, without a map node each.
    struct Slot {
        const Node* node = nullptr;
        std::uint32_t index = 0;
    };
    std::size_t home(const Node* node) const;

    std::vector<Slot> slots_;
    int shift_ = 64;
};

}  // namespace model
