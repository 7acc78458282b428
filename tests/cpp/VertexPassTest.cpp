// The parallel vertex pass: degenerate triangles, removal of what became
// empty, errors from tasks, and results that don't depend on the workers.

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <stdexcept>

#include "VertexPassTestSupport.h"
#include "nodes/FakeOmniLightsNode.h"
#include "nodes/SegmentsNode.h"
#include "nodes/ShellNode.h"
#include "nodes/SkinNode.h"
#include "qz/ExtException.h"
#include "qz/tasks/GlobalThreadPools.h"
#include "qz/tasks/ThreadPool.h"
#include "utils/DegenerateTriangles.h"
#include "utils/OptimizeVertices.h"

using namespace model;
using namespace vertexpasstest;

namespace {

constexpr float kTolerance = 1e-5f;

// The scan as erasing in place: after an erase the position moves on, so the
// triangle that slid into the erased one's place waits for the next run.
std::size_t eraseInPlace(const Vertices& v, std::vector<std::uint32_t>& idx, std::size_t runs) {
    const VertexAttribute& p = v.getAttribute(POSITION0);
    auto close = [&](std::uint32_t a, std::uint32_t b, std::uint32_t c, int axis) {
        const float pa = p.data[a * p.components + axis];
        return std::fabs(pa - p.data[b * p.components + axis]) <= 1e-4f &&
               std::fabs(pa - p.data[c * p.components + axis]) <= 1e-4f;
    };
    std::size_t removed = 0;
    for (std::size_t run = 0; run < runs; ++run)
        for (std::size_t t = 0; (t + 1) * 3 <= idx.size(); ++t) {
            const std::uint32_t a = idx[3 * t], b = idx[3 * t + 1], c = idx[3 * t + 2];
            const int axes = close(a, b, c, 0) + close(a, b, c, 1) + close(a, b, c, 2);
            if (a == b || a == c || b == c || axes >= 2) {
                idx.erase(idx.begin() + 3 * t, idx.begin() + 3 * t + 3);
                ++removed;
            }
        }
    return removed;
}

std::unique_ptr<qz::ThreadPool> pool(unsigned workers) {
    return std::make_unique<qz::ThreadPool>("VertexPassTest", workers, qz::ThreadInfo{});
}

// A model of several meshes with duplicates, degenerate triangles, unused
// vertices and two parent entries; the same seed builds the same model.
Ptr<RootNode> busyModel(unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> coarse(0, 6);
    auto top = make<Node>("model::Node", "root");
    auto other = make<Node>("model::Node", "other");
    top->addChild(other);
    auto root = writer10test::rootWithTop(top);
    for (int m = 0; m < 7; ++m) {
        std::vector<float> pos, uv;
        for (int i = 0; i < 400; ++i) {
            pos.insert(pos.end(), {coarse(rng) * 0.5f, coarse(rng) * 0.5f, float(m), float(i % 2)});
            uv.insert(uv.end(), {coarse(rng) * 0.1f, 0.0f});
        }
        Vertices v = positions4(pos);
        v.setAttribute(TEXCOORD0, 2, uv);
        std::vector<std::uint32_t> idx;
        std::uniform_int_distribution<std::uint32_t> any(0, 389);
        for (int i = 0; i < 900; ++i) idx.push_back(any(rng));
        auto node = meshNode("mesh" + std::to_string(m), top, materialFor(v), v, indexList(idx));
        node->addParentEntry(other);
        root->addRenderNode(node);
    }
    auto shell = make<ShellNode>("model::ShellNode", "shell");
    shell->setParent(0, top);
    Vertices sv;
    sv.setAttribute(POSITION0, 3, {0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 1, 0});
    shell->setVertices(sv);
    shell->setIndices(indexList({0, 1, 3, 2, 1, 3}));
    root->addShellNode(shell);
    return root;
}

struct ScanCase {
    unsigned seed;
    std::size_t runs;
    std::size_t trailing;
};

class DegenerateScan : public testing::TestWithParam<ScanCase> {};

}  // namespace

TEST(VertexPass, TriangleWithARepeatedIndexIsRemoved) {
    const Vertices v = points({0, 0, 0, 1, 0, 0, 0, 1, 0});
    for (std::vector<std::uint32_t> tri : {std::vector<std::uint32_t>{0, 0, 1}, {0, 1, 1}, {1, 0, 1}}) {
        std::vector<std::uint32_t> idx = tri;
        idx.insert(idx.end(), {0, 1, 2});
        EXPECT_EQ(utils::removeDegenerateTriangles(v, idx, 1), 1u);
        EXPECT_EQ(idx, (std::vector<std::uint32_t>{0, 1, 2}));
    }
}

