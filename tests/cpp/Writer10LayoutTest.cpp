// Format 10 files and records pinned to exact bytes, one pin per record
// kind; the cases around them hold the output to the model they came from.

#include <array>
#include <tuple>
#include <utility>

#include "StaticProperty.h"
#include "ModelTestSupport.h"

using namespace model;
using namespace modeltest;

namespace {

std::string floatsHex(const std::vector<float>& floats) {
    std::vector<uint8_t> bytes(floats.size() * 4);
    std::memcpy(bytes.data(), floats.data(), bytes.size());
    return hex(bytes);
}

// The identity matrix and the empty box as a file holds them (f64 each).
const std::string kIdentity = "000000000000f03f" + std::string(64, '0') + "000000000000f03f" + std::string(64, '0') + "000000000000f03f" + std::string(64, '0') + "000000000000f03f";
const std::string kEmptyBox = "000000e0ffffef47000000e0ffffef47000000e0ffffef47000000e0ffffefc7000000e0ffffefc7000000e0ffffefc7";

void fillChannels(ArgAnimationNode& anim, bool position, bool rotation, bool scale) {
    if (position) anim.setPositionAnimations({{4, {{0.5, {1, 2, 3}}}}});
    if (rotation) anim.setRotationAnimations({{5, {{0.25, {0, 0, 1, 0}}}}});
    if (scale) anim.setScaleAnimations({{6, {{0.0, {0, 1, 0, 0}}}, {{1.0, {2, 2, 2}}, {2.0, {3, 3, 3}}}}});
}

std::string tailHex(const std::vector<uint8_t>& bytes, size_t n) {
    return hex(std::vector<uint8_t>(bytes.end() - ptrdiff_t(n), bytes.end()));
}

}  // namespace

TEST(Writer10Layout, RootWithOnlyItsTopNodeIsPinnedByteExact) {
    const auto root = rootWithTop();
    ClassWriter10 writer;
    std::vector<uint8_t> bytes{1, 2, 3};  // a used buffer is replaced
    writer.write(*root, bytes);
    EXPECT_EQ(hex(bytes), "5441560a00460000006d6f64656c3a3a526f6f744e6f6465006d6f64656c3a3a50726f70657274793c756e7369676e656420696e743e005f5f56455253494f4e5f5f006d6f64656c3a3a4e6f646500000000000000000000000000000000000000000001000000010000000200000003000000" + kEmptyBox + kEmptyBox + kEmptyBox + "000000000000000000000000010000000300000004000000726f6f740000000000000000ffffffff00000000");

    // The same writer again, in two parts: up to the end of the string table, then the rest.
    std::vector<std::vector<uint8_t>> parts{{1, 2, 3}};
    writer.writeParts(*root, parts);
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_EQ(parts[0], std::vector<uint8_t>(bytes.begin(), bytes.begin() + 9 + 70));
    EXPECT_EQ(parts[1], std::vector<uint8_t>(bytes.begin() + 9 + 70, bytes.end()));
    // Without a top node: no transform nodes, no sections.
    EXPECT_EQ(tailHex(writeModel(*make<RootNode>("model::RootNode")), 16), "00000000000000000000000000000000");
}

TEST(Writer10Layout, TransformTreeIsWrittenPreOrderWithParentIndices) {
    auto top = node("root"), leaf = node("leaf");
    auto moved = transform("moved", translation(2.5, 0, 0));
    auto lod = make<LodNode>("model::LodNode", "lod");
    lod->setRanges({{0.0, 100.0}, {100.0, 400.0}});
    top->addChild(moved);
    moved->addChild(leaf);
    top->addChild(lod);
    // Parent indices of root, moved, leaf, lod, then no sections.
    EXPECT_EQ(tailHex(writeModel(*rootWithTop(top)), 20), "ffffffff000000000100000000000000" "00000000");
    EXPECT_EQ(record(*moved), "00000000050000006d6f7665640000000000000000000000000000f03f0000000000000000000000000000000000000000000000000000000000000000000000000000f03f0000000000000000000000000000000000000000000000000000000000000000000000000000f03f0000000000000000000000000000044000000000000000000000000000000000000000000000f03f|model::TransformNode");
    EXPECT_EQ(record(*lod), "00000000030000006c6f640000000000000000020000000000000000000000000000000000594000000000000059400000000000007940|model::LodNode");
}

