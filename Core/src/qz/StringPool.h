#pragma once
// A pool that stores each distinct C string once and numbers the strings
// densely in order of first insertion.
//
// Contract: strings are copied, with their terminating NUL, into blocks of
// blockSize bytes; a string longer than a block gets a block of its own size,
// so every string is stored whole. Pointers returned by add() stay valid and
// unchanged for the pool's lifetime (blocks never move their bytes). Index 0
// is the first distinct string added, 1 the next, and so on; the empty string
// is an ordinary entry. Passing a null pointer throws qz::ExtException.
// Not thread-safe: one pool belongs to one writer.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace qz {

class StringPool {
public:
    explicit StringPool(uint64_t blockSize);

    StringPool(const StringPool&) = delete;
    StringPool& operator=(const StringPool&) = delete;

    // Returns the pooled copy of s, storing it first if it is new.
    const char* add(const char* s);

    // Adds s if needed and returns its index (never -1 for a non-null s; -1
    // is kept for an empty pool so callers can test for "not found").
    int64_t indexOf(const char* s);

    // Replaces out with every stored string followed by its NUL, in index
    // order.
    void serialize(std::vector<uint8_t>& out) const;

    // Number of distinct strings stored.
    size_t size() const noexcept { return index.size(); }

    // The string with the given index; std::out_of_range past the end.
    const char* at(size_t i) const { return index.at(i); }

private:
    struct Block {
        std::unique_ptr<char[]> bytes;
        uint64_t capacity = 0;
        uint64_t used = 0;
        uint64_t count = 0;
    };

    char* reserve(uint64_t bytes);

    uint64_t blockSize;
    std::vector<Block> blocks;
    std::vector<const char*> index;
    // Lookup by content; keys view the pooled copies, values are positions in
    // index. Same result as a linear scan, without its quadratic cost.
    std::unordered_map<std::string_view, size_t> lookup;
};

}  // namespace qz