TEST(VertexPass, TriangleIsDegenerateWhenTwoAxesAreClose) {
    // x and y within 1e-4 of P0's: a sliver along z.
    const Vertices sliver = points({0, 0, 0, 0.00005f, 0.00009f, 1, -0.00009f, 0.00001f, 2});
    std::vector<std::uint32_t> idx{0, 1, 2};
    EXPECT_EQ(utils::removeDegenerateTriangles(sliver, idx, 1), 1u);
    EXPECT_TRUE(idx.empty());

    // Only x close: a real triangle in the yz plane.
    const Vertices flat = points({0, 0, 0, 0.00005f, 1, 0, 0, 0, 1});
    std::vector<std::uint32_t> kept{0, 1, 2};
    EXPECT_EQ(utils::removeDegenerateTriangles(flat, kept, 1), 0u);
    EXPECT_EQ(kept.size(), 3u);

    // x close for P1 but not for P2 does not make the axis close.
    const Vertices half = points({0, 0, 0, 0, 0, 1, 0.001f, 0.001f, 2});
    std::vector<std::uint32_t> open{0, 1, 2};
    EXPECT_EQ(utils::removeDegenerateTriangles(half, open, 1), 0u);
}

TEST(VertexPass, EachScanSkipsTheTriangleAfterARemoval) {
    const Vertices v = points({0, 0, 0, 1, 0, 0, 0, 1, 0});
    // Four degenerate triangles in a row, then a good one.
    std::vector<std::uint32_t> idx{0, 0, 1, 1, 1, 2, 2, 2, 0, 0, 1, 1, 0, 1, 2};
    EXPECT_EQ(utils::removeDegenerateTriangles(v, idx, 1), 2u);
    EXPECT_EQ(idx, (std::vector<std::uint32_t>{1, 1, 2, 0, 1, 1, 0, 1, 2}));
    EXPECT_EQ(utils::removeDegenerateTriangles(v, idx, 1), 1u);
    EXPECT_EQ(utils::removeDegenerateTriangles(v, idx, 5), 1u);
    EXPECT_EQ(idx, (std::vector<std::uint32_t>{0, 1, 2}));
}