TEST(Writer10Layout, RenderNodeWithSeveralParentsWritesEachEntryAndItsVertices) {
    auto top = node("root"), child = node("child");
    auto mat = material("def_material", "");
    Vertices vertices = positions4({1, 2, 3, 0, 4, 5, 6, 1});
    vertices.setAttribute(NORMAL0, 3, {0, 0, 1, 0, 1, 0});
    auto mesh = meshNode("mesh", top, mat, vertices, indexList({0, 1, 1}));
    mesh->addParentEntry(child, 7);
    // Material 1 of the list; entries, then vertices row by row, then indices.
    EXPECT_EQ(record(*mesh, {top.get(), child.get()}, {material("x", ""), mat}), "00000000040000006d65736800000000000000000000000001000000020000000000000000000000ffffffff01000000000000000700000002000000070000000000803f00000040000040400000000000000000000000000000803f000080400000a0400000c0400000803f000000000000803f00000000000300000005000000000101|model::RenderNode");
    auto single = meshNode("one", child, mat, {}, {});
    EXPECT_EQ(record(*single, {top.get(), child.get()}, {mat}), "00000000030000006f6e65000000000000000000000000000000000100000001000000ffffffff0000000000000000000000000005000000|model::RenderNode");
}

// The list {1, largest} and its record.
using WidthCase = std::pair<uint32_t, const char*>;
class Writer10IndexWidth : public testing::TestWithParam<WidthCase> {};

TEST_P(Writer10IndexWidth, LargestIndexPicksTheWidthOfTheWholeList) {
    const Indices indices = indexList({1, GetParam().first});
    EXPECT_EQ(primitiveRecord([&](PrimitiveWriter10& w) { w.writeIndices(indices); }), GetParam().second);
}

INSTANTIATE_TEST_SUITE_P(Writer10Widths, Writer10IndexWidth,
                         testing::Values(WidthCase{255, "0002000000050000" "0001ff"},
                                         WidthCase{256, "0102000000050000" "0001000001"}, WidthCase{65535, "0102000000050000" "000100ffff"},
                                         WidthCase{65536, "0202000000050000" "000100000000000100"},
                                         WidthCase{0xFFFFFFFF, "0202000000050000" "0001000000ffffffff"}));

class Writer10SkinBox : public testing::TestWithParam<BoundingBox> {};

TEST_P(Writer10SkinBox, OnlyAValidBoxIsWritten) {
    const BoundingBox box = GetParam();
    auto top = node("root"), arm = node("arm");
    auto mat = material("def_material", "");
    auto skin = make<SkinNode>("model::SkinNode", "skin");
    skin->setMaterial(mat);
    skin->setBones({arm, top});
    skin->setDamageArgument(3);
    skin->setBoundingBox(box);
    const std::string corners = floatsHex({box.minimum.x(), box.minimum.y(), box.minimum.z(), box.maximum.x(), box.maximum.y(), box.maximum.z()});
    // Only a valid box adds its corners to the record.
    EXPECT_EQ(record(*skin, {top.get(), arm.get()}, {mat}), "0000000004000000736b696e0000000000000000000000000000000002000000010000000000000003000000" + (box.isValid() ? corners : "") + "0000000000000000000000000005000000|model::SkinNode");
}

INSTANTIATE_TEST_SUITE_P(Writer10Boxes, Writer10SkinBox,
                         testing::Values(BoundingBox::empty(), BoundingBox::fromValues(-1, -2, -3, 1, 2, 3),
                                         BoundingBox::fromValues(0, 0, 0, 0, 0, 0),
                                         BoundingBox::fromValues(1, 0, 0, -1, 5, 5)));

