// Format 10 files compared byte for byte with files spelled out field by
// field: file order, string table, every record kind.

#include <gtest/gtest.h>

#include "StaticProperty.h"
#include "Writer10TestSupport.h"
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
#include "nodes/SegmentsNode.h"
#include "nodes/ShellNode.h"
#include "nodes/ShellSkinNode.h"
#include "nodes/SkinNode.h"
#include "nodes/TmpNumberRoot.h"
#include "nodes/TransformNode.h"

using namespace model;
using namespace writer10test;

namespace {

constexpr uint32_t kNone = 0xFFFFFFFFu;

// Render-node record of a mesh without vertices or indices under parent 0.
void emptyRenderRecord(Tav10& f, const std::string& nodeName, uint32_t materialIndex) {
    f.commonHeader("model::RenderNode", nodeName, 0).u32(0).u32(materialIndex);
    f.u32(1).u32(0).u32(kNone);   // one parent entry: transform 0, no damage argument
    f.u32(0).u32(0);              // no vertices: count 0, floats per vertex 0
    f.u8(0).u32(0).u32(5);        // no indices: width code 0, count 0, triangles
}

Ptr<RenderNode> renderNode(const std::string& nodeName, const Ptr<Node>& parent, const Ptr<PropertiesSet>& mat) {
    auto node = make<RenderNode>("model::RenderNode", nodeName);
    node->setParent(0, parent);
    if (mat) node->setMaterial(mat);
    return node;
}

}  // namespace

TEST(Writer10Layout, RootWithOnlyItsTopNodeIsPinnedByteExact) {
    const auto root = rootWithTop();
    const std::vector<uint8_t> bytes = writeModel(*root);

    Tav10 f;
    f.rootStart(0).rootEnd(0);
    f.u32(1).treeHeader("model::Node", "root");
    f.u32(kNone);  // the top node has no parent
    f.u32(0);      // no sections
    EXPECT_TRUE(sameBytes(bytes, f.file()));

    // Independent of the builder: the table holds the four strings in order
    // of first use, and the whole file is 303 bytes.
    const std::string table = std::string("model::RootNode") + '\0' + "model::Property<unsigned int>" + '\0' +
                              "__VERSION__" + '\0' + "model::Node" + '\0';
    ASSERT_EQ(bytes.size(), 303u);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 9), std::string("TAV\x0A\x00\x46\x00\x00\x00", 9));
    EXPECT_EQ(std::string(bytes.begin() + 9, bytes.begin() + 9 + 70), table);
    EXPECT_EQ(std::vector<uint8_t>(bytes.end() - 8, bytes.end()),
              (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0}));

    // Saved in two parts: up to the end of the string table, then the rest.
    std::vector<std::vector<uint8_t>> parts{{1, 2, 3}};
    ClassWriter10().writeParts(*root, parts);
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_EQ(parts[0], std::vector<uint8_t>(bytes.begin(), bytes.begin() + 9 + 70));
    EXPECT_EQ(parts[1], std::vector<uint8_t>(bytes.begin() + 9 + 70, bytes.end()));
}

TEST(Writer10Layout, RootWithoutTopNodeWritesNoTransformNodes) {
    auto root = make<RootNode>("model::RootNode");
    Tav10 f;
    f.rootStart(0).rootEnd(0).u32(0).u32(0);
    EXPECT_TRUE(sameBytes(writeModel(*root), f.file()));
}

