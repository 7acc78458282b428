// Format 2.0 files compared byte for byte with files spelled out field by
// field: file order, tree blocks, every record kind, pool sharing.

#include <gtest/gtest.h>

#include <bit>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "AnimatedProperty.h"
#include "StaticProperty.h"
#include "Writer20TestSupport.h"
#include "io/ClassWriterFactory.h"
#include "nodes/ArgAnimatedBone.h"
#include "nodes/ArgAnimationNode.h"
#include "nodes/ArgVisibilityNode.h"
#include "nodes/Bone.h"
#include "nodes/Connector.h"
#include "nodes/RenderNode.h"
#include "nodes/ShellNode.h"
#include "nodes/TransformNode.h"

using namespace model;
using namespace writer20test;

namespace {

template <class P>
Ptr<P> property(const char* cls, const std::string& name) {
    auto p = make<P>(cls);
    p->setName(name);
    return p;
}

Matrix44d counting() {
    Matrix44d m;
    for (int i = 0; i < 16; ++i) m.m[i] = 0.5 * i + 0.25;
    return m;
}

Tav20& countingFloats(Tav20& f) {
    for (int i = 0; i < 16; ++i) f.f32(float(0.5 * i + 0.25));
    return f;
}

}  // namespace

TEST(Writer20Layout, PlainTopNodeIsPinnedByteExact) {
    const std::vector<uint8_t> bytes = writeModel(*rootWith(make<Node>("model::Node", "root")));

    Tav20 f;
    f.trees();
    f.u32(1).plain("NODE", "root").topo(0);
    f.u32(1).plain("NODE", "").topo(0);  // the fresh visibility root, unnamed
    EXPECT_TRUE(sameBytes(bytes, f.file()));

    // Independent of the builder: 8 + 76 header bytes, then "BUFF", the pool
    // "root\0" (the empty name reuses its NUL at offset 4) and the trees.
    ASSERT_EQ(bytes.size(), 84u + 8 + 5 + 12 + 2 * (4 + 12 + 8));
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 8), std::string("TAV2\0\0\0\0", 8));
    EXPECT_EQ(std::string(bytes.begin() + 84, bytes.begin() + 97), std::string("BUFF\x05\0\0\0root\0", 13));
    const std::vector<uint8_t> visibilityBlock{1, 0, 0, 0, 'N', 'O', 'D', 'E', 4, 0, 0, 0, 0, 0, 0, 0,
                                               0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(std::vector<uint8_t>(bytes.end() - 24, bytes.end()), visibilityBlock);
}

TEST(Writer20Layout, HeaderCarriesHandleCountAndTheThreeBoxesAsStored) {
    auto top = make<ArgVisibilityNode>("model::ArgVisibilityNode", "v");
    top->setEntries({{3, {}}, {8, {}}});
    auto root = rootWith(make<Node>("model::Node", "top"));
    root->getTopNode()->addChild(top);
    root->setBoundingBox(BoundingBox::fromValues(-1, -2, -3, 1, 2, 3));
    root->setUserBox(BoundingBox::fromValues(-4, -5, -6, 4, 5, 6));
    root->setLightBox(BoundingBox::fromValues(-7, -8, -9, 7, 8, 9));
    const std::vector<uint8_t> bytes = writeModel(*root);

    Tav20 head;
    head.tag("TAV2").u32(0).u32(2);
    for (float v : {-1, -2, -3, 1, 2, 3, -4, -5, -6, 4, 5, 6, -7, -8, -9, 7, 8, 9}) head.f32(v);
    head.tag("BUFF");
    ASSERT_GE(bytes.size(), head.records.size());
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + head.records.size()), head.records);
}

TEST(Writer20Layout, RootWithoutTopNodeWritesAnEmptyTransformTree) {
    auto root = make<RootNode>("model::RootNode");
    Tav20 f;
    f.trees().u32(0);
    f.u32(1).plain("NODE", "").topo(0);
    EXPECT_TRUE(sameBytes(writeModel(*root), f.file()));
}