TEST(Writer10Layout, AnimationNodeIsSavedUnderTheTypeOfItsChannels) {
    const std::vector<std::pair<std::array<bool, 3>, std::string>> cases{
        {{false, true, false}, "model::ArgRotationNode"}, {{false, false, false}, "model::ArgScaleNode"},
        {{false, false, true}, "model::ArgScaleNode"},    {{true, false, false}, "model::ArgPositionNode"},
        {{true, true, true}, "model::ArgAnimationNode"},  {{true, false, true}, "model::ArgAnimationNode"}};
    for (const auto& [channels, cls] : cases) {
        auto anim = make<ArgAnimationNode>("model::ArgAnimationNode", "anim");
        fillChannels(*anim, channels[0], channels[1], channels[2]);
        const std::string r = record(*anim);
        EXPECT_EQ(r.substr(r.find('|') + 1), cls);
    }
}

TEST(Writer10Layout, TreeKindsWriteTheirOwnTails) {
    auto anim = make<ArgAnimationNode>("model::ArgAnimationNode", "anim");
    fillChannels(*anim, true, true, true);
    EXPECT_EQ(record(*anim), "0000000004000000616e696d0000000000000000" + kIdentity + "000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000f03f000000000000000000000000000000000000000000000000000000000000f03f000000000000f03f000000000000f03f000000000000f03f010000000400000001000000000000000000e03f000000000000f03f00000000000000400000000000000840010000000500000001000000000000000000d03f00000000000000000000000000000000000000000000f03f000000000000000001000000060000000100000000000000000000000000000000000000000000000000f03f0000000000000000000000000000000002000000000000000000f03f0000000000000040000000000000004000000000000000400000000000000040000000000000084000000000000008400000000000000840|model::ArgAnimationNode");
    auto board = make<BillboardNode>("model::BillboardNode", "board");
    board->setBillboardSetting1(0x1234);
    board->setBillboardSetting2(0xFFFFFF07);
    board->setAxis({0, 0, 1});
    EXPECT_EQ(record(*board), "0000000005000000626f61726400000000010000000100000002000000010000003407" + kIdentity + "00000000000000000000000000000000000000000000f03f|model::BillboardNode,model::Property<unsigned int>,__VERSION__");
    auto bone = make<Bone>("model::Bone", "bone");
    Matrix44d bm;
    bm(0, 0) = 2.0;
    bone->setBoneMatrix(bm);
    EXPECT_EQ(record(*bone), "0000000004000000626f6e650000000000000000" + kIdentity + "00000000000000400000000000000000000000000000000000000000000000000000000000000000000000000000f03f0000000000000000000000000000000000000000000000000000000000000000000000000000f03f0000000000000000000000000000000000000000000000000000000000000000000000000000f03f|model::Bone");
    auto animBone = make<ArgAnimatedBone>("model::ArgAnimatedBone", "abone");
    animBone->setBoneMatrix(bm);
    EXPECT_EQ(record(*animBone), "000000000500000061626f6e650000000000000000" + kIdentity + "000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000f03f000000000000000000000000000000000000000000000000000000000000f03f000000000000f03f000000000000f03f000000000000f03f00000000000000000000000000000000000000400000000000000000000000000000000000000000000000000000000000000000000000000000f03f0000000000000000000000000000000000000000000000000000000000000000000000000000f03f0000000000000000000000000000000000000000000000000000000000000000000000000000f03f|model::ArgAnimatedBone");
    auto vis = make<ArgVisibilityNode>("model::ArgVisibilityNode", "vis");
    vis->setEntries({{9, {{0.0, 0.5}, {0.7, 1.0}}}, {10, {}}});
    EXPECT_EQ(record(*vis), "000000000300000076697300000000000000000200000009000000020000000000000000000000000000000000e03f666666666666e63f000000000000f03f0a00000000000000|model::ArgVisibilityNode");
    // A number root in the making is saved as a plain node.
    EXPECT_EQ(record(*make<TmpNumberRoot>("model::TmpNumberRoot", "digits")), "00000000060000006469676974730000000000000000|model::Node");
}

