#pragma once
// The one builder of models for the C++ tests of the model library: objects
// made by class name through the registry, small tree and matrix helpers,
// and a byte sink whose strings use the plain length-prefixed encoding of
// the io base classes, so expected bytes can be spelled by hand.

#include <algorithm>
#include <cstdint>
#include <functional>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <string_view>
#include <vector>

#include "ClassRegistry.h"
#include "CoreTestSupport.h"
#include "PropertiesSet.h"
#include "io/10/ClassWriter10.h"
#include "io/10/NodeWriter10.h"
#include "io/10/PrimitiveWriter10.h"
#include "io/IBinaryFileW.h"
#include "io/MemBinaryFileW.h"
#include "nodes/ArgAnimatedBone.h"
#include "nodes/ArgAnimationNode.h"
#include "nodes/ArgVisibilityNode.h"
#include "nodes/BillboardNode.h"
#include "nodes/Bone.h"
#include "nodes/Connector.h"
#include "nodes/FakeOmniLightsNode.h"
#include "nodes/FakeSpotLightsNode.h"
#include "nodes/LightNode.h"
#include "nodes/LodNode.h"
#include "nodes/NumberNode.h"
#include "nodes/RenderNode.h"
#include "nodes/RootNode.h"
#include "nodes/SegmentsNode.h"
#include "nodes/ShellNode.h"
#include "nodes/ShellSkinNode.h"
#include "nodes/SkinNode.h"
#include "nodes/TmpNumberRoot.h"
#include "nodes/TransformNode.h"
#include "qz/ExtException.h"

namespace modeltest {

// The registry's make (it throws qz::ExtException for a name it can't
// make), with the given name set on every object that has one.
template <class T>
model::Ptr<T> make(std::string_view cls, const std::string& name = {}) {
    model::Ptr<T> object = model::ClassRegistry::make<T>(cls);
    if constexpr (requires { object->setName(name); }) object->setName(name);
    return object;
}

// An object of class cls named name whose first parent entry is parent.
template <class T>
model::Ptr<T> under(const model::Ptr<model::Node>& parent, std::string_view cls, const std::string& name) {
    auto object = make<T>(cls, name);
    object->setParent(0, parent);
    return object;
}

// A property of class P named name; a value given is its argument when it
// takes one, else its value.
template <class P, class... V>
model::Ptr<P> property(const std::string& name, const V&... value) {
    auto p = make<P>(P().getClassName(), name);
    if constexpr (sizeof...(V) == 1) {
        if constexpr (requires { p->setArgument(value...); }) p->setArgument(value...);
        else p->setValue(value...);
    }
    return p;
}

inline model::Ptr<model::Node> node(const std::string& name = {}) { return make<model::Node>("model::Node", name); }

inline model::Matrix44d translation(double x, double y, double z) {
    model::Matrix44d m;
    m(3, 0) = x;
    m(3, 1) = y;
    m(3, 2) = z;
    return m;
}

// A quarter turn taking axis a to `stretch` times axis b and b to -a, after
// which the move of m applies.
inline model::Matrix44d quarterTurn(int a, int b, double stretch = 1, model::Matrix44d m = {}) {
    m(a, a) = m(b, b) = 0;
    m(a, b) = stretch;
    m(b, a) = -1;
    return m;
}

inline model::Ptr<model::TransformNode> transform(const std::string& name, const model::Matrix44d& m) {
    auto t = make<model::TransformNode>("model::TransformNode", name);
    t->setMatrix(m);
    return t;
}

inline model::BoundingBox box(float a, float b, float c, float d, float e, float f) {
    return model::BoundingBox::fromValues(a, b, c, d, e, f);
}

// "name(child child ...)" of a whole tree, the shape a test compares.
inline std::string shape(const model::Node& n) {
    std::string s = n.getName();
    if (!n.hasChildren()) return s;
    s += "(";
    for (const auto& c : n.getChildren()) s += (s.back() == '(' ? "" : " ") + shape(*c);
    return s + ")";
}

// A root node whose top is a plain node named "root".
struct Model {
    model::Ptr<model::RootNode> root = make<model::RootNode>("model::RootNode");
    model::Ptr<model::Node> top = node("root");
    Model() { root->setTopNode(top); }
};

class ByteSink final : public io::IBinaryFileW {
public:
    bool isOpen() const override { return true; }
    size_t write(const void* data, size_t size) override {
        const auto* p = static_cast<const uint8_t*>(data);
        bytes.insert(bytes.end(), p, p + size);
        return size;
    }
    void seek(uint64_t) override {}
    uint64_t tell() const override { return bytes.size(); }
    std::string getName() const override { return "test"; }

