#pragma once
// Shared helpers of the format 10 writer tests, with the node classes they
// write. Expected bytes are written
// out as hex pins taken from files checked once by hand; nothing here knows
// the layout, so a change of the writer cannot hide in a matching change of
// a test builder.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "PropertiesSet.h"
#include "TestObjects.h"
#include "io/10/ClassWriter10.h"
#include "io/10/NodeWriter10.h"
#include "io/10/PrimitiveWriter10.h"
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

namespace writer10test {

using testobjects::make;

inline std::string hex(const std::vector<uint8_t>& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (uint8_t b : bytes) out += {digits[b >> 4], digits[b & 15]};
    return out;
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

}  // namespace writer10test
