// Node kinds: geometry baking and the per-parent boxes of render nodes.

#include <bit>
#include <cmath>
#include <limits>
#include <optional>
#include <vector>
#include <stdexcept>

#include "ModelTestSupport.h"

using namespace model;
using modeltest::box;
using modeltest::make;
using modeltest::positions4;  // (x, y, z, parent index)
using modeltest::translation;

namespace {

// A render node with two parent entries holding v, its material made for v.
RenderNode& withGeometry(RenderNode& r, const Vertices& v) {
    r.addParentEntry(Ptr<Node>(new Node()));
    r.setMaterial(modeltest::materialFor(v));
    EXPECT_TRUE(r.setGeometry(v, Indices()));
    return r;
}

}  // namespace

// Boxes that went stale after a change of the vertex data would make the
// bounding box of the model wrong.
TEST(NodeKindRenderBoxes, FollowEveryChangeOfVertexData) {
    RenderNode r;
    // Parent indices 0, 1 (0.6 rounds up), 1.4 (rounds down), and 7 (no such entry).
    withGeometry(r, positions4({0, 0, 0, 0, 1, 1, 1, 0.0f, 5, 5, 5, 0.6f, 6, 7, 8, 1.4f, 100, 100, 100, 7}));
    EXPECT_EQ(r.getParentBox(0), box(0, 0, 0, 1, 1, 1));
    EXPECT_EQ(r.getParentBox(1), box(5, 5, 5, 6, 7, 8));
    ASSERT_TRUE(r.transformGeometry(1, translation(10, 0, 0)));
    EXPECT_EQ(r.getParentBox(0), box(0, 0, 0, 1, 1, 1));
    EXPECT_EQ(r.getParentBox(1), box(15, 5, 5, 16, 7, 8));
    r.editGeometry([](Vertices& vertices, Indices&) { vertices.getAttribute(POSITION0).data[0] = -3; });
    EXPECT_EQ(r.getParentBox(0), box(-3, 0, 0, 1, 1, 1));
    r.replaceGeometry(positions4({2, 2, 2, 1}), Indices());
    EXPECT_FALSE(r.getParentBox(0).isValid());
    EXPECT_EQ(r.getParentBox(1), box(2, 2, 2, 2, 2, 2));
}

// A merged node's rows come in runs of one entry, but an entry's rows may
// also stand apart, behind a row of no entry or under another bit pattern of
// the same index (-0): every row counts, the first and last of a run too.
TEST(NodeKindRenderBoxes, RowsOfAnEntryInRunsAndApartAllCount) {
    RenderNode r;
    withGeometry(r, positions4({-1, 0, 0, 0, 0, 0, 0, 0, 0, 5, 0, 0,  // entry 0, x and y extremes at the ends
                                1, 1, 1, 1, 2, 2, 2, 1,                // entry 1
                                0, 0, -7, 0,                           // entry 0 again
                                3, 3, 3, 2, 4, 4, 4, 9, 8, 3, 3, 2,    // entry 2 around a row of no entry
                                0, 0, 9, -0.0f,                        // entry 0 as -0
                                3, -4, 3, 2}));                        // entry 2, the last row
    r.addParentEntry(Ptr<Node>(new Node()));
    EXPECT_EQ(r.getParentBox(0), box(-1, 0, -7, 0, 5, 9));
    EXPECT_EQ(r.getParentBox(1), box(1, 1, 1, 2, 2, 2));
    EXPECT_EQ(r.getParentBox(2), box(3, -4, 3, 8, 3, 3));
}

