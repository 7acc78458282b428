#pragma once
// model::utils::PreOrder: the nodes of a tree in depth-first pre-order,
// carried from one graph pass to the next.
//
// Each pass finds its candidates in a pre-order walk of the whole tree. On a
// tree larger than the caches such a walk is a chain of misses waited for in
// turn (a sibling link is known only once the node before it has arrived),
// and one iteration of the passes would walk the tree four times. The list
// is walked once; after that its entries are known up front, so a scan
// fetches many nodes at a time, and skips by the stored type the nodes a
// pass does not look at without touching them.
//
// A pass that replaces nodes or removes them (their children taking their
// place) leaves the nodes that stay in the same relative order, so it edits
// the list in place; a pass that moves nodes rebuilds it.
//
// Contract:
//  - The list holds a counted reference to its top (the first entry) and
//    plain pointers to the other nodes. It describes the tree below and
//    including the top as long as every change of that tree since the last
//    rebuild() was reported: replace() for a node whose replacement took its
//    place, remove() for a node taken out with its children left in its
//    place, then settle() before the next scan.
//  - A top that is replaced or removed leaves childless: the list is then
//    that top alone, which is what a walk from it would give.
//  - Entries marked by remove() or replace() are not read again, so a node
//    released after its removal does not matter to the list.
//  - After marks, settle() comes before any scan. node(i) of a marked entry
//    is its replacement, or null once removed (the top's entry keeps the
//    top until settle()).
//  - rebuild() walks several subtrees side by side and joins their entries
//    in order; the result is that of a plain pre-order walk.
//  - scan(fn) calls fn(index, node, type) for every entry in order;
//    scan(type, fn) only for entries of that type, without reading the
//    other nodes. Both prefetch the nodes a few entries ahead. select(fn)
//    and select(type, fn) list the entries for which fn(node) is true;
//    select(fn) prefetches only the part of each node that class Node
//    itself has.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "Node.h"
#include "NodeType.h"
#include "utils/NodeHelpers.h"

namespace model::utils {

class PreOrder {
public:
    PreOrder() = default;
    // Walks the tree below and including top; empty when top is null.
    explicit PreOrder(const Ptr<Node>& top) { rebuild(top); }

    void rebuild(const Ptr<Node>& top);

    bool empty() const noexcept { return entries_.empty(); }
    std::size_t size() const noexcept { return entries_.size(); }
    const Ptr<Node>& top() const noexcept { return top_; }
    Node* node(std::size_t i) const noexcept { return entries_[i].node; }
    NodeType type(std::size_t i) const noexcept { return entries_[i].type; }

    // Entry i is now node, which took the old node's place and children.
    void replace(std::size_t i, Node* node);
    // Entry i left the tree; its children took its place.
    void remove(std::size_t i);
    // Applies the marks: removed entries leave the list.
    void settle();

    template <class Fn>
    void scan(Fn&& fn) const {
        for (std::size_t i = 0; i < entries_.size(); ++i) {
            if (i + kAhead < entries_.size()) prefetchEntry(entries_[i + kAhead]);
            fn(i, *entries_[i].node, entries_[i].type);
        }
    }

    template <class Fn>
    void scan(NodeType type, Fn&& fn) const {
        // The next entries of the type are prefetched as the scan meets
        // them, kAhead entries before it reads them.
        const std::size_t count = entries_.size();
        std::size_t ahead = 0;
        for (std::size_t i = 0; i < count; ++i) {
            if (entries_[i].type != type) continue;
            for (ahead = std::max(ahead, i + 1); ahead < count && ahead < i + kAhead; ++ahead)
                if (entries_[ahead].type == type) prefetchEntry(entries_[ahead]);
            fn(i, *entries_[i].node, type);
        }
    }

    // Indices of the entries for which select(node) is true, in order.
    // Selections look at what every node has (links, name), so only that
    // part of each node is fetched ahead: the rest of a larger node would
    // be read from memory for nothing.
    template <class Select>
    std::vector<std::size_t> select(Select&& select) const {
        std::vector<std::size_t> out;
        for (std::size_t i = 0; i < entries_.size(); ++i) {
            if (i + kAhead < entries_.size()) qz::prefetchForRead(entries_[i + kAhead].node, sizeof(Node));
            if (select(static_cast<const Node&>(*entries_[i].node))) out.push_back(i);
        }
        return out;
    }
    template <class Select>
    std::vector<std::size_t> select(NodeType type, Select&& select) const {
        std::vector<std::size_t> out;
        scan(type, [&](std::size_t i, const Node& n, NodeType) {
            if (select(n)) out.push_back(i);
        });
        return out;
    }

    struct Entry {
        Node* node;
        NodeType type;
        // Bytes of the node a scan fetches ahead: the members of the larger
        // classes lie past the lines every node has, and a scan reads them too.
        std::uint32_t bytes;
    };

    // Entry for node (its type and size looked up).
    static Entry entryFor(Node* node);

private:
    static constexpr std::size_t kAhead = 16;

    static void prefetchEntry(const Entry& e) noexcept { qz::prefetchForRead(e.node, e.bytes); }

    Ptr<Node> top_;
    std::vector<Entry> entries_;
    bool topLeft_ = false;
    std::size_t removed_ = 0;
};

}  // namespace model::utils