TEST(Writer10Layout, BaseNodeSectionsComeInFixedOrderWithTheirRecords) {
    auto top = node("root"), arm = node("arm");
    top->addChild(arm);
    auto root = rootWithTop(top);
    const std::vector<const Node*> tree{top.get(), arm.get()};

    auto lamp = under<LightNode>(arm, "model::LightNode", "lamp");
    lamp->setLightKind(0x101);
    lamp->setTexture(makeTexture("glow.dds"));
    root->addLight(lamp);
    auto segments = under<SegmentsNode>(top, "model::SegmentsNode", "rails");
    segments->setSegments({{{1, 2, 3}, {4, 5, 6}}});
    auto hull = under<ShellNode>(arm, "model::ShellNode", "hull");
    hull->getVertices().setAttribute(POSITION0, 3, {7, 8, 9});
    hull->getIndices().indices = {0, 0, 0};
    auto skinHull = make<ShellSkinNode>("model::ShellSkinNode", "skinhull");
    skinHull->setBones({arm, top});
    skinHull->setDamageArgument(3);
    for (const Ptr<BaseShellNode>& shell : std::vector<Ptr<BaseShellNode>>{segments, hull, skinHull})
        root->addShellNode(shell);
    auto hook = under<Connector>(arm, "model::Connector", "hook");
    hook->addProperty(property<StringProperty>("type", "bolt"));
    root->addConnector(hook);

    // Only the string table holds the section tags, in the order they are written.
    const std::vector<uint8_t> bytes = writeModel(*root);
    const std::string table(bytes.begin(), bytes.end());
    EXPECT_LT(table.find("CONNECTORS"), table.find("SHELL_NODES"));
    EXPECT_LT(table.find("SHELL_NODES"), table.find("LIGHT_NODES"));
    EXPECT_EQ(table.find("RENDER_NODES"), std::string::npos);
    EXPECT_EQ(record(*hook, tree), "0000000004000000686f6f6b00000000010000000100000002000000030000000100000000000000|model::Connector,model::Property<const char*>,type,bolt");
    EXPECT_EQ(record(*segments, tree), "00000000050000007261696c73000000000000000000000000010000000000803f0000004000004040000080400000a0400000c040|model::SegmentsNode");
    EXPECT_EQ(record(*hull, tree), "000000000400000068756c6c0000000000000000010000001a000000030000000000000000000000000000000000000000000000000001000000030000000000e0400000004100001041000300000005000000000000|model::ShellNode");
    EXPECT_EQ(record(*skinHull, tree), "0000000008000000736b696e68756c6c0000000000000000020000000100000000000000030000001a00000000000000000000000000000000000000000000000000000000000000000000000000000000000005000000|model::ShellSkinNode");
    EXPECT_EQ(record(*lamp, tree), "00000000040000006c616d7000000000010000000100000002000000020000000100000001070000000300000004000000000000000000000000000000050000000600000000000000050000000700000000000000050000000800000000000000050000000900000000000000050000000a0000000000803f050000000b0000000000000001ffffffff0c00000002000000020000000a000000060000000000803f000000000000000000000000000000000000803f000000000000000000000000000000000000803f000000000000000000000000000000000000803f|model::LightNode,model::Property<unsigned int>,__VERSION__,model::Property<osg::Vec3f>,color,model::Property<float>,brightness,phi,theta,distance,specularAmount,softness,glow.dds");
}