// A parent index rounds half away from zero: values on either side of every
// halfway point between entries go to the entry they round to, or to none.
TEST(NodeKindRenderBoxes, ParentIndexRoundsHalfAwayFromZeroAtEveryBoundary) {
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    struct Vertex {
        float w;
        int entry;  // -1: none
    };
    const std::vector<Vertex> table = {{-0.5f, -1},       {std::nextafter(-0.5f, 0.0f), 0},
                                       {-0.0f, 0},        {std::nextafter(0.5f, 0.0f), 0},
                                       {0.5f, 1},         {std::nextafter(1.5f, 0.0f), 1},
                                       {1.5f, 2},         {std::nextafter(2.5f, 0.0f), 2},
                                       {2.5f, -1},        {nan, -1},
                                       {inf, -1},         {-inf, -1}};
    std::vector<float> xyzw;
    std::vector<BoundingBox> expected(3);
    for (std::size_t k = 0; k < table.size(); ++k) {
        const float x = float(k);
        xyzw.insert(xyzw.end(), {x, -x, 2 * x, table[k].w});
        if (table[k].entry >= 0) expected[std::size_t(table[k].entry)].expand(x, -x, 2 * x);
    }
    RenderNode r;
    r.addParentEntry(Ptr<Node>(new Node()));
    withGeometry(r, positions4(xyzw));
    for (std::size_t e = 0; e < 3; ++e) EXPECT_EQ(r.getParentBox(e), expected[e]) << e;
    // Baking a parent's transform moves exactly the rows its boxes hold;
    // a mesh whose rows all belong to one parent moves whole.
    std::vector<float> oneParent(xyzw);
    for (std::size_t k = 0; k < table.size(); ++k) oneParent[4 * k + 3] = std::nextafter(2.5f, 0.0f);
    for (std::size_t e = 0; e < 4; ++e) {
        RenderNode baked;
        baked.addParentEntry(Ptr<Node>(new Node()));
        withGeometry(baked, positions4(e < 3 ? xyzw : oneParent));
        ASSERT_TRUE(baked.transformGeometry(std::min<std::size_t>(e, 2), translation(100, 0, 0)));
        const std::vector<float>& rows = baked.getVertices().findAttribute(POSITION0)->data;
        for (std::size_t k = 0; k < table.size(); ++k) {
            const bool moved = e == 3 || table[k].entry == int(e);
            EXPECT_EQ(rows[4 * k], float(k) + (moved ? 100.0f : 0.0f)) << e << " " << k;
            EXPECT_EQ(std::bit_cast<std::uint32_t>(rows[4 * k + 3]),
                      std::bit_cast<std::uint32_t>(e < 3 ? table[k].w : oneParent[4 * k + 3]));
        }
    }
}

// editAttributes skips the box pass for edits that leave the positions
// alone, but an edit that swaps, resizes or drops the positions' list must
// still refresh the boxes.
TEST(NodeKindRenderBoxes, AttributeEditThatReplacesPositionsStillRefreshesBoxes) {
    RenderNode r;
    withGeometry(r, positions4({0, 0, 0, 0, 1, 1, 1, 0}));
    r.editAttributes([](Vertices& v, Indices&) { v.setAttribute(TEXCOORD0, 2, {0, 0, 1, 1}); });
    EXPECT_EQ(r.getParentBox(0), box(0, 0, 0, 1, 1, 1));
    r.editAttributes([](Vertices& v, Indices&) { v.setAttribute(POSITION0, 4, {4, 4, 4, 0, 5, 6, 7, 0}); });
    EXPECT_EQ(r.getParentBox(0), box(4, 4, 4, 5, 6, 7));
    r.editAttributes([](Vertices& v, Indices&) { v.getAttribute(POSITION0).data.resize(4); });
    EXPECT_EQ(r.getParentBox(0), box(4, 4, 4, 4, 4, 4));
    r.editAttributes([](Vertices& v, Indices&) { v.eraseAttribute(POSITION0); });
    EXPECT_FALSE(r.getParentBox(0).isValid());
}