TEST(Writer10Layout, TransformTreeIsWrittenPreOrderWithParentIndices) {
    auto top = make<Node>("model::Node", "root");
    auto moved = make<TransformNode>("model::TransformNode", "moved");
    Matrix44d m;
    m(3, 0) = 2.5;
    moved->setMatrix(m);
    auto leaf = make<Node>("model::Node", "leaf");
    auto lod = make<LodNode>("model::LodNode", "lod");
    lod->setRanges({{0.0, 100.0}, {100.0, 400.0}});
    top->addChild(moved);
    moved->addChild(leaf);
    top->addChild(lod);

    Tav10 f;
    f.rootStart(0).rootEnd(0).u32(4);
    f.treeHeader("model::Node", "root");
    f.treeHeader("model::TransformNode", "moved");
    for (int i = 0; i < 16; ++i) f.f64(i == 12 ? 2.5 : (i % 5 == 0 ? 1.0 : 0.0));
    f.treeHeader("model::Node", "leaf");
    f.treeHeader("model::LodNode", "lod").u32(2).f64(0).f64(100).f64(100).f64(400);
    f.u32(kNone).u32(0).u32(1).u32(0);
    f.u32(0);
    EXPECT_TRUE(sameBytes(writeModel(*rootWithTop(top)), f.file()));
}

TEST(Writer10Layout, RenderNodesSharingAMaterialWriteOneMaterialIndex) {
    auto top = make<Node>("model::Node", "root");
    auto shared = material("def_material", "paint");
    auto glass = material("glass_material", "window");
    auto root = rootWithTop(top);
    root->addRenderNode(renderNode("a", top, shared));
    root->addRenderNode(renderNode("b", top, glass));
    root->addRenderNode(renderNode("c", top, shared));

    Tav10 f;
    f.rootStart(2).plainMaterial("def_material", "paint").plainMaterial("glass_material", "window").rootEnd(0);
    f.u32(1).treeHeader("model::Node", "root").u32(kNone);
    f.u32(1).str("RENDER_NODES").u32(3);
    emptyRenderRecord(f, "a", 0);
    emptyRenderRecord(f, "b", 1);
    emptyRenderRecord(f, "c", 0);
    EXPECT_TRUE(sameBytes(writeModel(*root), f.file()));
}

TEST(Writer10Layout, RenderNodeWithSeveralParentsWritesEachEntryAndItsVertices) {
    auto top = make<Node>("model::Node", "root");
    auto child = make<Node>("model::Node", "child");
    top->addChild(child);
    auto node = renderNode("mesh", top, material("def_material", ""));
    node->addParentEntry(child, 7);
    Vertices vertices;
    vertices.setAttribute(POSITION0, 4, {1, 2, 3, 0, 4, 5, 6, 1});
    vertices.setAttribute(NORMAL0, 3, {0, 0, 1, 0, 1, 0});
    Indices indices;
    indices.indices = {0, 1, 1};
    node->replaceGeometry(vertices, indices);
    auto root = rootWithTop(top);
    root->addRenderNode(node);

    Tav10 f;
    f.rootStart(1).plainMaterial("def_material", "").rootEnd(1);  // argument 7 is the one handle
    f.u32(2).treeHeader("model::Node", "root").treeHeader("model::Node", "child").u32(kNone).u32(0);
    f.u32(1).str("RENDER_NODES").u32(1);
    f.commonHeader("model::RenderNode", "mesh", 0).u32(0).u32(0);
    f.u32(2).u32(0).u32(0).u32(kNone).u32(1).u32(0).u32(7);
    f.u32(2).u32(7);
    for (float v : {1, 2, 3, 0, 0, 0, 1, 4, 5, 6, 1, 0, 1, 0}) f.f32(v);
    f.u8(0).u32(3).u32(5).u8(0).u8(1).u8(1);
    EXPECT_TRUE(sameBytes(writeModel(*root), f.file()));
}

// The index list is the last field of the file when a render node is last.
namespace {

struct WidthCase {
    uint32_t largest;
    uint8_t code;
    size_t width;
};

class Writer10IndexWidth : public testing::TestWithParam<WidthCase> {};

}  // namespace