TEST(Writer20Layout, TransformBoneAndPropertiesRecordsConvertToFloats) {
    auto top = make<TransformNode>("model::TransformNode", "xf");
    top->setMatrix(counting());
    auto bone = make<Bone>("model::Bone", "bone");
    Matrix44d boneMatrix;
    boneMatrix.m[12] = 7.0;
    bone->setBoneMatrix(boneMatrix);
    top->addChild(bone);

    auto f1 = property<FloatProperty>("model::Property<float>", "f1");
    f1->setValue(0.5f);
    auto f2 = property<Vec2fProperty>("model::Property<osg::Vec2f>", "f2");
    f2->setValue({1, 2});
    auto f3 = property<Vec3fProperty>("model::Property<osg::Vec3f>", "f3");
    f3->setValue({1, 2, 3});
    auto f4 = property<Vec4fProperty>("model::Property<osg::Vec4f>", "f4");
    f4->setValue({1, 2, 3, 4});
    auto i1 = property<UIntProperty>("model::Property<unsigned int>", "i1");
    i1->setValue(0xDEADBEEF);
    auto arg = property<ArgumentProperty>("model::ArgumentProperty", "arg");
    arg->setArgument(12);
    auto text = property<StringProperty>("model::Property<const char*>", "text");
    text->setValue("bone");  // equals a node name: shares its bytes
    for (const PropertyPtr& p : std::vector<PropertyPtr>{f1, f2, f3, f4, i1, arg, text}) bone->addProperty(p);

    Tav20 f;
    f.trees().u32(2);
    countingFloats(f.plain("TRND", "xf"));
    f.header("BONE", "bone").u32(7);
    f.tag("FLT1").str("f1").f32(0.5f);
    f.tag("FLT2").str("f2").f32(1).f32(2);
    f.tag("FLT3").str("f3").f32(1).f32(2).f32(3);
    f.tag("FLT4").str("f4").f32(1).f32(2).f32(3).f32(4);
    f.tag("INT1").str("i1").u32(0xDEADBEEF);
    f.tag("AARG").str("arg").u32(12);
    f.tag("STRG").str("text").str("bone");
    f.identity();
    for (int i = 0; i < 16; ++i) f.f32(i == 12 ? 7.0f : (i % 5 == 0 ? 1.0f : 0.0f));
    f.topo(0, {1}).topo(1);
    f.u32(1).plain("NODE", "").topo(0);
    EXPECT_TRUE(sameBytes(writeModel(*rootWith(top)), f.file(1)));  // the argument property's handle
    EXPECT_EQ(f.poolOffset("bone"), 3u);  // "xf\0bone\0": the string value found the name
}

TEST(Writer20Layout, AnimationChannelsWriteKeyBlocksIntoThePool) {
    auto anim = make<ArgAnimationNode>("model::ArgAnimationNode", "anim");
    anim->setBaseMatrix(counting());
    anim->setBasePosition({1, 2, 3});
    anim->setBaseRotation({0, 0, 0.5, 0.75});
    anim->setBaseScaleOrientation({0.25, 0, 0, 1});
    anim->setBaseScale({2, 3, 4});
    anim->setPositionAnimations({{4, {{0.0, {1, 2, 3}}, {0.5, {4, 5, 6}}}}});
    anim->setRotationAnimations({{5, {{1.0, {0, 0, 1, 0}}}}});
    anim->setScaleAnimations({{6, {{0.0, {0, 0, 0, 1}}}, {{0.0, {1, 1, 1}}, {2.0, {2, 2, 2}}}}});

    Tav20 f;
    f.trees().u32(1);
    countingFloats(f.plain("ANND", "anim"));
    for (float v : {1.0f, 2.0f, 3.0f, 0.0f, 0.0f, 0.5f, 0.75f, 0.25f, 0.0f, 0.0f, 1.0f, 2.0f, 3.0f, 4.0f}) f.f32(v);
    f.u32(1).u32(4).keys({0.0f, 0.5f}, {1, 2, 3, 4, 5, 6});
    f.u32(1).u32(5).keys({1.0f}, {0, 0, 1, 0});
    f.u32(1).u32(6).keys({0.0f}, {0, 0, 0, 1}).keys({0.0f, 2.0f}, {1, 1, 1, 2, 2, 2});
    f.topo(0);
    f.u32(1).plain("NODE", "").topo(0);
    EXPECT_TRUE(sameBytes(writeModel(*rootWith(anim)), f.file(3)));
}