TEST(Writer10Layout, FakeLightSetsWriteLightsAndAnimationCurves) {
    auto top = node("root");
    auto mat = material("fake_omni_lights2", "");
    std::vector<float> curve(128);
    for (size_t i = 0; i < curve.size(); ++i) curve[i] = float(i) / 127.0f;

    auto omni = under<AnimatedFakeOmniLightsNode>(top, "model::AnimatedFakeOmniLightsNode", "aomni");
    auto spot = under<AnimatedFakeSpotLightsNode>(top, "model::AnimatedFakeSpotLightsNode", "aspot");
    const auto animate = [&](auto& node, uint32_t argument, auto light) {
        node.setLights({light});
        node.setMaterial(mat);
        node.setArgument(argument);
        node.setAnimationData(curve);
    };
    animate(*omni, 12, FakeOmniLight{.position = {1, 2, 3}, .uvStart = {0.25f, 0.75f}, .uvEnd = {0.75f, 0.0f}, .size = 2});
    animate(*spot, 13, FakeSpotLight{.position = {4, 5, 6}, .size = 3, .backUvEnd = {1.0f, 0.5f}, .backSide = 1});
    spot->setDirection(0, {0, 0, -1});
    // Argument, samples per light, float count, then the curve as given.
    const std::string omniCurve = "0c00000080000000" "80000000" + floatsHex(curve);
    const std::string spotCurve = "0d" + omniCurve.substr(2);
    EXPECT_EQ(record(*omni, {top.get()}, {mat}), "0000000005000000616f6d6e690000000000000000000000000000000001000000000000000000000001000000000000000000f03f000000000000004000000000000008400000803e0000403f0000403f000000000000004000000000" + omniCurve + "|model::AnimatedFakeOmniLightsNode");
    EXPECT_EQ(record(*spot, {top.get()}, {mat}), "00000000050000006173706f74000000000100000001000000020000000100000000000000000000000100000000000000000000000000000000000000000080bf0100000000000000000010400000000000001440000000000000184000000000000000000000000000000000000040400000000000000000000000000000803f0000003f01" + spotCurve + "|model::AnimatedFakeSpotLightsNode,model::Property<unsigned int>,__VERSION__");
}

TEST(Writer10Layout, NumberNodeAppendsOneControlListPerParentEntry) {
    auto top = node("root");
    auto mat = material("def_material", "");
    auto number = under<NumberNode>(top, "model::NumberNode", "digits");
    number->setMaterial(mat);
    number->addControlEntry({{3, 0.5f, -1, 0.0f}, {4, 1.5f, 5, 2.5f}});
    EXPECT_EQ(record(*number, {top.get()}, {mat}), "0000000006000000646967697473000000000000000000000000000000000100000000000000ffffffff000000000000000000000000000500000002000000030000000000003fffffffff00000000040000000000c03f0500000000002040|model::NumberNode");
}

// (indices in the list, largest index, whether the image holds on to the
// node's own list): only lists of four-byte width and 1 MiB or more are held.
using HeldCase = std::tuple<uint32_t, uint32_t, bool>;
class Writer10ImageIndices : public testing::TestWithParam<HeldCase> {};

