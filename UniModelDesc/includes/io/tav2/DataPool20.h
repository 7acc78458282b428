#pragma once
// model::DataPool20: the data pool "BUFF" of a format 2.0 file. Node and
// property records refer to names, strings, animation keys and visibility
// ranges by their byte offset in it.
//
// Contract
// - write(data, size) appends the bytes as they are, without looking for an
//   earlier copy, and returns size; the primitive writers of
//   qzvfs::FileHelpersW (writeU32, writeFloat, ...) append through it, so key
//   and range data keep the file's byte order. Storage grows like
//   qzvfs::MemBuffer (which holds it) and reports allocation failures the
//   same way. The file stores the pool's length and every offset into it in
//   32 bits, so a write that would take the pool past 0xFFFFFFFF bytes
//   raises qz::ExtException and appends nothing.
// - addString(s) stores s up to its first NUL (the pool holds C strings; a
//   reader stops at the NUL too) followed by a NUL. It returns the first
//   offset, over the whole pool and at any byte position, at which those
//   bytes and the NUL already stand; only when there is none are they
//   appended, and the offset of their first byte is returned. The empty
//   string is thus the offset of the pool's first NUL.
// - The search is answered from an index of every NUL-terminated suffix in
//   the pool, brought up to date before each search: a search costs the
//   length of s plus the indexing of the bytes appended since the last one,
//   whatever the pool's size. The index takes at most two 24-byte nodes per
//   NUL-terminated run of the pool.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "qzvfs/FileHelpersW.h"
#include "qzvfs/MemBuffer.h"
#include "utils/OpenAddressMap.h"

namespace model {

class DataPool20 : public qzvfs::FileHelpersW<DataPool20> {
public:
    DataPool20();
    DataPool20(const DataPool20&) = delete;
    DataPool20& operator=(const DataPool20&) = delete;

    size_t write(const void* data, size_t size);

    std::uint32_t addString(std::string_view s);

    std::uint32_t size() const noexcept { return static_cast<std::uint32_t>(bytes_.size()); }
    const std::vector<std::uint8_t>& bytes() const noexcept { return bytes_.bytes(); }

private:
    // Raises the too-large error when size more bytes would not fit.
    void checkRoom(size_t size) const;
    // Indexes every NUL-terminated run completed since the last call.
    void indexNewRuns();
    void indexRun(std::size_t start, std::size_t nul);
    // Adds the run [start, start + length) below node, where it leaves the
    // edge to next at depth k with `byte`.
    void splitEdge(std::uint32_t node, std::uint32_t next, std::uint32_t k, std::uint32_t start,
                   std::uint32_t length, std::uint8_t byte);
    // The child of node whose edge starts with byte, or kNone.
    std::uint32_t child(std::uint32_t node, std::uint8_t byte) const;
    void addChild(std::uint32_t node, std::uint32_t made);
    // Puts made where old was among node's children (old moves below made).
    void replaceChild(std::uint32_t node, std::uint32_t old, std::uint32_t made);
    std::uint32_t newNode(std::uint32_t offset, std::uint32_t depth, std::uint8_t byte);
    // The byte `depth` places before the end of node's string.
    std::uint8_t labelByte(std::uint32_t node, std::uint32_t depth) const;

    qzvfs::MemBuffer bytes_;
    // Bytes before this position belong to runs already indexed; it is
    // always just after a NUL (or 0).
    std::size_t indexedEnd_ = 0;

    // The index is a path-compressed trie of the runs between NULs, read
    // backwards from their NUL. A node stands for the string of its depth
    // that ends a run; it keeps the offset of that string's first place,
    // which is where the bytes of the edge leading to it are read (so edges
    // hold no bytes of their own), and a point inside an edge stands for
    // the shorter strings found in the same place. Names that end alike
    // share their path; each run adds at most two nodes. Node 0 is the empty
    // string, at the pool's first NUL.
    static constexpr std::uint32_t kNone = 0;  // node 0 is never a child
    struct TrieNode {
        std::uint32_t firstChild = kNone;
        std::uint32_t nextSibling = kNone;
        std::uint32_t offset = 0;
        std::uint32_t depth = 0;
        std::uint8_t byte = 0;        // first byte of the edge from the parent
        std::uint8_t childCount = 0;  // up to kWide; a wide node counts no further
    };
    std::vector<TrieNode> nodes_;
    // The empty string's children, by byte.
    std::array<std::uint32_t, 256> rootChildren_{};
    bool hasNul_ = false;
    // A node with many children (key data makes them) keeps them in one
    // open-addressed table keyed by (node, byte) instead of its sibling
    // list, so no step of a search scans more than a few siblings.
    static constexpr std::uint8_t kWide = 8;
    // Keyed by node << 8 | byte, which never reaches the free-slot key.
    utils::OpenAddressMap<std::uint64_t, std::uint32_t, ~std::uint64_t(0)> wide_;
};

}  // namespace model
