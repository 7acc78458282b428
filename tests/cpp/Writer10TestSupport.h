#pragma once
// Expected-bytes builder for format 10 files: tests spell out a file field by
// field and compare it with what the writer produced.
//
// Strings passed to str() are numbered in order of first use, as the file's
// string table numbers them; file() puts magic, version and the table in
// front of the body.

#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cstdint>
#include <string>
#include <vector>

#include "PropertiesSet.h"
#include "io/10/ClassWriter10.h"
#include "nodes/RootNode.h"

namespace writer10test {

class Tav10 {
public:
    Tav10& u8(uint8_t v) { body.push_back(v); return *this; }
    Tav10& u16(uint16_t v) { return le(v, 2); }
    Tav10& u32(uint32_t v) { return le(v, 4); }
    Tav10& u64(uint64_t v) { return le(v, 8); }
    Tav10& f32(float v) { return u32(std::bit_cast<uint32_t>(v)); }
    Tav10& f64(double v) { return u64(std::bit_cast<uint64_t>(v)); }
    Tav10& d3(double x, double y, double z) { return f64(x).f64(y).f64(z); }

    // A string-table reference.
    Tav10& str(const std::string& s) {
        for (size_t i = 0; i < strings.size(); ++i)
            if (strings[i] == s) return u32(uint32_t(i));
        strings.push_back(s);
        return u32(uint32_t(strings.size() - 1));
    }
    // An inline name: length and bytes.
    Tav10& name(const std::string& s) {
        u32(uint32_t(s.size()));
        body.insert(body.end(), s.begin(), s.end());
        return *this;
    }

    Tav10& identity44() {
        for (int i = 0; i < 16; ++i) f64(i % 5 == 0 ? 1.0 : 0.0);
        return *this;
    }
    Tav10& emptyBoxAsDoubles() {
        return d3(FLT_MAX, FLT_MAX, FLT_MAX).d3(-FLT_MAX, -FLT_MAX, -FLT_MAX);
    }
    Tav10& uintProperty(const std::string& propertyName, uint32_t value) {
        return str("model::Property<unsigned int>").str(propertyName).u32(value);
    }
    // Header of a base node without properties of its own.
    Tav10& commonHeader(const std::string& cls, const std::string& nodeName, uint32_t version) {
        str(cls).name(nodeName).u32(0);
        if (version == 0) return u32(0);
        return u32(1).uintProperty("__VERSION__", version);
    }
    Tav10& treeHeader(const std::string& cls, const std::string& nodeName) {
        return str(cls).name(nodeName).u32(0).u32(0);
    }
    // The record of a default PropertiesSet with the given names and vertex
    // format, without textures or uniforms.
    Tav10& plainMaterial(const std::string& materialName, const std::string& setName,
                         const model::VertexFormat& format = {}) {
        u32(10).str("BLENDING").u8(0).str("DEPTH_BIAS").u32(0).str("VERTEX_FORMAT").u32(26);
        for (uint8_t c : format) u8(c);
        str("TEXTURE_COORDINATES_CHANNELS").u32(13);
        for (int i = 0; i < 13; ++i) u32(0xFFFFFFFFu);
        str("MATERIAL_NAME").str(materialName).str("NAME").str(setName).str("SHADOWS").u8(1);
        return str("TEXTURES").u32(0).str("UNIFORMS").u32(0).str("ANIMATED_UNIFORMS").u32(0);
    }
    // Root record with empty boxes; materials written by the caller between
    // rootStart() and rootEnd().
    Tav10& rootStart(uint32_t materialCount) {
        u64(0);  // reserved word
        commonHeader("model::RootNode", "", 3);
        emptyBoxAsDoubles().emptyBoxAsDoubles().emptyBoxAsDoubles();
        return u32(materialCount);
    }
    Tav10& rootEnd(uint32_t handles) { return u32(0).u32(handles); }

    std::vector<uint8_t> file() const {
        std::vector<uint8_t> table;
        for (const std::string& s : strings) {
            table.insert(table.end(), s.begin(), s.end());
            table.push_back(0);
        }
        std::vector<uint8_t> out{'T', 'A', 'V', 10, 0};
        for (int i = 0; i < 4; ++i) out.push_back(uint8_t(table.size() >> (8 * i)));
        out.insert(out.end(), table.begin(), table.end());
        out.insert(out.end(), body.begin(), body.end());
        return out;
    }

    std::vector<uint8_t> body;
    std::vector<std::string> strings;

private:
    Tav10& le(uint64_t v, int n) {
        for (int i = 0; i < n; ++i) body.push_back(uint8_t(v >> (8 * i)));
        return *this;
    }
};

inline std::vector<uint8_t> writeModel(const model::RootNode& root) {
    std::vector<uint8_t> out;
    model::ClassWriter10().write(root, out);
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

}  // namespace writer10test

#include <stdexcept>

#include "TestObjects.h"

namespace writer10test {

using testobjects::make;

inline model::Ptr<model::PropertiesSet> material(const std::string& materialName, const std::string& setName) {
    model::Ptr<model::PropertiesSet> m(new model::PropertiesSet());
    m->setMaterialName(materialName);
    m->setName(setName);
    return m;
}

// A root whose top node is a plain node named "root".
inline model::Ptr<model::RootNode> rootWithTop(const model::Ptr<model::Node>& top = {}) {
    auto root = make<model::RootNode>("model::RootNode");
    root->setTopNode(top ? top : make<model::Node>("model::Node", "root"));
    return root;
}

}  // namespace writer10test
