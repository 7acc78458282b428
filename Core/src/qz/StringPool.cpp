#include "qz/StringPool.h"

#include <algorithm>
#include <cstring>

#include "qz/ExtException.h"

namespace qz {

StringPool::StringPool(uint64_t blockSize) : blockSize(blockSize) {
    index.reserve(static_cast<size_t>(blockSize / 8));
}

char* StringPool::reserve(uint64_t bytes) {
    if (blocks.empty() || blocks.back().capacity - blocks.back().used < bytes) {
        Block b;
        b.capacity = std::max(blockSize, bytes);
        b.bytes = std::make_unique<char[]>(b.capacity);  // zero-filled
        blocks.push_back(std::move(b));
    }
    Block& last = blocks.back();
    char* at = last.bytes.get() + last.used;
    last.used += bytes;
    ++last.count;
    return at;
}

const char* StringPool::add(const char* s) {
    if (s == nullptr) QZ_THROW("StringPool: a null string can't be pooled");
    const std::string_view key(s);
    if (auto it = lookup.find(key); it != lookup.end()) return index[it->second];

    char* copy = reserve(key.size() + 1);
    std::memcpy(copy, s, key.size() + 1);
    index.push_back(copy);
    lookup.emplace(std::string_view(copy, key.size()), index.size() - 1);
    return copy;
}

int64_t StringPool::indexOf(const char* s) {
    add(s);
    if (index.empty()) return -1;
    auto it = lookup.find(std::string_view(s));
    return it == lookup.end() ? -1 : static_cast<int64_t>(it->second);
}

void StringPool::serialize(std::vector<uint8_t>& out) const {
    out.clear();
    size_t total = 0;
    for (const Block& b : blocks) total += b.used;
    out.reserve(total);
    for (const Block& b : blocks)
        out.insert(out.end(), b.bytes.get(), b.bytes.get() + b.used);
}

}  // namespace qz
