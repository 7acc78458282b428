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
// The cache measures of the passes live here and nowhere else: the
// interleaved walk of rebuild(), the look-ahead of the scans, and forEach(),
// through which a pass takes its collected candidates.
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
//    other nodes. Both prefetch the nodes a few entries ahead; scan(fn)
//    also the animation lists and visibility entries that those nodes keep
//    apart from themselves. select(fn) and select(type, fn) list the
//    entries for which fn(node) is true; select(fn) prefetches only the
//    part of each node that class Node itself has.
//  - forEach(entries, fn) calls fn(index, node) for each listed entry, in
//    the list's order; fn may return false to stop. It reads node(index)
//    as it gets there, so fn may replace or remove the entries it is given.
//  - forEachAhead(count, nodeAt, fn) calls fn(k) for k in [0, count), with
//    nodeAt(k) the node that step k edits (it must stay readable until step
//    k); fn may return false to stop. Both only add prefetch hints to a
//    plain loop.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <vector>

#include "Node.h"
#include "NodeType.h"
#include "qz/Memory.h"

namespace model::utils {

inline void prefetchNode(const Node* n) noexcept { qz::prefetchForRead(n, 3 * 64); }

// Relinking reads and writes only the links and the reference count, which
// share a node's first line: the neighbours' other lines are not asked for.
inline void prefetchNeighbours(const Node* n) noexcept {
    for (const Node* near : {n->parentNode(), n->prevSiblingNode(), n->nextSiblingNode(), n->firstChildNode()})
        qz::prefetchForWrite(near);
}

// A pass edits its candidates long after the walk that found them, so on a
// tree larger than the caches every candidate would be a miss waited for in
// turn. Step k asks early for the node kFar steps ahead and for the
// neighbours of the one kNear steps ahead (which a removal or replacement
// relinks), so that the misses of several candidates overlap.
template <class NodeAt, class Fn>
void forEachAhead(std::size_t count, NodeAt&& nodeAt, Fn&& fn) {
    constexpr std::size_t kFar = 16;
    constexpr std::size_t kNear = 8;
    for (std::size_t k = 0; k < count; ++k) {
        if (k + kFar < count) prefetchNode(nodeAt(k + kFar));
        if (k + kNear < count) prefetchNeighbours(nodeAt(k + kNear));
        if constexpr (std::is_same_v<decltype(fn(k)), bool>) {
            if (!fn(k)) return;
        } else {
            fn(k);
        }
    }
}

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
            if (i + kListsAhead < entries_.size()) prefetchLists(entries_[i + kListsAhead]);
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

    template <class Fn>
    void forEach(const std::vector<std::size_t>& picked, Fn&& fn) const {
        forEachAhead(
            picked.size(), [this, &picked](std::size_t k) { return node(picked[k]); },
            [this, &picked, &fn](std::size_t k) { return fn(picked[k], *node(picked[k])); });
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
    // The lists are found through the node, which must have arrived first.
    static constexpr std::size_t kListsAhead = 8;

    static void prefetchEntry(const Entry& e) noexcept { qz::prefetchForRead(e.node, e.bytes); }
    static void prefetchLists(const Entry& e) noexcept;

    Ptr<Node> top_;
    std::vector<Entry> entries_;
    bool topLeft_ = false;
    std::size_t removed_ = 0;
};

}  // namespace model::utils