// A transform that only moves turns every direction by the identity: the
// result must be, bit for bit, what the full turn (rescaled to the old
// length) gives, for zeros of both signs, tiny, huge, infinite and NaN
// components and the zero vector.
TEST(NodeKindRenderGeometry, MovedDirectionsAreBitForBitWhatTheFullTurnGives) {
    const float inf = std::numeric_limits<float>::infinity(), nan = std::numeric_limits<float>::quiet_NaN();
    const float tiny = std::numeric_limits<float>::denorm_min(), huge = std::numeric_limits<float>::max();
    const std::vector<float> directions = {-0.0f, 0.0f, 1.0f,  0.0f, -0.0f, -0.0f, 0.6f, -0.8f, -0.0f,
                                           tiny,  -tiny, 0.0f, huge, -huge, 1.0f,   inf,  0.0f,  -0.0f,
                                           nan,   1.0f,  0.0f, 3.0f, 4.0f,  12.0f,  -0.0f, -1.0f, 0.0f};
    // The full turn, for a matrix that turns nothing.
    const auto turned = [](const float* v) {
        const double x = v[0], y = v[1], z = v[2];
        const double length = std::sqrt(x * x + y * y + z * z);
        const double r[3] = {x * 1.0 + y * 0.0 + z * 0.0, x * 0.0 + y * 1.0 + z * 0.0, x * 0.0 + y * 0.0 + z * 1.0};
        const double newLength = std::sqrt(r[0] * r[0] + r[1] * r[1] + r[2] * r[2]);
        const double scale = newLength > 0.0 ? length / newLength : 1.0;
        return std::vector<float>{float(r[0] * scale), float(r[1] * scale), float(r[2] * scale)};
    };
    const std::size_t rows = directions.size() / 3;
    for (const uint32_t code : {NORMAL0, TANGENT0}) {
        RenderNode r;
        r.addParentEntry(Ptr<Node>());
        Vertices v;
        v.setAttribute(POSITION0, 3, std::vector<float>(directions.size(), 1.0f));
        v.setAttribute(code, 3, directions);
        r.replaceGeometry(v, Indices());
        ASSERT_TRUE(r.transformGeometry(0, translation(5, -6, 7)));
        const std::vector<float>& out = r.getVertices().findAttribute(code)->data;
        for (std::size_t k = 0; k < rows; ++k) {
            const std::vector<float> expected = turned(directions.data() + 3 * k);
            for (int j = 0; j < 3; ++j)
                EXPECT_EQ(std::bit_cast<std::uint32_t>(out[3 * k + j]), std::bit_cast<std::uint32_t>(expected[j]))
                    << code << " row " << k << " component " << j;
        }
        EXPECT_EQ(r.getVertices().findAttribute(POSITION0)->data[0], 6.0f);
    }
}

TEST(NodeKindRenderGeometry, TransformTouchesOnlyTheParentsVerticesAndTurnsNormals) {
    RenderNode r;
    r.addParentEntry(Ptr<Node>());
    Vertices v = positions4({1, 0, 0, 0, 1, 0, 0, 1});
    v.setAttribute(NORMAL0, 3, {1, 0, 0, 1, 0, 0});
    v.setAttribute(TEXCOORD0, 2, {0.25f, 0.5f, 0.25f, 0.5f});
    r.replaceGeometry(v, Indices());
    // x goes to 3y, y to -x, then a move along z: a turn with a stretch.
    ASSERT_TRUE(r.transformGeometry(1, modeltest::quarterTurn(0, 1, 3, translation(0, 0, 5))));
    EXPECT_EQ(r.getVertices().getAttribute(POSITION0).data, (std::vector<float>{1, 0, 0, 0, 0, 3, 5, 1}));
    const auto& n = r.getVertices().getAttribute(NORMAL0).data;
    EXPECT_EQ(n[0], 1);  // vertex 0 belongs to parent 0: untouched
    // The surface x = const turns into y = const: its normal is +y, not the
    // stretched 3y a plain direction transform would give.
    EXPECT_NEAR(n[3], 0, 1e-6);
    EXPECT_NEAR(n[4], 1, 1e-6);
    EXPECT_NEAR(n[5], 0, 1e-6);
    EXPECT_EQ(r.getVertices().getAttribute(TEXCOORD0).data[2], 0.25f);
}

// Under a stretch along y, the normal of the plane x + y = 0 turns by the
// inverse transpose and its tangent by the matrix itself: both keep their
// length and stay perpendicular.
TEST(NodeKindRenderGeometry, StretchTurnsNormalsByTheInverseTransposeAndTangentsByTheMatrix) {
    RenderNode r;
    r.addParentEntry(Ptr<Node>());
    const float h = std::sqrt(0.5f);
    Vertices v;
    v.setAttribute(POSITION0, 3, {0, 0, 0});
    v.setAttribute(NORMAL0, 3, {h, h, 0});
    v.setAttribute(TANGENT0, 3, {h, -h, 0});
    r.replaceGeometry(v, Indices());
    Matrix44d stretch;
    stretch(1, 1) = 3;
    ASSERT_TRUE(r.transformGeometry(0, stretch));
    const double n = std::sqrt(1 + 1 / 9.0), t = std::sqrt(1 + 9.0);
    const std::vector<double> normal{1 / n, 1 / (3 * n), 0}, tangent{1 / t, -3 / t, 0};
    for (int j = 0; j < 3; ++j) {
        EXPECT_NEAR(r.getVertices().getAttribute(NORMAL0).data[j], normal[j], 1e-6) << j;
        EXPECT_NEAR(r.getVertices().getAttribute(TANGENT0).data[j], tangent[j], 1e-6) << j;
    }
}