TEST(Writer20Layout, AnimationNodeWithoutChannelsWritesThreeZeroCounts) {
    auto bone = make<ArgAnimatedBone>("model::ArgAnimatedBone", "ab");
    Matrix44d boneMatrix;
    boneMatrix.m[0] = 3.0;
    bone->setBoneMatrix(boneMatrix);

    Tav20 f;
    f.trees().u32(1);
    f.plain("ANBN", "ab").identity();
    for (float v : {0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 1, 1, 1, 1}) f.f32(v);
    f.u32(0).u32(0).u32(0);
    for (int i = 0; i < 16; ++i) f.f32(i == 0 ? 3.0f : (i % 5 == 0 ? 1.0f : 0.0f));
    f.topo(0);
    f.u32(1).plain("NODE", "").topo(0);
    EXPECT_TRUE(sameBytes(writeModel(*rootWith(bone)), f.file()));
}

TEST(Writer20Layout, VisibilityRecordUses64BitRangeCountAndOffset) {
    auto top = make<Node>("model::Node", "top");
    auto vis = make<ArgVisibilityNode>("model::ArgVisibilityNode", "vis");
    vis->setEntries({{7, {{0.0, 0.5}, {0.75, 1.0}}}, {9, {}}});
    vis->addProperty(property<FloatProperty>("model::Property<float>", "ignored"));
    top->addChild(vis);

    Tav20 f;
    f.trees().u32(1).plain("NODE", "top").topo(0);
    f.u32(2).plain("NODE", "");
    f.header("ANVS", "vis").u32(2);
    f.u32(7).u64(2).u64(f.append({0.0f, 0.5f, 0.75f, 1.0f}));
    // No ranges: nothing appended, the offset is the pool's length then.
    f.u32(9).u64(0).u64(f.pool.size());
    f.topo(0, {1}).topo(1);
    EXPECT_TRUE(sameBytes(writeModel(*rootWith(top)), f.file(2)));
}

TEST(Writer20Layout, AnimatedPropertyWithoutKeysPointsBothOffsetsAtThePoolEnd) {
    auto top = make<Node>("model::Node", "n");
    auto a1 = property<AnimatedFloatProperty>("model::AnimatedProperty<float>", "a1");
    a1->setArgument(2);
    a1->addKey(0.5, 0.25f);
    auto a2 = property<AnimatedVec2fProperty>("model::AnimatedProperty<osg::Vec2f>", "a2");
    a2->setArgument(3);
    a2->addKey(1.0, {1, 2});
    auto a3 = property<AnimatedVec3fProperty>("model::AnimatedProperty<osg::Vec3f>", "a3");
    a3->setArgument(4);
    auto a4 = property<AnimatedVec4fProperty>("model::AnimatedProperty<osg::Vec4f>", "a4");
    a4->setArgument(5);
    a4->addKey(0.0, {1, 2, 3, 4});
    a4->addKey(1.0, {5, 6, 7, 8});
    for (const PropertyPtr& p : std::vector<PropertyPtr>{a1, a2, a3, a4}) top->addProperty(p);

    Tav20 f;
    f.trees().u32(1).header("NODE", "n").u32(4);
    f.tag("AFL1").str("a1").u32(2).keys({0.5f}, {0.25f});
    f.tag("AFL2").str("a2").u32(3).keys({1.0f}, {1, 2});
    const uint32_t end = uint32_t(f.pool.size() + 3);  // after "a3\0"
    f.tag("AFL3").str("a3").u32(4).u32(0).u32(end).u32(end);
    f.tag("AFL4").str("a4").u32(5).keys({0.0f, 1.0f}, {1, 2, 3, 4, 5, 6, 7, 8});
    f.topo(0);
    f.u32(1).plain("NODE", "").topo(0);
    EXPECT_TRUE(sameBytes(writeModel(*rootWith(top)), f.file(4)));
}