TEST_P(Writer10IndexWidth, LargestIndexPicksTheWidthOfTheWholeList) {
    const WidthCase c = GetParam();
    auto top = make<Node>("model::Node", "root");
    auto node = renderNode("mesh", top, material("def_material", ""));
    Indices indices;
    for (uint32_t i = 0; i < 256; ++i) indices.indices.push_back(i);
    indices.indices.push_back(c.largest);
    node->replaceGeometry(Vertices(), indices);
    auto root = rootWithTop(top);
    root->addRenderNode(node);

    const std::vector<uint8_t> bytes = writeModel(*root);
    Tav10 tail;
    tail.u8(c.code).u32(257).u32(5);
    for (uint32_t i : indices.indices) {
        if (c.width == 1) tail.u8(uint8_t(i));
        else if (c.width == 2) tail.u16(uint16_t(i));
        else tail.u32(i);
    }
    ASSERT_GE(bytes.size(), tail.body.size());
    EXPECT_EQ(std::vector<uint8_t>(bytes.end() - ptrdiff_t(tail.body.size()), bytes.end()), tail.body);
}

INSTANTIATE_TEST_SUITE_P(Writer10Widths, Writer10IndexWidth,
                         testing::Values(WidthCase{255, 0, 1}, WidthCase{256, 1, 2}, WidthCase{65535, 1, 2},
                                         WidthCase{65536, 2, 4}));

// Textures: (slot, file) in, slots written out.
struct SlotCase {
    std::vector<std::pair<size_t, std::string>> given;
    std::vector<std::pair<size_t, std::string>> written;
};

class Writer10TextureSlots : public testing::TestWithParam<SlotCase> {};

TEST_P(Writer10TextureSlots, Slot13HidesSlot2Only) {
    const SlotCase c = GetParam();
    auto top = make<Node>("model::Node", "root");
    auto mat = material("def_material", "m");
    for (const auto& [slot, file] : c.given) mat->setTexture(slot, makeTexture(file));
    auto root = rootWithTop(top);
    root->addRenderNode(renderNode("mesh", top, mat));

    Tav10 f;
    f.rootStart(1).u32(10).str("BLENDING").u8(0).str("DEPTH_BIAS").u32(0).str("VERTEX_FORMAT").u32(26);
    for (int i = 0; i < 26; ++i) f.u8(0);
    f.str("TEXTURE_COORDINATES_CHANNELS").u32(13);
    for (int i = 0; i < 13; ++i) f.u32(kNone);
    f.str("MATERIAL_NAME").str("def_material").str("NAME").str("m").str("SHADOWS").u8(1);
    f.str("TEXTURES").u32(uint32_t(c.written.size()));
    for (const auto& [slot, file] : c.written) {
        f.u32(uint32_t(slot)).u32(kNone).str(file).u32(2).u32(2).u32(10).u32(6);
        for (int i = 0; i < 16; ++i) f.f32(i % 5 == 0 ? 1.0f : 0.0f);
    }
    f.str("UNIFORMS").u32(0).str("ANIMATED_UNIFORMS").u32(0).rootEnd(0);
    f.u32(1).treeHeader("model::Node", "root").u32(kNone);
    f.u32(1).str("RENDER_NODES").u32(1);
    emptyRenderRecord(f, "mesh", 0);
    EXPECT_TRUE(sameBytes(writeModel(*root), f.file()));
}

INSTANTIATE_TEST_SUITE_P(Writer10Slots, Writer10TextureSlots,
    testing::Values(SlotCase{{{2, "shadowed.dds"}, {13, "shadowing.dds"}}, {{13, "shadowing.dds"}}},
                    SlotCase{{{2, "alone.dds"}}, {{2, "alone.dds"}}},
                    SlotCase{{{13, "late.dds"}, {0, "base.dds"}, {2, "x.dds"}}, {{0, "base.dds"}, {13, "late.dds"}}}));

class Writer10SkinBox : public testing::TestWithParam<BoundingBox> {};