TEST_P(DegenerateScan, OnePassEqualsErasingInPlace) {
    std::mt19937 rng(GetParam().seed);
    std::vector<float> pos;
    for (int i = 0; i < 30; ++i) pos.insert(pos.end(), {float(i % 3) * 1e-4f, float(i / 3 % 2), float(i), 0});
    const Vertices v = positions4(pos);
    std::uniform_int_distribution<std::uint32_t> any(0, 29);
    std::vector<std::uint32_t> idx;
    for (int i = 0; i < 3 * 400 + int(GetParam().trailing); ++i) idx.push_back(i % 5 == 1 ? idx.back() : any(rng));
    std::vector<std::uint32_t> expected = idx;
    const std::size_t expectedRemoved = eraseInPlace(v, expected, GetParam().runs);
    EXPECT_EQ(utils::removeDegenerateTriangles(v, idx, GetParam().runs), expectedRemoved);
    EXPECT_EQ(idx, expected);
    if (GetParam().runs > 0) {
        EXPECT_GT(expectedRemoved, 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(VertexPassRunsAndTails, DegenerateScan,
                         testing::Values(ScanCase{1, 1, 0}, ScanCase{2, 2, 1}, ScanCase{3, 3, 2}, ScanCase{4, 8, 0},
                                         ScanCase{5, 0, 2}, ScanCase{6, 1, 1}));

TEST(VertexPass, MillionDegenerateTrianglesGoInFewLinearScans) {
    const Vertices v = points({0, 0, 0, 1, 0, 0});
    std::vector<std::uint32_t> idx(3'000'000, 0);
    EXPECT_EQ(utils::removeDegenerateTriangles(v, idx, 1), 500'000u);
    EXPECT_EQ(idx.size(), 1'500'000u);
    EXPECT_EQ(utils::removeDegenerateTriangles(v, idx, 1000), 500'000u);
    EXPECT_TRUE(idx.empty());
}

TEST(VertexPass, IndexWithoutPositionIsRefusedBeforeAnyChange) {
    const Vertices v = points({0, 0, 0, 1, 0, 0});
    std::vector<std::uint32_t> idx{0, 0, 1, 0, 1, 5};
    EXPECT_THROW(utils::removeDegenerateTriangles(v, idx, 1), std::out_of_range);
    EXPECT_EQ(idx.size(), 6u);
}

TEST(VertexPass, EachMeshIsWeldedThenCleanedOncePerParentEntry) {
    auto top = make<Node>("model::Node", "root");
    auto root = writer10test::rootWithTop(top);
    // Vertex 3 duplicates vertex 1; vertex 4 is unused. After welding,
    // triangle (0, 1, 3) becomes (0, 1, 1).
    Vertices v = points({0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 0, 0, 9, 9, 9});
    auto node = meshNode("m", top, materialFor(v), v, indexList({0, 1, 3, 0, 1, 2, 0, 0, 2, 0, 1, 2}));
    node->addParentEntry(top);
    root->addRenderNode(node);
    auto p = pool(2);
    const auto totals = utils::optimizeVertices(*root, kTolerance, *p);
    EXPECT_EQ(totals.weldedVertices, 2u);
    // The scan removes (0,1,1), passes over the (0,1,2) that slid into its
    // place, then removes (0,0,2); the second scan finds nothing more.
    EXPECT_EQ(totals.degenerateAndShellTriangles, 2u);
    EXPECT_EQ(node->getIndices().indices, (std::vector<std::uint32_t>{0, 1, 2, 0, 1, 2}));
    EXPECT_EQ(node->getVertices().vertexCount(), 3u);
}

TEST(VertexPass, NodesLeftWithoutGeometryLeaveTheLists) {
    auto top = make<Node>("model::Node", "root");
    auto root = writer10test::rootWithTop(top);
    const Vertices v = points({0, 0, 0, 1, 0, 0, 0, 1, 0});
    auto allDegenerate = meshNode("gone", top, materialFor(v), v, indexList({0, 0, 1}));
    auto kept = meshNode("kept", top, materialFor(v), v, indexList({0, 1, 2}));
    auto lines = meshNode("lines", top, materialFor(v), v, indexList({0, 0}, 1));
    auto lights = make<FakeOmniLightsNode>("model::FakeOmniLightsNode", "lights");
    lights->setLights({FakeOmniLight{}});
    auto noLights = make<FakeOmniLightsNode>("model::FakeOmniLightsNode", "dark");
    for (const Ptr<BaseRenderNode>& n : std::vector<Ptr<BaseRenderNode>>{allDegenerate, kept, lines, lights, noLights})
        root->addRenderNode(n);

    auto emptyShell = make<ShellNode>("model::ShellNode", "emptyShell");
    Vertices sv;
    sv.setAttribute(POSITION0, 3, {0, 0, 0});
    emptyShell->setVertices(sv);
    auto segments = make<SegmentsNode>("model::SegmentsNode", "segments");
    segments->setSegments({Segment{}});
    auto noSegments = make<SegmentsNode>("model::SegmentsNode", "noSegments");
    root->addShellNode(emptyShell);
    root->addShellNode(segments);
    root->addShellNode(noSegments);

    auto p = pool(1);
    utils::optimizeVertices(*root, kTolerance, *p);
    std::vector<std::string> names;
    for (const auto& n : root->getRenderNodes()) names.push_back(n->getName());
    // Lines (0, 0) are not triangles: they stay, welded.
    EXPECT_EQ(names, (std::vector<std::string>{"kept", "lines", "lights"}));
    ASSERT_EQ(root->getShellNodes().size(), 1u);
    EXPECT_EQ(root->getShellNodes()[0]->getName(), "segments");
}

TEST(VertexPass, ANodeListedTwiceIsProcessedOnce) {
    auto top = make<Node>("model::Node", "root");
    auto twice = writer10test::rootWithTop(top);
    auto once = writer10test::rootWithTop(top);
    const Vertices v = points({0, 0, 0, 1, 0, 0, 0, 1, 0});
    auto build = [&] { return meshNode("m", top, materialFor(v), v, indexList({0, 0, 1, 1, 1, 2, 0, 1, 2})); };
    auto shared = build();
    twice->addRenderNode(shared);
    twice->addRenderNode(shared);
    auto single = build();
    once->addRenderNode(single);
    auto p = pool(2);
    utils::optimizeVertices(*twice, kTolerance, *p);
    utils::optimizeVertices(*once, kTolerance, *p);
    EXPECT_EQ(shared->getIndices().indices, single->getIndices().indices);
    EXPECT_EQ(twice->getRenderNodes().size(), 2u);
}

TEST(VertexPass, FirstFailingNodeInListOrderIsReportedWhateverTheTiming) {
    auto p = pool(2);
    for (int attempt = 0; attempt < 20; ++attempt) {
        auto top = make<Node>("model::Node", "root");
        auto root = writer10test::rootWithTop(top);
        const Vertices v = points({0, 0, 0, 1, 0, 0, 0, 1, 0});
        Vertices uneven = v;
        uneven.setAttribute(NORMAL0, 3, {0, 0, 1});
        root->addRenderNode(meshNode("fine", top, materialFor(v), v, indexList({0, 1, 2})));
        root->addRenderNode(meshNode("badIndex", top, materialFor(v), v, indexList({0, 1, 7})));
        root->addRenderNode(meshNode("uneven", top, materialFor(uneven), uneven, indexList({0, 1, 2})));
        EXPECT_THROW(utils::optimizeVertices(*root, kTolerance, *p), std::out_of_range);
        // The nodes that could be done were done.
        EXPECT_EQ(root->getRenderNodes().size(), 3u);
    }
}

TEST(VertexPass, ShellsAreWelded) {
    auto root = busyModel(3);
    auto p = pool(2);
    utils::optimizeVertices(*root, kTolerance, *p);
    const auto* shell = dynamic_cast<const ShellNode*>(root->getShellNodes().at(0).get());
    ASSERT_NE(shell, nullptr);
    EXPECT_EQ(shell->getVertices().vertexCount(), 3u);
    EXPECT_EQ(shell->getIndices().indices, (std::vector<std::uint32_t>{0, 1, 2, 0, 1, 2}));
}

TEST(VertexPass, GlobalPoolIsRequired) {
    auto root = writer10test::rootWithTop();
    if (qz::globalThreadPoolsExist()) GTEST_SKIP() << "global pools made by another test";
    EXPECT_THROW(utils::optimizeVertices(*root, kTolerance), qz::ExtException);
}
