// The parallel vertex pass: degenerate triangles against an erase-in-place
// scan, removal of what became empty, errors from tasks in list order; and
// texture-channel compaction, after which every mesh has exactly the
// coordinate lists its channel table names, numbered from 0 in order of
// first use, in a material of its own.

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <stdexcept>

#include "VertexPassTestSupport.h"
#include "nodes/FakeOmniLightsNode.h"
#include "nodes/SegmentsNode.h"
#include "nodes/ShellNode.h"
#include "qz/ExtException.h"
#include "qz/tasks/ThreadPool.h"
#include "utils/CompactTextureChannels.h"
#include "utils/DegenerateTriangles.h"
#include "utils/OptimizeVertices.h"

using namespace model;
using namespace vertexpasstest;

namespace {

constexpr float kTolerance = 1e-5f;
using Idx = std::vector<std::uint32_t>;

// The scan as erasing in place: after an erase the position moves on, so the
// triangle that slid into the erased one's place waits for the next run.
std::size_t eraseInPlace(const Vertices& v, Idx& idx, std::size_t runs) {
    const VertexAttribute& p = v.getAttribute(POSITION0);
    auto at = [&](std::uint32_t i, int axis) { return p.data[i * p.components + axis]; };
    std::size_t removed = 0;
    for (std::size_t run = 0; run < runs; ++run)
        for (std::size_t t = 0; (t + 1) * 3 <= idx.size(); ++t) {
            const std::uint32_t a = idx[3 * t], b = idx[3 * t + 1], c = idx[3 * t + 2];
            int axes = 0;
            for (int x = 0; x < 3; ++x)
                axes += std::fabs(at(a, x) - at(b, x)) <= 1e-4f && std::fabs(at(a, x) - at(c, x)) <= 1e-4f;
            if (a == b || a == c || b == c || axes >= 2) {
                idx.erase(idx.begin() + 3 * t, idx.begin() + 3 * t + 3);
                ++removed;
            }
        }
    return removed;
}

struct ScanCase {
    unsigned seed;
    std::size_t runs, trailing;
};

class DegenerateScan : public testing::TestWithParam<ScanCase> {};

qz::ThreadPool pool(unsigned workers) { return qz::ThreadPool("VertexPassTest", workers, qz::ThreadInfo{}); }

constexpr std::uint32_t N = TexCoordChannels::NONE;
using Coords = std::vector<std::pair<std::uint32_t, std::vector<float>>>;

struct Fixture {
    Ptr<Node> top = make<Node>("model::Node", "root");
    Ptr<RootNode> root = writer10test::rootWithTop(top);

    // Two vertices; coordinates per TEXCOORD channel; the first table entries.
    Ptr<RenderNode> add(const Coords& coords, const Idx& table, const Ptr<PropertiesSet>& shared = {}) {
        Vertices v = points({0, 0, 0, 1, 1, 1});
        for (const auto& [channel, data] : coords) v.setAttribute(TEXCOORD0 + channel, 2, data);
        Ptr<PropertiesSet> m = shared ? shared : materialFor(v);
        for (std::size_t use = 0; use < table.size(); ++use) m->getTexCoordChannels()[use] = table[use];
        auto node = meshNode("mesh", top, m, v, indexList({0, 1, 1}));
        root->addRenderNode(node);
        return node;
    }
    std::string failure() try {
        utils::compactTextureChannels(*root);
        return "";
    } catch (const qz::ExtException& e) {
        return e.what();
    }
};

const PropertiesSet& setOf(const Ptr<RenderNode>& node) { return dynamic_cast<const PropertiesSet&>(*node->getMaterial()); }

}  // namespace

TEST(VertexPass, TriangleIsDegenerateWhenTwoAxesAreClose) {
    // A sliver along z; only x close; x and y close for P1 only.
    for (const auto& [xyz, removed] : std::vector<std::pair<std::vector<float>, std::size_t>>{
             {{0, 0, 0, 0.00005f, 0.00009f, 1, -0.00009f, 0.00001f, 2}, 1},
             {{0, 0, 0, 0.00005f, 1, 0, 0, 0, 1}, 0},
             {{0, 0, 0, 0, 0, 1, 0.001f, 0.001f, 2}, 0}}) {
        Idx idx{0, 1, 2};
        EXPECT_EQ(utils::removeDegenerateTriangles(points(xyz), idx, 1), removed) << xyz[3];
    }
}