TEST_P(Writer10SkinBox, OnlyAValidBoxIsWritten) {
    const BoundingBox box = GetParam();
    auto top = make<Node>("model::Node", "root");
    auto skin = make<SkinNode>("model::SkinNode", "skin");
    skin->setMaterial(material("def_material", ""));
    skin->setBones({top});
    skin->setBoundingBox(box);
    auto root = rootWithTop(top);
    root->addRenderNode(skin);

    Tav10 f;
    f.rootStart(1).plainMaterial("def_material", "").rootEnd(0);
    f.u32(1).treeHeader("model::Node", "root").u32(kNone);
    f.u32(1).str("RENDER_NODES").u32(1);
    f.commonHeader("model::SkinNode", "skin", 0).u32(0).u32(0);
    f.u32(1).u32(0).u32(kNone);
    if (box.isValid())
        for (const osg::Vec3f* corner : {&box.minimum, &box.maximum}) f.f32(corner->x()).f32(corner->y()).f32(corner->z());
    f.u32(0).u32(0).u8(0).u32(0).u32(5);
    EXPECT_TRUE(sameBytes(writeModel(*root), f.file()));
}

INSTANTIATE_TEST_SUITE_P(Writer10Boxes, Writer10SkinBox,
                         testing::Values(BoundingBox::empty(), BoundingBox::fromValues(-1, -2, -3, 1, 2, 3),
                                         BoundingBox::fromValues(0, 0, 0, 0, 0, 0),
                                         BoundingBox::fromValues(1, 0, 0, -1, 5, 5)));

// Which channel lists are filled decides the class name the node is saved
// under; the record body is the same in every case.
namespace {

struct SavedTypeCase {
    bool position, rotation, scale;
    const char* cls;
    uint32_t handles;
};

class Writer10SavedType : public testing::TestWithParam<SavedTypeCase> {};

}  // namespace

TEST_P(Writer10SavedType, AnimationNodeIsSavedUnderTheTypeOfItsChannels) {
    const SavedTypeCase c = GetParam();
    auto anim = make<ArgAnimationNode>("model::ArgAnimationNode", "anim");
    if (c.position) anim->setPositionAnimations({{4, {{0.5, {1, 2, 3}}}}});
    if (c.rotation) anim->setRotationAnimations({{5, {{0.25, {0, 0, 1, 0}}}}});
    if (c.scale) anim->setScaleAnimations({{6, {{0.0, {0, 1, 0, 0}}}, {{1.0, {2, 2, 2}}, {2.0, {3, 3, 3}}}}});

    Tav10 f;
    f.rootStart(0).rootEnd(c.handles).u32(1);
    f.treeHeader(c.cls, "anim").identity44();
    f.d3(0, 0, 0).f64(0).f64(0).f64(0).f64(1).f64(0).f64(0).f64(0).f64(1).d3(1, 1, 1);
    if (c.position) f.u32(1).u32(4).u32(1).f64(0.5).d3(1, 2, 3);
    else f.u32(0);
    if (c.rotation) f.u32(1).u32(5).u32(1).f64(0.25).f64(0).f64(0).f64(1).f64(0);
    else f.u32(0);
    if (c.scale) {
        f.u32(1).u32(6).u32(1).f64(0.0).f64(0).f64(1).f64(0).f64(0);
        f.u32(2).f64(1.0).d3(2, 2, 2).f64(2.0).d3(3, 3, 3);
    } else {
        f.u32(0);
    }
    f.u32(kNone).u32(0);
    EXPECT_TRUE(sameBytes(writeModel(*rootWithTop(anim)), f.file()));
}

INSTANTIATE_TEST_SUITE_P(Writer10Channels, Writer10SavedType,
                         testing::Values(SavedTypeCase{false, true, false, "model::ArgRotationNode", 1},
                                         SavedTypeCase{false, false, false, "model::ArgScaleNode", 0},
                                         SavedTypeCase{false, false, true, "model::ArgScaleNode", 1},
                                         SavedTypeCase{true, false, false, "model::ArgPositionNode", 1},
                                         SavedTypeCase{true, true, true, "model::ArgAnimationNode", 3},
                                         SavedTypeCase{true, false, true, "model::ArgAnimationNode", 2}));

