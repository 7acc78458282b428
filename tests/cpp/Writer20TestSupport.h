#pragma once
// Expected-bytes builder for format 2.0 files: tests spell out the records
// field by field; pool references are resolved here with a plain search of
// the pool built so far (the first offset of the bytes and their NUL), which
// is independent of the writer's indexed search.

#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "TestObjects.h"
#include "io/tav2/ClassWriter20.h"
#include "nodes/RootNode.h"

namespace writer20test {

class Tav20 {
public:
    Tav20& u32(uint32_t v) { return le(v, 4); }
    Tav20& u64(uint64_t v) { return le(v, 8); }
    Tav20& f32(float v) { return u32(std::bit_cast<uint32_t>(v)); }
    Tav20& tag(const char (&t)[5]) {
        for (int i = 0; i < 4; ++i) records.push_back(uint8_t(t[i]));
        return *this;
    }
    // A searched pool reference (names and strings).
    Tav20& str(const std::string& s) { return u32(uint32_t(poolOffset(s))); }
    uint64_t poolOffset(const std::string& s) {
        const std::string needle = s + '\0';
        const size_t at = pool.find(needle);
        if (at != std::string::npos) return at;
        pool += needle;
        return pool.size() - needle.size();
    }
    // Floats appended to the pool without search; returns their offset.
    uint32_t append(const std::vector<float>& values) {
        const uint32_t at = uint32_t(pool.size());
        for (float v : values) {
            const uint32_t bits = std::bit_cast<uint32_t>(v);
            for (int i = 0; i < 4; ++i) pool.push_back(char(bits >> (8 * i)));
        }
        return at;
    }
    // Key block: count, times offset, values offset.
    Tav20& keys(const std::vector<float>& times, const std::vector<float>& values) {
        u32(uint32_t(times.size()));
        u32(append(times));
        return u32(append(values));
    }
    Tav20& identity() {
        for (int i = 0; i < 16; ++i) f32(i % 5 == 0 ? 1.0f : 0.0f);
        return *this;
    }
    // Header with no properties block.
    Tav20& header(const char (&t)[5], const std::string& name) { return tag(t).str(name); }
    // A record with an empty properties block.
    Tav20& plain(const char (&t)[5], const std::string& name) { return header(t, name).u32(0); }
    Tav20& trees() { return tag("TRTR").u32(0).u32(0); }
    // Topology entry: index, children.
    Tav20& topo(uint32_t index, const std::vector<uint32_t>& children = {}) {
        u32(index).u32(uint32_t(children.size()));
        for (uint32_t c : children) u32(c);
        return *this;
    }

    // Header with handle count and three empty boxes, the pool, the records.
    std::vector<uint8_t> file(uint32_t handles = 0) const {
        Tav20 head;
        head.tag("TAV2").u32(0).u32(handles);
        for (int box = 0; box < 3; ++box) {
            for (int i = 0; i < 3; ++i) head.f32(FLT_MAX);
            for (int i = 0; i < 3; ++i) head.f32(-FLT_MAX);
        }
        head.tag("BUFF").u32(uint32_t(pool.size()));
        std::vector<uint8_t> out = head.records;
        out.insert(out.end(), pool.begin(), pool.end());
        out.insert(out.end(), records.begin(), records.end());
        return out;
    }

    std::vector<uint8_t> records;
    std::string pool;

private:
    Tav20& le(uint64_t v, int n) {
        for (int i = 0; i < n; ++i) records.push_back(uint8_t(v >> (8 * i)));
        return *this;
    }
};

inline std::vector<uint8_t> writeModel(const model::RootNode& root) {
    std::vector<uint8_t> out;
    model::ClassWriter20().write(root, out);
    return out;
}

// Equality of two files, reported as the first differing offset.
inline testing::AssertionResult sameBytes(const std::vector<uint8_t>& actual, const std::vector<uint8_t>& expected) {
    if (actual == expected) return testing::AssertionSuccess();
    size_t i = 0;
    while (i < actual.size() && i < expected.size() && actual[i] == expected[i]) ++i;
    auto at = [](const std::vector<uint8_t>& v, size_t k) { return k < v.size() ? int(v[k]) : -1; };
    return testing::AssertionFailure() << "files differ at offset " << i << ": actual " << at(actual, i)
                                       << ", expected " << at(expected, i) << " (sizes " << actual.size() << " and "
                                       << expected.size() << ")";
}

using testobjects::make;

inline model::Ptr<model::RootNode> rootWith(const model::Ptr<model::Node>& top) {
    auto root = make<model::RootNode>("model::RootNode");
    root->setTopNode(top);
    return root;
}

}  // namespace writer20test