TEST_P(DegenerateScan, OnePassEqualsErasingInPlace) {
    std::mt19937 rng(GetParam().seed);
    std::vector<float> pos;
    for (int i = 0; i < 30; ++i) pos.insert(pos.end(), {float(i % 3) * 1e-4f, float(i / 3 % 2), float(i), 0});
    const Vertices v = positions4(pos);
    std::uniform_int_distribution<std::uint32_t> any(0, 29);
    Idx idx;
    for (int i = 0; i < 3 * 400 + int(GetParam().trailing); ++i) idx.push_back(i % 5 == 1 ? idx.back() : any(rng));
    Idx expected = idx;
    const std::size_t expectedRemoved = eraseInPlace(v, expected, GetParam().runs);
    EXPECT_EQ(utils::removeDegenerateTriangles(v, idx, GetParam().runs), expectedRemoved);
    EXPECT_EQ(idx, expected);
    EXPECT_EQ(expectedRemoved > 0, GetParam().runs > 0);
}

INSTANTIATE_TEST_SUITE_P(VertexPassRunsAndTails, DegenerateScan,
                         testing::Values(ScanCase{1, 1, 0}, ScanCase{2, 2, 1}, ScanCase{3, 3, 2}, ScanCase{4, 8, 0},
                                         ScanCase{5, 0, 2}, ScanCase{6, 1, 1}));

TEST(VertexPass, EachMeshIsWeldedThenCleanedOncePerParentEntryAndListedOnce) {
    auto [top, root] = Fixture();
    // Vertex 3 duplicates vertex 1; vertex 4 is unused. After welding,
    // triangle (0, 1, 3) becomes (0, 1, 1).
    Vertices v = points({0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 0, 0, 9, 9, 9});
    auto node = meshNode("m", top, materialFor(v), v, indexList({0, 1, 3, 0, 1, 2, 0, 0, 2, 0, 1, 2}));
    node->addParentEntry(top);
    root->addRenderNode(node);
    // Listed twice, scanned once: a second scan would remove (1,1,2).
    auto twice = meshNode("twice", top, materialFor(v), points({0, 0, 0, 1, 0, 0, 0, 1, 0}),
                          indexList({0, 0, 1, 1, 1, 2, 0, 1, 2}));
    root->addRenderNode(twice);
    root->addRenderNode(twice);
    auto p = pool(2);
    const auto totals = utils::optimizeVertices(*root, kTolerance, p);
    EXPECT_EQ(totals.weldedVertices, 2u);
    // The scan removes (0,1,1), passes over the (0,1,2) that slid into its
    // place, then removes (0,0,2); the second scan finds nothing more.
    EXPECT_EQ(totals.degenerateAndShellTriangles, 3u);
    EXPECT_EQ(node->getIndices().indices, (Idx{0, 1, 2, 0, 1, 2}));
    EXPECT_EQ(node->getVertices().vertexCount(), 3u);
    EXPECT_EQ(twice->getIndices().indices, (Idx{1, 1, 2, 0, 1, 2}));
    EXPECT_EQ(root->getRenderNodes().size(), 3u);
}

TEST(VertexPass, NodesLeftWithoutGeometryLeaveTheListsAndShellsAreWelded) {
    auto [top, root] = Fixture();
    const Vertices v = points({0, 0, 0, 1, 0, 0, 0, 1, 0});
    auto lights = make<FakeOmniLightsNode>("model::FakeOmniLightsNode", "lights");
    lights->setLights({FakeOmniLight{}});
    root->addRenderNode(meshNode("gone", top, materialFor(v), v, indexList({0, 0, 1})));
    root->addRenderNode(meshNode("lines", top, materialFor(v), v, indexList({0, 0}, 1)));  // not triangles
    root->addRenderNode(lights);
    root->addRenderNode(make<FakeOmniLightsNode>("model::FakeOmniLightsNode", "dark"));
    auto shell = make<ShellNode>("model::ShellNode", "shell");
    shell->setVertices(points({0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 1, 0}));
    shell->setIndices(indexList({0, 1, 3, 2, 1, 3}));
    auto segments = make<SegmentsNode>("model::SegmentsNode", "segments");
    segments->setSegments({Segment{}});
    for (const Ptr<BaseShellNode>& n : std::vector<Ptr<BaseShellNode>>{
             shell, make<ShellNode>("model::ShellNode", "empty"), segments, make<SegmentsNode>("model::SegmentsNode")})
        root->addShellNode(n);
    auto p = pool(1);
    utils::optimizeVertices(*root, kTolerance, p);
    std::vector<std::string> names;
    for (const auto& n : root->getRenderNodes()) names.push_back(n->getName());
    for (const auto& n : root->getShellNodes()) names.push_back(n->getName());
    EXPECT_EQ(names, (std::vector<std::string>{"lines", "lights", "shell", "segments"}));
    EXPECT_EQ(shell->getIndices().indices, (Idx{0, 1, 2, 0, 1, 2}));
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
        EXPECT_THROW(utils::optimizeVertices(*root, kTolerance, p), std::out_of_range);
        EXPECT_EQ(root->getRenderNodes().size(), 3u);
    }
}