TEST(Writer10Layout, TreeKindsWriteTheirOwnTails) {
    auto top = make<TmpNumberRoot>("model::TmpNumberRoot", "digits");
    auto board = make<BillboardNode>("model::BillboardNode", "board");
    board->setBillboardSetting1(0x1234);
    board->setBillboardSetting2(0xFFFFFF07);
    board->setAxis({0, 0, 1});
    auto bone = make<Bone>("model::Bone", "bone");
    Matrix44d bm;
    bm(0, 0) = 2.0;
    bone->setBoneMatrix(bm);
    auto animBone = make<ArgAnimatedBone>("model::ArgAnimatedBone", "abone");
    auto vis = make<ArgVisibilityNode>("model::ArgVisibilityNode", "vis");
    vis->setEntries({{9, {{0.0, 0.5}, {0.7, 1.0}}}, {10, {}}});
    top->addChild(board);
    top->addChild(bone);
    top->addChild(animBone);
    top->addChild(vis);

    Tav10 f;
    f.rootStart(0).rootEnd(2).u32(5);
    f.treeHeader("model::Node", "digits");  // a number root in the making is a plain node
    f.str("model::BillboardNode").name("board").u32(0).u32(1).uintProperty("__VERSION__", 1);
    f.u8(0x34).u8(0x07).identity44().d3(0, 0, 1);
    f.treeHeader("model::Bone", "bone").identity44();
    for (int i = 0; i < 16; ++i) f.f64(i == 0 ? 2.0 : (i % 5 == 0 ? 1.0 : 0.0));
    f.treeHeader("model::ArgAnimatedBone", "abone").identity44();
    f.d3(0, 0, 0).f64(0).f64(0).f64(0).f64(1).f64(0).f64(0).f64(0).f64(1).d3(1, 1, 1).u32(0).u32(0).u32(0);
    f.identity44();
    f.treeHeader("model::ArgVisibilityNode", "vis").u32(2);
    f.u32(9).u32(2).f64(0.0).f64(0.5).f64(0.7).f64(1.0).u32(10).u32(0);
    f.u32(kNone).u32(0).u32(0).u32(0).u32(0).u32(0);
    EXPECT_TRUE(sameBytes(writeModel(*rootWithTop(top)), f.file()));
}