TEST(NodeKindSkins, ControlEntryBakesEveryVertexAndBoneEntriesRefuse) {
    SkinNode skin;
    skin.setNumParents(2);
    // Fourth components holding packed bone indices whose top byte is 64 and
    // 255: as floats they read 2.0 and a large negative number.
    skin.replaceGeometry(positions4({0, 0, 0, std::bit_cast<float>(0x40030201u), 1, 2, 3,
                                     std::bit_cast<float>(0xFF030201u)}),
                         Indices());
    skin.setBoundingBox(box(0, 0, 0, 1, 2, 3));
    EXPECT_FALSE(skin.transformGeometry(1, translation(5, 5, 5)));
    EXPECT_EQ(skin.getVertices().getAttribute(POSITION0).data[0], 0.0f);
    ASSERT_TRUE(skin.transformGeometry(0, translation(10, 0, 0)));
    const std::vector<float>& p = skin.getVertices().getAttribute(POSITION0).data;
    EXPECT_EQ(p[0], 10.0f);
    EXPECT_EQ(p[4], 11.0f);
    EXPECT_EQ(std::bit_cast<std::uint32_t>(p[3]), 0x40030201u);
    EXPECT_EQ(std::bit_cast<std::uint32_t>(p[7]), 0xFF030201u);
    EXPECT_EQ(skin.getBoundingBox(), box(10, 0, 0, 11, 2, 3));
    EXPECT_THROW(skin.transformGeometry(2, translation(1, 0, 0)), std::out_of_range);
}

// A spot direction left in its old parent's space would point the wrong
// way once the transform has been baked into the positions.
TEST(NodeKindFakeLights, SpotDirectionTurnsWithItsParent) {
    FakeSpotLightsNode spot;
    spot.setDirection(0, osg::Vec3f(0, 0, 2));
    spot.setLights({FakeSpotLight()});
    ASSERT_TRUE(spot.transformGeometry(0, modeltest::quarterTurn(1, 2)));  // about x: y goes to z
    EXPECT_NEAR(spot.getDirection(0).y(), -2, 1e-6);
    EXPECT_NEAR(spot.getDirection(0).z(), 0, 1e-6);
}

// The transform folding asks every node whether it takes a matrix before it
// bakes any: the answer (or the refused index) must be what the bake does.
TEST(NodeKindBake, TakesGeometryTransformTellsWhatTransformGeometryDoes) {
    auto render = make<RenderNode>("model::RenderNode", "render");
    withGeometry(*render, modeltest::points({0, 0, 0}));
    auto skin = make<SkinNode>("model::SkinNode", "skin");
    skin->setNumParents(2);
    auto shellSkin = make<ShellSkinNode>("model::ShellSkinNode", "shellSkin");
    shellSkin->setNumParents(2);
    auto omni = make<FakeOmniLightsNode>("model::FakeOmniLightsNode", "omni");
    omni->setNumParents(2);
    auto spot = make<FakeSpotLightsNode>("model::FakeSpotLightsNode", "spot");
    spot->setNumParents(1);
    const std::vector<Ptr<BaseNode>> nodes{render, skin, shellSkin, omni, spot,
                                          make<ShellNode>("model::ShellNode", "shell"),
                                          make<SegmentsNode>("model::SegmentsNode", "segments"),
                                          make<Connector>("model::Connector", "connector"),
                                          make<LightNode>("model::LightNode", "light")};
    for (const Ptr<BaseNode>& node : nodes)
        for (std::size_t i = 0; i <= node->getNumParents(); ++i) {
            std::optional<bool> takes, took;
            try {
                takes = node->takesGeometryTransform(i);
            } catch (const std::out_of_range&) {
            }
            try {
                took = node->transformGeometry(i, translation(1, 2, 3));
            } catch (const std::out_of_range&) {
            }
            EXPECT_EQ(takes, took) << node->getName() << " " << i;
        }
    EXPECT_TRUE(skin->takesGeometryTransform(0));
    EXPECT_FALSE(skin->takesGeometryTransform(1));
    EXPECT_TRUE(render->takesGeometryTransform(1));
}