    std::vector<uint8_t> bytes;
};

// -- format 10 files: expected bytes are hex pins taken from files checked once
// by hand; nothing here knows the layout, so a change of the writer cannot
// hide in a matching change of a test builder.

using coretest::messageOf;

inline std::string hex(const std::vector<uint8_t>& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (uint8_t b : bytes) out += {digits[b >> 4], digits[b & 15]};
    return out;
}

// What `write` puts through a primitive writer, as hex; strings inline (length and bytes).
inline std::string primitiveRecord(const std::function<void(model::PrimitiveWriter10&)>& write) {
    ByteSink sink;
    model::PrimitiveWriter10 writer(sink);
    write(writer);
    return hex(sink.bytes);
}

// A file image's bytes in one vector, made pieces filled in (into storage of
// their own, aligned as a fill may ask).
inline std::vector<uint8_t> joinImage(const model::FileImage& image) {
    std::vector<uint8_t> bytes;
    for (const model::FilePiece& piece : image) {
        std::vector<uint8_t> made(piece.size());
        if (piece.fill) piece.fill(0, made);
        else std::copy(piece.bytes.begin(), piece.bytes.end(), made.begin());
        bytes.insert(bytes.end(), made.begin(), made.end());
    }
    return bytes;
}

inline std::vector<uint8_t> writeModel(const model::RootNode& root) {
    std::vector<uint8_t> out;
    model::ClassWriter10().write(root, out);
    return out;
}

// One node's record in a fresh sink, as hex, then "|" and the pooled strings
// it used in order of first use. Tree nodes are numbered in `tree` order.
inline std::string record(const model::INode& node, const std::vector<const model::Node*>& tree = {},
                          const model::MaterialList& materials = {}) {
    model::TransformIndexMap indices;
    for (size_t i = 0; i < tree.size(); ++i) indices[tree[i]] = int32_t(i);
    model::MemBinaryFileW sink;
    model::NodeWriter10 writer(sink, indices, materials);
    node.accept(writer);
    std::string out = hex(sink.getData()) + "|";
    for (size_t i = 0; i < sink.getStrings().size(); ++i) out += std::string(i ? "," : "") + sink.getStrings().at(i);
    return out;
}

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

// -- meshes for the vertex passes

inline model::Vertices positions4(const std::vector<float>& xyzw) {
    model::Vertices v;
    v.setAttribute(model::POSITION0, 4, xyzw);
    return v;
}

// (x, y, z, 0) from triples.
inline model::Vertices points(const std::vector<float>& xyz) {
    std::vector<float> data;
    for (std::size_t i = 0; i + 3 <= xyz.size(); i += 3) data.insert(data.end(), {xyz[i], xyz[i + 1], xyz[i + 2], 0});
    return positions4(data);
}

inline model::Indices indexList(std::vector<std::uint32_t> indices, std::uint32_t kind = 5) {
    model::Indices out;
    out.primitiveKind = kind;
    out.indices = std::move(indices);
    return out;
}

inline model::Ptr<model::PropertiesSet> materialFor(const model::Vertices& v, const std::string& name = "paint") {
    auto m = material("def_material", name);
    m->setVertexFormat(v.getFormat());
    return m;
}

inline model::Ptr<model::RenderNode> meshNode(const std::string& name, const model::Ptr<model::Node>& parent,
                                             const model::Ptr<model::BaseMaterial>& material,
                                             model::Vertices vertices, model::Indices indices) {
    auto node = make<model::RenderNode>("model::RenderNode", name);
    node->setParent(0, parent);
    node->setMaterial(material);
    node->replaceGeometry(std::move(vertices), std::move(indices));
    return node;
}

}  // namespace modeltest