TEST(Writer10Layout, BaseNodeSectionsComeInFixedOrderWithTheirRecords) {
    auto top = make<Node>("model::Node", "root");
    auto arm = make<Node>("model::Node", "arm");
    top->addChild(arm);
    auto root = rootWithTop(top);

    auto lamp = make<LightNode>("model::LightNode", "lamp");
    lamp->setParent(0, arm);
    lamp->setLightKind(0x101);
    lamp->setTexture(makeTexture("glow.dds"));
    root->addLight(lamp);

    auto segments = make<SegmentsNode>("model::SegmentsNode", "rails");
    segments->setParent(0, top);
    segments->setSegments({{{1, 2, 3}, {4, 5, 6}}});
    auto hull = make<ShellNode>("model::ShellNode", "hull");
    hull->setParent(0, arm);
    Vertices hullVertices;
    hullVertices.setAttribute(POSITION0, 3, {7, 8, 9});
    hull->setVertices(hullVertices);
    Indices hullIndices;
    hullIndices.indices = {0, 0, 0};
    hull->setIndices(hullIndices);
    auto skinHull = make<ShellSkinNode>("model::ShellSkinNode", "skinhull");
    skinHull->setBones({arm, top});
    skinHull->setDamageArgument(3);
    root->addShellNode(segments);
    root->addShellNode(hull);
    root->addShellNode(skinHull);

    auto hook = make<Connector>("model::Connector", "hook");
    hook->setParent(0, arm);
    auto type = make<StringProperty>("model::Property<const char*>");
    type->setName("type");
    type->setValue("bolt");
    hook->addProperty(type);
    root->addConnector(hook);

    Tav10 f;
    f.rootStart(0).rootEnd(1);
    f.u32(2).treeHeader("model::Node", "root").treeHeader("model::Node", "arm").u32(kNone).u32(0);
    f.u32(3);
    f.str("CONNECTORS").u32(1);
    f.str("model::Connector").name("hook").u32(0).u32(1);
    f.str("model::Property<const char*>").str("type").str("bolt");
    f.u32(1).u32(0);
    f.str("SHELL_NODES").u32(3);
    f.commonHeader("model::SegmentsNode", "rails", 0).u32(0).u32(1).f32(1).f32(2).f32(3).f32(4).f32(5).f32(6);
    f.commonHeader("model::ShellNode", "hull", 0).u32(1).u32(26).u8(3);
    for (int i = 1; i < 26; ++i) f.u8(0);
    f.u32(1).u32(3).f32(7).f32(8).f32(9).u8(0).u32(3).u32(5).u8(0).u8(0).u8(0);
    f.commonHeader("model::ShellSkinNode", "skinhull", 0).u32(2).u32(1).u32(0).u32(3).u32(26);
    for (int i = 0; i < 26; ++i) f.u8(0);
    f.u32(0).u32(0).u8(0).u32(0).u32(5);
    f.str("LIGHT_NODES").u32(1);
    f.commonHeader("model::LightNode", "lamp", 2).u32(1).u8(0x01).u32(7);
    f.str("model::Property<osg::Vec3f>").str("color").f32(0).f32(0).f32(0);
    for (const char* p : {"brightness", "phi", "theta", "distance", "specularAmount", "softness"})
        f.str("model::Property<float>").str(p).f32(std::string(p) == "specularAmount" ? 1.0f : 0.0f);
    f.u8(1).u32(kNone).str("glow.dds").u32(2).u32(2).u32(10).u32(6);
    for (int i = 0; i < 16; ++i) f.f32(i % 5 == 0 ? 1.0f : 0.0f);
    EXPECT_TRUE(sameBytes(writeModel(*root), f.file()));
}

namespace {

// A fake light set of each family, the animated ones with one light.
Ptr<RootNode> fakeLightsModel() {
    auto top = make<Node>("model::Node", "root");
    auto root = rootWithTop(top);
    auto mat = material("fake_omni_lights2", "");

    FakeOmniLight omniLight;
    omniLight.position = {1, 2, 3};
    omniLight.uvStart.set(0.25f, 0.75f);
    omniLight.uvEnd.set(0.75f, 0.0f);
    omniLight.size = 2.0f;
    FakeSpotLight spotLight;
    spotLight.position = {4, 5, 6};
    spotLight.size = 3.0f;
    spotLight.backUvEnd.set(1.0f, 0.5f);
    spotLight.backSide = 1;
    std::vector<float> curve(128);
    for (size_t i = 0; i < curve.size(); ++i) curve[i] = float(i) / 127.0f;

    auto omni = make<FakeOmniLightsNode>("model::FakeOmniLightsNode", "omni");
    auto spot = make<FakeSpotLightsNode>("model::FakeSpotLightsNode", "spot");
    auto animOmni = make<AnimatedFakeOmniLightsNode>("model::AnimatedFakeOmniLightsNode", "aomni");
    auto animSpot = make<AnimatedFakeSpotLightsNode>("model::AnimatedFakeSpotLightsNode", "aspot");
    omni->setLights({omniLight});
    animOmni->setLights({omniLight});
    animOmni->setArgument(12);
    animOmni->setAnimationData(curve);
    spot->setLights({spotLight});
    spot->setDirection(0, {0, 0, -1});
    animSpot->setDirection(0, {0, 0, -1});
    animSpot->setLights({spotLight});
    animSpot->setArgument(13);
    animSpot->setAnimationData(curve);
    for (const Ptr<BaseRenderNode>& n : std::vector<Ptr<BaseRenderNode>>{omni, spot, animOmni, animSpot}) {
        n->setParent(0, top);
        n->setMaterial(mat);
        root->addRenderNode(n);
    }
    return root;
}

}  // namespace