// TEXCOORD2 is within a thousandth of TEXCOORD0 and goes, TEXCOORD3 is
// 0.0011 off and stays, nothing names TEXCOORD9.
TEST(CompactChannels, DuplicatesAndUnusedListsGoAndChannelsAreNumberedInOrderOfFirstUse) {
    Fixture f;
    const std::vector<float> a{0.25f, 0.5f, 0.75f, 1}, near{0.2505f, 0.5f, 0.75f, 0.9991f}, far{0.2511f, 0.5f, 0.75f, 1};
    auto node = f.add({{0, a}, {2, near}, {3, far}, {5, {5, 5, 5, 5}}, {9, {9, 9, 9, 9}}}, {5, 3, N, 2, 5, 0});
    EXPECT_EQ(utils::compactTextureChannels(*f.root), 1u);
    Coords after;
    for (const auto& [code, attribute] : node->getVertices().getAttributes())
        if (code >= TEXCOORD0 && code <= TEXCOORD15) after.emplace_back(code - TEXCOORD0, attribute.data);
    EXPECT_EQ(after, (Coords{{0, {5, 5, 5, 5}}, {1, far}, {2, a}}));
    const auto& t = setOf(node).getTexCoordChannels();
    EXPECT_EQ(Idx(t.begin(), t.begin() + 7), (Idx{0, 1, N, 2, 0, 2, N}));
    EXPECT_TRUE(node->getVertices().matchesFormat(setOf(node).getVertexFormat()));
}

// Entries past the first eight are not checked; light sets are skipped.
TEST(CompactChannels, FailuresWithTheirMessages) {
    Fixture f;
    f.add({}, {N, N, N, N, N, N, N, N, 0});
    f.root->addRenderNode(make<FakeOmniLightsNode>("model::FakeOmniLightsNode", "lights"));
    EXPECT_EQ(f.failure(), "");
    f.add({}, {N, N, N, N, N, N, N, 3});
    EXPECT_EQ(f.failure(), "Empty texture channel");
    Fixture g;
    g.root->addRenderNode(make<RenderNode>("model::RenderNode", "bare"));
    EXPECT_EQ(g.failure(), "Material of render node isn't set.");
}

// Meshes of one material that come out alike share one copy; one that comes
// out differently never sees another's table; the source stays as it was.
TEST(CompactChannels, MeshesOfOneMaterialThatComeOutAlikeShareOneCopyAndTheSourceStaysAsItWas) {
    Fixture f;
    auto first = f.add({{0, {1, 2, 3, 4}}, {3, {5, 6, 7, 8}}}, {0, 3});
    const Ptr<PropertiesSet> source(const_cast<PropertiesSet*>(&setOf(first)));
    auto second = f.add({{0, {9, 9, 9, 9}}, {3, {1, 1, 1, 1}}}, {}, source);
    auto twin = f.add({{0, {1, 2, 3, 4}}, {3, {1, 2, 3, 4}}}, {}, source);  // its two lists are one
    EXPECT_EQ(utils::compactTextureChannels(*f.root), 1u);
    EXPECT_NE(first->getMaterial(), source);
    EXPECT_EQ(second->getMaterial(), first->getMaterial());
    EXPECT_NE(twin->getMaterial(), first->getMaterial());
    EXPECT_EQ(setOf(first).getTexCoordChannels()[1], 1u);
    EXPECT_EQ(setOf(twin).getTexCoordChannels()[1], 0u);
    EXPECT_EQ(source->getTexCoordChannels()[1], 3u);
    EXPECT_EQ(source->getVertexFormat()[TEXCOORD3], 2);
}