TEST_P(Writer10ImageIndices, EditOfTheMeshAfterItsImageWasMadeChangesTheImage) {
    const auto [count, largest, held] = GetParam();
    std::vector<uint32_t> list(count);
    for (uint32_t i = 0; i < count; ++i) list[i] = i % 3 ? i % 7 : largest;
    auto top = node("root");
    auto mesh = meshNode("big", top, material("def_material", ""), {}, indexList(list));
    auto root = rootWithTop(top);
    root->addRenderNode(mesh);
    const std::vector<uint8_t> file = writeModel(*root);

    FileImage image;
    ClassWriter10().writeImage(*root, image);
    const auto* own = reinterpret_cast<const uint8_t*>(std::as_const(*mesh).getIndices().indices.data());
    EXPECT_EQ(std::count_if(image.begin(), image.end(), [&](const FilePiece& p) { return p.bytes.data() == own; }),
              held ? 1 : 0);
    // A script edits the mesh while the image is being written: the edit
    // goes to a copy, the image stays the file of the model as it was.
    mesh->getIndices().indices[0] = 1;
    mesh->getIndices().indices.push_back(2);
    const std::vector<uint8_t> written = joinImage(image);
    EXPECT_EQ(written, file);
    // The list stands whole right after its width code, count and kind.
    const size_t width = largest > 65535 ? 4 : largest > 255 ? 2 : 1;
    std::vector<uint8_t> indexRecord{uint8_t(width / 2)};
    for (const uint32_t word : {count, 5u})
        for (int b = 0; b < 4; ++b) indexRecord.push_back(uint8_t(word >> (8 * b)));
    for (const uint32_t index : list)
        for (size_t b = 0; b < width; ++b) indexRecord.push_back(uint8_t(index >> (8 * b)));
    EXPECT_NE(std::search(written.begin(), written.end(), indexRecord.begin(), indexRecord.end()), written.end());
    EXPECT_EQ(mesh->getIndices().indices.size(), count + 1);
    EXPECT_EQ(mesh->getIndices().indices[0], 1u);
}

INSTANTIATE_TEST_SUITE_P(Writer10Images, Writer10ImageIndices,
                         testing::Values(HeldCase{1u << 18, 65536, true}, HeldCase{(1u << 18) - 1, 65536, false},
                                         HeldCase{1u << 19, 65535, false}, HeldCase{9, 70000, false}));

// (rows of four floats, whether the image makes them only as the file is
// written): vertex data of 1 MiB or more is; 300,001 rows span several of
// the save's stages and end in a part of one.
using MadeCase = std::tuple<uint32_t, bool>;
class Writer10ImageVertices : public testing::TestWithParam<MadeCase> {};

TEST_P(Writer10ImageVertices, EditOfTheMeshAfterItsImageWasMadeChangesTheFile) {
    const auto [rows, made] = GetParam();
    std::vector<float> xyzw;
    for (uint32_t i = 0; i < rows; ++i) xyzw.insert(xyzw.end(), {float(i), float(i) * 0.5f, -float(i % 977), 0.0f});
    auto top = node("root");
    Vertices vertices = positions4(xyzw);
    auto mesh = meshNode("big", top, materialFor(vertices), vertices, indexList({0, 1, rows - 1}));
    auto root = rootWithTop(top);
    root->addRenderNode(mesh);
    const std::vector<uint8_t> file = writeModel(*root);

    FileImage image;
    ClassWriter10().writeImage(*root, image);
    EXPECT_EQ(std::count_if(image.begin(), image.end(), [](const FilePiece& p) { return bool(p.fill); }), made ? 1 : 0);
    mesh->editGeometry([](Vertices& v, Indices&) {
        v.getAttribute(POSITION0).data[0] = 7.0f;
        v.getAttribute(POSITION0).data.back() = 1.0f;
    });
    EXPECT_EQ(joinImage(image), file);
    const coretest::TempDir folder;
    RootNode::writeImage(folder / "big.tav", image);
    EXPECT_EQ(coretest::readText(folder / "big.tav"), std::string(file.begin(), file.end()));
    // The rows stand whole right after the vertex count and floats per row.
    std::vector<uint8_t> rowsRecord(8 + xyzw.size() * 4);
    const uint32_t head[2] = {rows, 4};
    std::memcpy(rowsRecord.data(), head, 8);
    std::memcpy(rowsRecord.data() + 8, xyzw.data(), xyzw.size() * 4);
    EXPECT_NE(std::search(file.begin(), file.end(), rowsRecord.begin(), rowsRecord.end()), file.end());
    EXPECT_EQ(mesh->getVertices().findAttribute(POSITION0)->data[0], 7.0f);
}

INSTANTIATE_TEST_SUITE_P(Writer10Images, Writer10ImageVertices,
                         testing::Values(MadeCase{1u << 16, true}, MadeCase{(1u << 16) - 1, false},
                                         MadeCase{300001, true}));