TEST(Writer10Layout, FakeLightSetsWriteLightsAndAnimationCurves) {
    Tav10 f;
    f.rootStart(1).plainMaterial("fake_omni_lights2", "").rootEnd(2);
    f.u32(1).treeHeader("model::Node", "root").u32(kNone);
    f.u32(1).str("RENDER_NODES").u32(4);
    const auto omniBody = [&f] {
        f.u32(1).u32(0).u32(0).u32(1).d3(1, 2, 3).f32(0.25f).f32(0.75f).f32(0.75f).f32(0.0f).f32(2.0f).u32(0);
    };
    const auto spotBody = [&f] {
        f.u32(1).u32(0).u32(0).f32(0).f32(0).f32(-1);
        f.u32(1).d3(4, 5, 6).f32(0).f32(0).f32(0).f32(0).f32(3.0f).u32(0);
        f.f32(0).f32(0).f32(1.0f).f32(0.5f).u8(1);
    };
    const auto curve = [&f](uint32_t argument) {
        f.u32(argument).u32(128).u32(128);
        for (int i = 0; i < 128; ++i) f.f32(float(i) / 127.0f);
    };
    f.commonHeader("model::FakeOmniLightsNode", "omni", 0).u32(0).u32(0);
    omniBody();
    f.commonHeader("model::FakeSpotLightsNode", "spot", 1).u32(0).u32(0);
    spotBody();
    f.commonHeader("model::AnimatedFakeOmniLightsNode", "aomni", 0).u32(0).u32(0);
    omniBody();
    curve(12);
    f.commonHeader("model::AnimatedFakeSpotLightsNode", "aspot", 1).u32(0).u32(0);
    spotBody();
    curve(13);
    EXPECT_TRUE(sameBytes(writeModel(*fakeLightsModel()), f.file()));
}

TEST(Writer10Layout, NumberNodeAppendsOneControlListPerParentEntry) {
    auto top = make<Node>("model::Node", "root");
    auto number = make<NumberNode>("model::NumberNode", "digits");
    number->setParent(0, top);
    number->setMaterial(material("def_material", ""));
    number->addControlEntry({{3, 0.5f, -1, 0.0f}, {4, 1.5f, 5, 2.5f}});
    auto root = rootWithTop(top);
    root->addRenderNode(number);

    Tav10 f;
    f.rootStart(1).plainMaterial("def_material", "").rootEnd(3);
    f.u32(1).treeHeader("model::Node", "root").u32(kNone);
    f.u32(1).str("RENDER_NODES").u32(1);
    f.commonHeader("model::NumberNode", "digits", 0).u32(0).u32(0);
    f.u32(1).u32(0).u32(kNone).u32(0).u32(0).u8(0).u32(0).u32(5);
    f.u32(2).u32(3).f32(0.5f).u32(kNone).f32(0.0f).u32(4).f32(1.5f).u32(5).f32(2.5f);
    EXPECT_TRUE(sameBytes(writeModel(*root), f.file()));
}

TEST(Writer10Layout, OneWriterWritesTheSameFileTwice) {
    auto root = fakeLightsModel();
    ClassWriter10 writer;
    std::vector<uint8_t> first, second{1, 2, 3};
    writer.write(*root, first);
    writer.write(*root, second);
    EXPECT_EQ(first, second);
    EXPECT_EQ(writer.version(), 10u);
}
