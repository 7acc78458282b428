#pragma once
// model::utils::AttachmentIndex: which base nodes hang off which tree
// nodes, kept for the length of one optimisation run so that the passes'
// attachment queries cost time in the size of the answer rather than in the
// size of the model.
//
// Contract:
//  - Built from a list of base nodes (a root node's getAllBaseNodes(), or
//    the root node itself, through its getAllBaseNodePointers()): every
//    (base node, parent index) whose parent is not null is filed under that
//    parent. A base node listed more than once is indexed at its first
//    place only, so whoever bakes a transform into the base nodes of a tree
//    node does it once per base node.
//  - getAttached(node) lists node's pairs in base-node list order, then
//    parent order: what RootNode::getAttached gives for a list without
//    repetitions. hasAttached(node) is whether that list is non-empty.
//  - setParent(base, i, node) and replaceParent(old, new) change the base
//    nodes' links (through BaseNode::setParent) and the index together.
//    Every link change during the run must go through them; links changed
//    any other way are not seen. setParent raises std::out_of_range for a
//    base node the index was not built with or an index past its parents.
//  - replaceParent(old, new) returns whether any link pointed at old; with
//    old == new the links are set again and stay filed where they are.
//  - The index holds no references: the base nodes must outlive it (a root
//    node's lists hold them for the run; nothing in the passes removes a
//    base node). Tree nodes are only looked up by address; the base nodes'
//    own links keep them alive.
//  - Costs: hasAttached O(1); setParent O(1) amortised; getAttached and
//    replaceParent O(k log k) for the k pairs of the node.

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include <boost/container/small_vector.hpp>

#include "BaseNode.h"
#include "Node.h"
#include "nodes/RootNode.h"
#include "utils/OpenAddressMap.h"

namespace model::utils {

class AttachmentIndex {
public:
    explicit AttachmentIndex(const std::vector<Ptr<BaseNode>>& baseNodes);
    explicit AttachmentIndex(const RootNode& root);

    AttachedList getAttached(const Node* node);
    bool hasAttached(const Node* node) const;
    std::size_t countAttached(const Node* node) const;

    void setParent(const BaseNode& base, std::size_t index, const Ptr<Node>& node);
    bool replaceParent(const Node* oldNode, const Ptr<Node>& newNode);

private:
    explicit AttachmentIndex(const std::vector<BaseNode*>& baseNodes);

    // One parent link of one base node. Slots are numbered in list order,
    // so a node's pairs are in the right order when its slots are sorted.
    struct Slot {
        BaseNode* base = nullptr;
        std::size_t index = 0;
        const Node* parent = nullptr;
    };

    // The slots filed under one tree node. A slot that moved away stays in
    // `slots` until the next tidy(); the node's entry counts the slots whose
    // parent is the node.
    struct Bucket {
        // Most tree nodes that hold anything hold one link.
        boost::container::small_vector<std::size_t, 1> slots;
        bool ordered = true;
    };

    // The bucket of every tree node that ever held a link. The number of
    // live slots sits in the entry itself, so hasAttached() reads one place;
    // entries are never removed (a node's bucket is emptied instead).
    struct Entry {
        std::uint32_t bucket = 0;
        std::uint32_t live = 0;
    };

    // Where a base node's slots are.
    struct BaseEntry {
        std::size_t first = 0;
        std::size_t count = 0;
    };

    void build(const std::vector<BaseNode*>& baseNodes);

    Entry* find(const Node* node);
    const Entry* find(const Node* node) const;
    Entry& entryFor(const Node* node);

    // A bit per hash, set for every node with an entry: most nodes of a
    // tree have none, and over a big tree the table is too large to stay
    // in the caches, while the filter, a sixteenth of its size, mostly does.
    // It is laid anew whenever the table grows.
    void layFilter();
    bool mayHold(std::uint64_t hash) const noexcept;
    void mark(std::uint64_t hash) noexcept;

    void file(std::size_t slot, const Node* parent);
    void unfile(std::size_t slot);
    // Sorts the bucket and drops slots that have moved away or are doubled.
    void tidy(Bucket& bucket, std::uint32_t live, const Node* node);

    std::vector<Slot> slots_;
    // First slot and parent count of every indexed base node.
    OpenAddressMap<const BaseNode*, BaseEntry, nullptr> bases_;
    OpenAddressMap<const Node*, Entry, nullptr> table_;
    std::vector<std::uint64_t> filter_;
    std::vector<Bucket> buckets_;
};

}  // namespace model::utils
