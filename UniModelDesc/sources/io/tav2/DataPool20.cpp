#include "io/tav2/DataPool20.h"

#include <algorithm>

#include <fmt/format.h>

#include "qz/ExtException.h"

namespace model {

namespace {

constexpr std::uint64_t kMaxPoolSize = 0xFFFFFFFFull;

std::uint64_t edgeKey(std::uint32_t node, std::uint8_t byte) { return std::uint64_t(node) << 8 | byte; }

}  // namespace

DataPool20::DataPool20() : nodes_(1) {}

void DataPool20::checkRoom(size_t size) const {
    if (size > kMaxPoolSize - bytes_.size())
        QZ_THROW(fmt::format("The data pool is too large for 32-bit offsets: {} bytes.",
                             std::uint64_t(bytes_.size()) + size));
}

size_t DataPool20::write(const void* data, size_t size) {
    checkRoom(size);
    bytes_.append(data, size);
    return size;
}

std::uint32_t DataPool20::addString(std::string_view s) {
    s = s.substr(0, std::min(s.size(), s.find('\0')));
    indexNewRuns();
    const auto at = [&s](std::size_t depth) { return std::uint8_t(s[s.size() - 1 - depth]); };
    std::uint32_t node = 0;
    std::uint32_t next = kNone;
    std::size_t depth = 0;
    std::size_t k = 0;
    while (hasNul_) {
        if (depth == s.size()) return nodes_[node].offset;
        next = child(node, at(depth));
        if (next == kNone) break;
        const std::size_t end = std::min<std::size_t>(nodes_[next].depth, s.size());
        k = depth + 1;
        while (k < end && labelByte(next, std::uint32_t(k)) == at(k)) ++k;
        if (k < end) break;
        // s ends on this edge: it stands inside the first place of `next`.
        if (s.size() <= nodes_[next].depth) return nodes_[next].offset + (nodes_[next].depth - std::uint32_t(s.size()));
        node = next;
        depth = nodes_[next].depth;
    }
    checkRoom(s.size() + 1);
    static const std::uint8_t nul = 0;
    const std::uint32_t offset = size();
    // With every earlier run indexed, s becomes the newest run: it joins the
    // index where the search left off, instead of being looked up again by
    // the next search.
    const bool joinNow = hasNul_ && indexedEnd_ == bytes_.size();
    write(s.data(), s.size());
    write(&nul, 1);
    if (joinNow) {
        if (next == kNone)
            addChild(node, newNode(offset, std::uint32_t(s.size()), at(depth)));
        else
            splitEdge(node, next, std::uint32_t(k), offset, std::uint32_t(s.size()), at(k));
        indexedEnd_ = bytes_.size();
    }
    return offset;
}

std::uint8_t DataPool20::labelByte(std::uint32_t node, std::uint32_t depth) const {
    const TrieNode& n = nodes_[node];
    return bytes_.data()[n.offset + n.depth - 1 - depth];
}

std::uint32_t DataPool20::newNode(std::uint32_t offset, std::uint32_t depth, std::uint8_t byte) {
    TrieNode made;
    made.offset = offset;
    made.depth = depth;
    made.byte = byte;
    nodes_.push_back(made);
    return static_cast<std::uint32_t>(nodes_.size() - 1);
}

void DataPool20::indexNewRuns() {
    const std::uint8_t* data = bytes_.data();
    const size_t end = bytes_.size();
    for (size_t nul = indexedEnd_; nul < end; ++nul) {
        if (data[nul] != 0) continue;
        if (!hasNul_) {
            nodes_[0].offset = static_cast<std::uint32_t>(nul);
            hasNul_ = true;
        }
        indexRun(indexedEnd_, nul);
        indexedEnd_ = nul + 1;
    }
}

// Runs come in pool order, so a node made for a run keeps the first place of
// its string; later runs only pass through it or split its edge.
void DataPool20::indexRun(std::size_t start, std::size_t nul) {
    const std::uint8_t* data = bytes_.data();
    const std::size_t length = nul - start;
    const auto at = [data, nul](std::size_t depth) { return data[nul - 1 - depth]; };
    std::uint32_t node = 0;
    std::size_t depth = 0;
    while (depth < length) {
        const std::uint32_t next = child(node, at(depth));
        if (next == kNone) {
            addChild(node, newNode(std::uint32_t(start), std::uint32_t(length), at(depth)));
            return;
        }
        const std::uint32_t nextDepth = nodes_[next].depth;
        const std::size_t end = std::min<std::size_t>(nextDepth, length);
        std::size_t k = depth + 1;
        while (k < end && labelByte(next, std::uint32_t(k)) == at(k)) ++k;
        if (k == nextDepth) {
            node = next;
            depth = k;
            continue;
        }
        if (k == length) return;  // the whole run already stands earlier
        splitEdge(node, next, std::uint32_t(k), std::uint32_t(start), std::uint32_t(length), at(k));
        return;
    }
}

// The run leaves the edge to `next` at depth k: a node there takes the
// edge's place, with the old end and the run below it.
void DataPool20::splitEdge(std::uint32_t node, std::uint32_t next, std::uint32_t k, std::uint32_t start,
                           std::uint32_t length, std::uint8_t byte) {
    const std::uint32_t fork = newNode(nodes_[next].offset + (nodes_[next].depth - k), k, nodes_[next].byte);
    replaceChild(node, next, fork);
    nodes_[next].byte = labelByte(next, k);
    addChild(fork, next);
    addChild(fork, newNode(start, length, byte));
}

std::uint32_t DataPool20::child(std::uint32_t node, std::uint8_t byte) const {
    if (node == 0) return rootChildren_[byte];
    const TrieNode& parent = nodes_[node];
    if (parent.childCount < kWide) {
        for (std::uint32_t c = parent.firstChild; c != kNone; c = nodes_[c].nextSibling)
            if (nodes_[c].byte == byte) return c;
        return kNone;
    }
    const std::uint32_t* found = wide_.find(edgeKey(node, byte));
    return found ? *found : kNone;
}

void DataPool20::addChild(std::uint32_t node, std::uint32_t made) {
    const std::uint8_t byte = nodes_[made].byte;
    if (node == 0) {
        rootChildren_[byte] = made;
        return;
    }
    TrieNode& parent = nodes_[node];
    if (parent.childCount + 1 < kWide) {
        nodes_[made].nextSibling = parent.firstChild;
        parent.firstChild = made;
        ++parent.childCount;
        return;
    }
    if (parent.childCount + 1 == kWide) {
        // The node turns wide: its list moves into the table.
        for (std::uint32_t c = parent.firstChild; c != kNone; c = nodes_[c].nextSibling)
            wide_.insert(edgeKey(node, nodes_[c].byte), c);
        parent.childCount = kWide;
    }
    wide_.insert(edgeKey(node, byte), made);
}

void DataPool20::replaceChild(std::uint32_t node, std::uint32_t old, std::uint32_t made) {
    const std::uint8_t byte = nodes_[old].byte;
    if (node == 0) {
        rootChildren_[byte] = made;
        return;
    }
    TrieNode& parent = nodes_[node];
    if (parent.childCount >= kWide) {
        *wide_.find(edgeKey(node, byte)) = made;
        return;
    }
    std::uint32_t* link = &parent.firstChild;
    while (*link != old) link = &nodes_[*link].nextSibling;
    *link = made;
    nodes_[made].nextSibling = nodes_[old].nextSibling;
    nodes_[old].nextSibling = kNone;
}

}  // namespace model