TEST(Writer20Layout, EqualNamesShareAnOffsetAndTailsReuseEarlierBytes) {
    auto top = make<Node>("model::Node", "wheel_left");
    for (const char* name : {"left", "wheel_left", "eft", "", "wheel"}) top->addChild(make<Node>("model::Node", name));
    const std::vector<uint8_t> bytes = writeModel(*rootWith(top));

    // Pool: "wheel_left\0wheel\0"; "left" at 6, "eft" at 7, "" at 10.
    Tav20 f;
    f.trees().u32(6);
    for (uint32_t offset : {0u, 6u, 0u, 7u, 10u, 11u}) f.tag("NODE").u32(offset).u32(0);
    f.topo(0, {1, 2, 3, 4, 5});
    for (uint32_t i = 1; i < 6; ++i) f.topo(i);
    f.u32(1).tag("NODE").u32(10).u32(0).topo(0);
    f.pool = std::string("wheel_left\0wheel\0", 17);
    EXPECT_TRUE(sameBytes(bytes, f.file()));
}

TEST(Writer20Layout, NameSearchFindsBytesInsideEarlierKeyData) {
    // A key value whose float bytes are 'a' 'b' 'c' NUL: a later name "bc"
    // stands inside the key data, and the search covers every byte offset.
    const float abc = std::bit_cast<float>(0x00636261u);
    auto anim = make<ArgAnimationNode>("model::ArgAnimationNode", "");
    anim->setPositionAnimations({{1, {{0.0, {double(abc), double(abc), double(abc)}}}}});
    anim->addChild(make<Node>("model::Node", "bc"));

    Tav20 f;
    f.trees().u32(2);
    f.plain("ANND", "").identity();
    for (float v : {0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 1, 1, 1, 1}) f.f32(v);
    f.u32(1).u32(1).keys({0.0f}, {abc, abc, abc}).u32(0).u32(0);
    f.plain("NODE", "bc");
    f.topo(0, {1}).topo(1);
    f.u32(1).plain("NODE", "").topo(0);
    const std::vector<uint8_t> bytes = writeModel(*rootWith(anim));
    EXPECT_TRUE(sameBytes(bytes, f.file(1)));
    EXPECT_EQ(f.poolOffset("bc"), 6u);  // "\0" + time 0.0 + 'a' -> 'b' at 6
}

TEST(Writer20Layout, WriterServesSeveralSavesAndIsVersion20) {
    auto top = make<Node>("model::Node", "a");
    top->addChild(make<Node>("model::Node", "b"));
    auto root = rootWith(top);
    ClassWriter20 writer;
    std::vector<uint8_t> first, second{1, 2, 3};
    writer.write(*root, first);
    writer.write(*root, second);
    EXPECT_EQ(first, second);
    EXPECT_EQ(writer.version(), 20u);
    const auto made = makeClassWriter(20);
    ASSERT_TRUE(made);
    EXPECT_EQ(made->version(), 20u);
}

TEST(Writer20Layout, BaseNodesOtherThanConnectorsAreLeftOut) {
    auto top = make<Node>("model::Node", "top");
    auto root = rootWith(top);
    auto render = make<RenderNode>("model::RenderNode", "mesh");
    render->setParent(0, top);
    root->addRenderNode(render);
    auto shell = make<ShellNode>("model::ShellNode", "shell");
    shell->setParent(0, top);
    root->addShellNode(shell);
    EXPECT_TRUE(sameBytes(writeModel(*root), writeModel(*rootWith(make<Node>("model::Node", "top")))));
}

TEST(Writer20Layout, SaveThroughTheRootWritesTheWriterOutput) {
    auto top = make<Node>("model::Node", "saved");
    auto root = rootWith(top);
    const auto path = std::filesystem::temp_directory_path() / "writer20_save_test.tav";
    std::filesystem::remove(path);
    root->save(path.string(), 20);
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> onDisk{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    EXPECT_EQ(onDisk, writeModel(*root));
    std::filesystem::remove(path);
}
