// The save's vertex passes: welding held to the pairwise definition (random
// clusters of near-duplicates around the tolerance, and small meshes on the
// rules a grid gets wrong most easily), degenerate triangles, removal of what
// became empty, errors from tasks in list order; and texture-channel
// compaction, after which every mesh has exactly the coordinate lists its
// channel table names, numbered from 0 in order of first use, in a material
// of its own.

#include <atomic>
#include <bit>
#include <cmath>
#include <limits>
#include <random>
#include <stdexcept>
#include <unordered_map>

#include "ModelTestSupport.h"
#include "qz/ExtException.h"
#include "qz/tasks/ThreadPool.h"
#include "utils/CompactTextureChannels.h"
#include "utils/DegenerateTriangles.h"
#include "utils/OptimizeVertices.h"
#include "utils/VertexWeld.h"

using namespace model;
using namespace modeltest;

namespace {

constexpr float kTolerance = 1e-5f;
constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNan = std::numeric_limits<float>::quiet_NaN();
using Idx = std::vector<std::uint32_t>;

struct Welded {
    std::vector<std::uint32_t> rowBits, indices;
    std::size_t removed = 0, merged = 0;
};

std::vector<std::uint32_t> bitsOf(const std::vector<float>& f) {
    std::vector<std::uint32_t> out;
    for (float x : f) out.push_back(std::bit_cast<std::uint32_t>(x));
    return out;
}

// The definition, pair by pair: unreferenced vertices dropped, then every
// not-yet-merged vertex claims every later matching vertex.
Welded pairwiseWeld(const Vertices& v, const std::vector<std::uint32_t>& indices, float t) {
    const std::size_t count = v.vertexCount(), s = v.vertexSize();
    const std::size_t exact = v.findAttribute(POSITION0)->components == 4 ? 3 : s;
    const std::vector<std::uint32_t> all = bitsOf(v.interleave());
    std::vector<bool> used(count);
    for (std::uint32_t i : indices) used.at(i) = true;
    auto row = [&](std::size_t k) { return all.data() + k * s; };
    auto match = [&](const std::uint32_t* a, const std::uint32_t* b) {
        for (std::size_t f = 0; f < s; ++f)
            if (f == exact ? a[f] != b[f]
                           : !(std::fabs(std::bit_cast<float>(a[f]) - std::bit_cast<float>(b[f])) <= t))
                return false;
        return true;
    };
    std::vector<std::size_t> owner(count, SIZE_MAX);
    std::vector<std::uint32_t> number(count);
    Welded out;
    for (std::size_t k = 0; k < count; ++k) {
        if (!used[k]) continue;
        if (owner[k] != SIZE_MAX) {
            number[k] = number[owner[k]];
            continue;
        }
        number[k] = std::uint32_t(out.rowBits.size() / s);
        out.rowBits.insert(out.rowBits.end(), row(k), row(k) + s);
        for (std::size_t j = k + 1; j < count; ++j)
            if (used[j] && match(row(k), row(j))) owner[j] = k;
    }
    for (std::uint32_t i : indices) out.indices.push_back(number[i]);
    out.removed = count - out.rowBits.size() / s;
    out.merged = std::size_t(std::count(used.begin(), used.end(), true)) - out.rowBits.size() / s;
    return out;
}

// Welds (on the workers given) and checks the result against the definition.
Welded weldAndCompare(Vertices v, const std::vector<std::uint32_t>& idx, float t,
                      const utils::Workers& workers = utils::Workers()) {
    const Welded expected = pairwiseWeld(v, idx, t);
    Indices indices = indexList(idx);
    EXPECT_EQ(utils::weldVertices(v, indices, t, workers), expected.removed);
    EXPECT_EQ(bitsOf(v.interleave()), expected.rowBits);
    // interleave() reads as many rows of each list as the first has.
    for (const auto& [code, a] : v.getAttributes())
        EXPECT_EQ(a.rowCount() * v.vertexSize(), expected.rowBits.size()) << "list of semantic " << code;
    EXPECT_EQ(indices.indices, expected.indices);
    return expected;
}

// Rows of a position (3 or 4 floats), a normal and texture coordinates.
Vertices fromRows(const std::vector<std::vector<float>>& rows, std::size_t posComponents) {
    Vertices v;
    for (const auto& [code, from, n] : {std::tuple{POSITION0, std::size_t(0), posComponents},
                                       std::tuple{NORMAL0, posComponents, std::size_t(3)},
                                       std::tuple{TEXCOORD0, posComponents + 3, std::size_t(2)}}) {
        std::vector<float> column;
        for (const auto& r : rows) column.insert(column.end(), r.begin() + from, r.begin() + from + n);
        v.setAttribute(code, std::uint32_t(n), column);
    }
    return v;
}

// Seed, noise in tolerances, positions with a fourth component.
class WeldAgainstPairwise : public testing::TestWithParam<std::tuple<unsigned, float, bool>> {};

// Clusters of near-duplicates: every copy is a base or an earlier copy moved
// by `noise` tolerances on a few floats, so matches chain and overlap. Signed
// zeros, non-finite normals and coordinates, a few parent indices and
// unreferenced vertices are mixed in.
TEST_P(WeldAgainstPairwise, GridSearchGivesThePairwiseResult) {
    const auto [seed, noise, fourComponentPositions] = GetParam();
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    std::uniform_int_distribution<int> pick(0, 7);
    const std::size_t posComponents = fourComponentPositions ? 4 : 3, s = posComponents + 5;
    std::vector<std::vector<float>> rows;
    for (int b = 0; b < 300; ++b) {
        std::vector<float> r(s);
        // A coarse lattice puts many bases close to each other; positions
        // spread evenly meet every possible place in a grid cell.
        for (float& f : r) f = std::round(unit(rng) * 4.0f) * 0.25f;
        if (b % 2)
            for (std::size_t f = 0; f < 3; ++f) r[f] = unit(rng);
        if (fourComponentPositions) r[3] = float(pick(rng) % 3);
        if (pick(rng) == 0) r[0] = -0.0f;
        if (pick(rng) == 0 && fourComponentPositions) r[3] = -0.0f;
        rows.push_back(r);
    }
    for (int d = 0; d < 4000; ++d) {
        std::vector<float> r = rows[std::uniform_int_distribution<std::size_t>(0, rows.size() - 1)(rng)];
        for (int m = 0, moved = pick(rng) % 4; m < moved; ++m) {
            const std::size_t f = std::uniform_int_distribution<std::size_t>(0, s - 1)(rng);
            if (!fourComponentPositions || f != 3) r[f] += (pick(rng) % 2 ? 1.0f : -1.0f) * noise * kTolerance;
        }
        if (pick(rng) == 0 && r[1] == 0.0f) r[1] = -r[1];
        // A NaN or an infinity past the position: such a row matches no row.
        if (pick(rng) == 0 && pick(rng) < 2) r[posComponents + std::size_t(pick(rng)) % 5] = pick(rng) % 2 ? kNan : kInf;
        rows.push_back(r);
    }
    std::shuffle(rows.begin(), rows.end(), rng);
    const Vertices v = fromRows(rows, posComponents);
    std::uniform_int_distribution<std::uint32_t> any(0, std::uint32_t(rows.size()) - 41);
    std::vector<std::uint32_t> idx;
    for (int i = 0; i < 8000; ++i) idx.push_back(any(rng));
    // The meshes are built so that both outcomes occur many times.
    EXPECT_GT(weldAndCompare(v, idx, kTolerance).merged, 100u);
}

INSTANTIATE_TEST_SUITE_P(WeldNoiseAroundTolerance, WeldAgainstPairwise,
                         testing::Values(std::tuple{1u, 0.999f, true}, std::tuple{2u, 1.001f, true},
                                         std::tuple{3u, 0.5f, true}, std::tuple{4u, 0.999f, false},
                                         std::tuple{5u, 1.001f, false}, std::tuple{6u, 0.7f, true},
                                         std::tuple{7u, 1.0f, true}, std::tuple{8u, 1.0f, false}));

qz::ThreadPool pool(unsigned workers) { return qz::ThreadPool("VertexPassTest", workers, qz::ThreadInfo{}); }

// Seed, workers. Groups of rows within a tolerance or so of each other, most
// around the borders of grid cells (so that matches cross cells and chain
// through neighbours), some inside a cell; positions of four components.
class WeldOnWorkers : public testing::TestWithParam<std::tuple<unsigned, unsigned>> {};

TEST_P(WeldOnWorkers, MatchesAcrossCellBordersGiveThePairwiseResult) {
    const auto [seed, workers] = GetParam();
    std::mt19937 rng(seed);
    const float t = 0.01f, cell = 64.0f * t;
    std::uniform_int_distribution<int> pick(0, 7), cellNumber(-3, 3);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    std::vector<std::vector<float>> rows;
    // Enough rows for the grid to spread them over several buckets.
    for (int b = 0; b < 2000; ++b) {
        std::vector<float> r(9, 0.0f);
        for (std::size_t f = 0; f < 3; ++f)
            r[f] = (float(cellNumber(rng)) + (pick(rng) < 6 ? 0.5f : 0.0f)) * cell + unit(rng) * 2.0f * t;
        r[3] = float(pick(rng) % 2);
        r[4 + pick(rng) % 5] = 0.5f;
        rows.push_back(r);
        for (int c = 0, copies = pick(rng) % 4; c < copies; ++c) {
            std::vector<float> copy = rows[rows.size() - 1 - std::size_t(pick(rng)) % (std::size_t(c) + 1)];
            for (std::size_t f : {std::size_t(0), std::size_t(1), std::size_t(2), std::size_t(4) + pick(rng) % 5})
                copy[f] += unit(rng) * 1.2f * t;
            rows.push_back(copy);
        }
    }
    std::shuffle(rows.begin(), rows.end(), rng);
    const Vertices v = fromRows(rows, 4);
    Idx idx;
    for (std::uint32_t i = 0; i < rows.size(); ++i)
        if (pick(rng) != 0) idx.push_back(i);
    auto p = pool(workers);
    EXPECT_GT(weldAndCompare(v, idx, t, utils::Workers(p)).merged, 100u);
}

INSTANTIATE_TEST_SUITE_P(Weld, WeldOnWorkers,
                         testing::Combine(testing::Values(11u, 12u, 13u, 14u), testing::Values(2u, 3u)));

struct SmallCase {
    const char* name;
    std::vector<float> xyzw;
    std::vector<std::uint32_t> indices, welded;
    float tolerance = kTolerance;
};

class WeldSmall : public testing::TestWithParam<SmallCase> {};

TEST_P(WeldSmall, MatchesTheDefinition) {
    const SmallCase& c = GetParam();
    EXPECT_EQ(weldAndCompare(positions4(c.xyzw), c.indices, c.tolerance).indices, c.welded);
}

const float kFar = 3e30f, kNextFar = std::nextafter(kFar, 4e30f), kBig = 1e9f;  // floats 64 apart at kBig

INSTANTIATE_TEST_SUITE_P(
    Weld, WeldSmall,
    testing::Values(
        SmallCase{"MatchedBySeveralRepresentativesEndsWithTheLast", {0, 0, 0, 0, 1.5e-5f, 0, 0, 0, 0.9e-5f, 0, 0, 0},
                  {0, 1, 2}, {0, 1, 1}},
        SmallCase{"SignedZerosInTheFourthComponentStayApart", {1, 2, 3, 0.0f, 1, 2, 3, -0.0f}, {0, 1}, {0, 1}},
        SmallCase{"SignedZerosWeldUnderAZeroTolerance", {0.0f, 0, 0, 0, -0.0f, 0, 0, 0}, {0, 1}, {0, 0}, 0.0f},
        SmallCase{"NegativeToleranceMatchesNothing", {0, 0, 0, 0, 0, 0, 0, 0, 9, 9, 9, 0}, {0, 1}, {0, 1}, -1.0f},
        SmallCase{"NonFiniteValuesNeverMatchUnderAFiniteTolerance",
                  {kNan, 0, 0, 0, kNan, 0, 0, 0, kInf, 0, 0, 0, kInf, 0, 0, 0, 1, 1, 1, 0, 1, 1, 1, 0},
                  {0, 1, 2, 3, 4, 5}, {0, 1, 2, 3, 4, 4}},
        SmallCase{"InfiniteToleranceMergesEveryRowOfOneParent",
                  {0, 0, 0, 0, 1e30f, -5, kInf, 0, 7, 7, 7, 1, -3, 2, 1, 1}, {0, 1, 2, 3}, {0, 0, 1, 1}, kInf},
        SmallCase{"FarOutCoordinatesWeldOnlyWhenEqual",
                  {kFar, -kFar, 0, 0, kFar, -kFar, 0, 0, kNextFar, -kFar, 0, 0, kBig, 0, 0, 0, kBig, 0, 0, 0},
                  {0, 1, 2, 3, 4}, {0, 0, 1, 2, 2}}),
    [](const auto& info) { return std::string(info.param.name); });

constexpr std::uint32_t N = TexCoordChannels::NONE;
using Coords = std::vector<std::pair<std::uint32_t, std::vector<float>>>;

struct Fixture : Model {
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
    std::string failure() {
        return messageOf([&] { utils::compactTextureChannels(*root); });
    }
};

const PropertiesSet& setOf(const Ptr<RenderNode>& n) { return dynamic_cast<const PropertiesSet&>(*n->getMaterial()); }

}  // namespace

TEST(VertexPass, EachMeshIsWeldedThenCleanedOncePerParentEntryAndListedOnce) {
    auto [root, top] = Fixture();
    // Vertex 3 duplicates vertex 1; vertex 4 is unused. After welding,
    // triangle (0, 1, 3) becomes (0, 1, 1).
    Vertices v = points({0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 0, 0, 9, 9, 9});
    auto node = meshNode("m", top, materialFor(v), v, indexList({0, 1, 3, 0, 0, 2, 0, 1, 2, 0, 1, 2}));
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
    // Two parent entries, two scans: the first removes (0,1,1) and passes
    // over the (0,0,2) that slid into its place, which the second removes.
    EXPECT_EQ(totals.degenerateAndShellTriangles, 3u);
    EXPECT_EQ(node->getIndices().indices, (Idx{0, 1, 2, 0, 1, 2}));
    EXPECT_EQ(node->getVertices().vertexCount(), 3u);
    // The unused far vertex is gone, and with it the box's far corner.
    EXPECT_EQ(node->getParentBox(0).maximum, osg::Vec3f(1, 1, 0));
    EXPECT_EQ(twice->getIndices().indices, (Idx{1, 1, 2, 0, 1, 2}));
    EXPECT_EQ(root->getRenderNodes().size(), 3u);
}

// Triangles judged on several workers, whole runs of degenerate ones among
// them, give what erasing in place while scanning gives: a removal slides
// the next triangle into the place the scan has just passed.
TEST(VertexPass, DegenerateTrianglesJudgedOnWorkersAreErasedAsTheScanMeetsThem) {
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> coarse(0, 3), pick(0, 9);
    std::vector<float> xyz;
    for (int k = 0; k < 3000; ++k)
        for (int a = 0; a < 3; ++a) xyz.push_back(float(coarse(rng)) * 0.6e-4f);
    const Vertices v = points(xyz);
    std::uniform_int_distribution<std::uint32_t> any(0, 2999);
    Idx indices;
    for (int t = 0; t < 20000; ++t) {
        const std::uint32_t a = any(rng);
        indices.insert(indices.end(), {a, pick(rng) == 0 ? a : any(rng), any(rng)});
    }
    indices.push_back(7);  // past the last whole triangle: stays at the end
    auto degenerate = [&](const std::uint32_t* t) {
        if (t[0] == t[1] || t[0] == t[2] || t[1] == t[2]) return true;
        int close = 0;
        for (std::size_t a = 0; a < 3; ++a)
            close += std::fabs(xyz[t[0] * 3 + a] - xyz[t[1] * 3 + a]) <= 1e-4f &&
                     std::fabs(xyz[t[0] * 3 + a] - xyz[t[2] * 3 + a]) <= 1e-4f;
        return close >= 2;
    };
    for (std::size_t scans : {1u, 2u, 3u}) {
        Idx expected = indices;
        std::size_t erased = 0;
        for (std::size_t s = 0; s < scans; ++s)
            for (std::size_t at = 0; at + 3 <= expected.size(); at += 3)
                if (degenerate(&expected[at])) {
                    expected.erase(expected.begin() + std::ptrdiff_t(at), expected.begin() + std::ptrdiff_t(at) + 3);
                    ++erased;
                }
        auto p = pool(2);
        Idx got = indices;
        EXPECT_EQ(utils::removeDegenerateTriangles(v, got, scans, utils::Workers(p)), erased);
        EXPECT_EQ(got, expected);
        EXPECT_GT(erased, 3000u);
    }
}

TEST(VertexPass, NodesLeftWithoutGeometryLeaveTheListsAndShellsAreWelded) {
    auto [root, top] = Fixture();
    const Vertices v = points({0, 0, 0, 1, 0, 0, 0, 1, 0});
    auto lights = make<FakeOmniLightsNode>("model::FakeOmniLightsNode", "lights");
    lights->setLights({FakeOmniLight{}});
    for (const Ptr<BaseRenderNode>& n : std::vector<Ptr<BaseRenderNode>>{
             meshNode("gone", top, materialFor(v), v, indexList({0, 0, 1})),
             meshNode("lines", top, materialFor(v), v, indexList({0, 0}, 1)),  // not triangles
             lights, make<FakeOmniLightsNode>("model::FakeOmniLightsNode", "dark")})
        root->addRenderNode(n);
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
        auto [root, top] = Fixture();
        const Vertices v = points({0, 0, 0, 1, 0, 0, 0, 1, 0});
        Vertices uneven = v;
        uneven.setAttribute(NORMAL0, 3, {0, 0, 1});
        root->addRenderNode(meshNode("fine", top, materialFor(v), v, indexList({0, 1, 2})));
        root->addRenderNode(meshNode("badIndex", top, materialFor(v), v, indexList({0, 1, 7})));
        // Its failure is of another type.
        root->addRenderNode(meshNode("uneven", top, materialFor(uneven), uneven, indexList({0, 1, 2})));
        EXPECT_THROW(utils::optimizeVertices(*root, kTolerance, p), std::out_of_range);
    }
}

// The index equal to the vertex count, the first past the last vertex, at
// either end of a block of the index check and at the list's end, on one
// task and on workers.
TEST(VertexPass, IndexEqualToTheVertexCountIsRefusedBeforeAnythingChanges) {
    const Vertices v = points({0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 0, 0});
    auto p = pool(2);
    for (const std::size_t place : {std::size_t(0), std::size_t(1023), std::size_t(1024), std::size_t(2999)}) {
        Idx idx(3000, 0);
        for (std::size_t k = 0; k < idx.size(); ++k) idx[k] = std::uint32_t(k % 3);
        idx[place] = 4;
        for (const utils::Workers& workers : {utils::Workers(), utils::Workers(p)}) {
            Vertices welded = v;
            Indices indices = indexList(idx);
            EXPECT_THROW(utils::weldVertices(welded, indices, kTolerance, workers), std::out_of_range) << place;
            EXPECT_EQ(indices.indices, idx);
            EXPECT_EQ(welded.interleave(), v.interleave());
        }
    }
}

// Items handed out to whichever part is free: each exactly once, none when
// there are none, and an item's exception reaches the caller.
TEST(Workers, EveryItemIsTakenOnceAndAnItemsExceptionPassesOn) {
    auto p = pool(2);
    for (const utils::Workers& workers : {utils::Workers(), utils::Workers(p)}) {
        for (const std::size_t count : {0u, 1u, 2u, 1000u}) {
            std::vector<std::atomic<int>> calls(count);
            workers.forEachItem(count, [&](std::size_t k) { ++calls[k]; });
            for (std::size_t k = 0; k < count; ++k) EXPECT_EQ(calls[k].load(), 1) << count << " " << k;
        }
        EXPECT_THROW(workers.forEachItem(100, [](std::size_t k) { if (k == 50) throw std::out_of_range("item"); }),
                     std::out_of_range);
    }
}

// The first index past the positions in list order is named, wherever the
// workers' ranges and the check's blocks split the list, alone or before a
// larger one, and the list is left as it was.
TEST(VertexPass, FirstIndexPastThePositionsIsNamedWhereverItStands) {
    const Vertices v = points({0, 0, 0, 1, 0, 0, 0, 1, 0});
    auto p = pool(2);
    for (const std::size_t place : {std::size_t(0), std::size_t(1023), std::size_t(1024), std::size_t(2998)})
        for (const bool larger : {false, true}) {
            Idx idx(3000);
            for (std::size_t k = 0; k < idx.size(); ++k) idx[k] = std::uint32_t(k % 3);
            idx[place] = 3;
            if (larger) idx[2999] = 9;
            for (const utils::Workers& workers : {utils::Workers(), utils::Workers(p)}) {
                Idx got = idx;
                try {
                    utils::removeDegenerateTriangles(v, got, 1, workers);
                    ADD_FAILURE() << place;
                } catch (const std::out_of_range& e) {
                    EXPECT_STREQ(e.what(), "Triangle index 3 is past the 3 positions.") << place;
                }
                EXPECT_EQ(got, idx);
            }
        }
}

// A mesh holding most of the model's vertices is welded by every worker:
// groups of rows within 0.4 tolerance of a lattice point 10 tolerances from
// the next, so each group welds into its first row.
TEST(VertexPass, LargeMeshWeldsIntoTheFirstRowOfEachGroup) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> noise(-0.4f * kTolerance, 0.4f * kTolerance);
    std::uniform_int_distribution<std::uint32_t> lattice(0, 99);
    const std::size_t count = std::size_t(1) << 17;
    std::vector<float> xyz;
    std::vector<std::uint32_t> group;
    for (std::size_t k = 0; k < count; ++k) {
        const std::uint32_t g[3] = {lattice(rng), lattice(rng), lattice(rng) % 20};
        group.push_back(g[0] + 100 * g[1] + 10000 * g[2]);
        for (std::uint32_t a : g) xyz.push_back(float(a) * 10.0f * kTolerance + 0.25f + noise(rng));
    }
    std::unordered_map<std::uint32_t, std::uint32_t> number;
    Idx expected, all(count);
    for (std::size_t k = 0; k < count; ++k) {
        expected.push_back(number.emplace(group[k], std::uint32_t(number.size())).first->second);
        all[k] = std::uint32_t(k);
    }
    auto [root, top] = Fixture();
    const Vertices v = points(xyz);
    auto node = meshNode("large", top, materialFor(v), v, indexList(all, 1));
    root->addRenderNode(node);
    root->addRenderNode(meshNode("small", top, materialFor(v), points({0, 0, 0, 1, 0, 0, 1, 0, 0}), indexList({0, 1, 2})));
    auto p = pool(2);
    EXPECT_EQ(utils::optimizeVertices(*root, kTolerance, p).weldedVertices, count - number.size() + 1);
    EXPECT_EQ(node->getIndices().indices, expected);
    EXPECT_EQ(node->getVertices().vertexCount(), number.size());
}

// TEXCOORD2 is within a thousandth of TEXCOORD0 and goes, TEXCOORD3 is
// 0.0011 off and stays, nothing names TEXCOORD9.
TEST(CompactChannels, DuplicatesAndUnusedListsGoAndChannelsAreNumberedInOrderOfFirstUse) {
    Fixture f;
    const std::vector<float> a{0.25f, 0.5f, 0.75f, 1}, dup{0.2505f, 0.5f, 0.75f, 0.9991f}, off{0.2511f, 0.5f, 0.75f, 1};
    auto node = f.add({{0, a}, {2, dup}, {3, off}, {5, {5, 5, 5, 5}}, {9, {9, 9, 9, 9}}}, {5, 3, N, 2, 5, 0});
    EXPECT_EQ(utils::compactTextureChannels(*f.root), 1u);
    Coords after;
    for (const auto& [code, attribute] : node->getVertices().getAttributes())
        if (code >= TEXCOORD0 && code <= TEXCOORD15) after.emplace_back(code - TEXCOORD0, attribute.data);
    EXPECT_EQ(after, (Coords{{0, {5, 5, 5, 5}}, {1, off}, {2, a}}));
    const auto& t = setOf(node).getTexCoordChannels();
    EXPECT_EQ(Idx(t.begin(), t.begin() + 7), (Idx{0, 1, N, 2, 0, 2, N}));
    EXPECT_TRUE(node->getVertices().matchesFormat(setOf(node).getVertexFormat()));
}

// The last list is compared like the others, and lists exactly a thousandth
// apart are duplicates.
TEST(CompactChannels, LastListExactlyAThousandthOffTheFirstGoes) {
    Fixture f;
    auto node = f.add({{0, {0, 0, 1, 1}}, {15, {0.001f, 0, 1, 1}}}, {15, 0});
    EXPECT_EQ(utils::compactTextureChannels(*f.root), 1u);
    EXPECT_EQ(node->getVertices().findAttribute(TEXCOORD0 + 15), nullptr);
    const auto& t = setOf(node).getTexCoordChannels();
    EXPECT_EQ(Idx(t.begin(), t.begin() + 2), (Idx{0, 0}));
}

// A mesh whose other attributes differ gets a copy of its own vertex
// format, though its channel table comes out as another's.
TEST(CompactChannels, MeshOfOtherAttributesGetsACopyOfItsOwnFormat) {
    Fixture f;
    auto plain = f.add({{0, {1, 2, 3, 4}}}, {0});
    const Ptr<PropertiesSet> source(const_cast<PropertiesSet*>(&setOf(plain)));
    Vertices v = points({0, 0, 0, 1, 1, 1});
    v.setAttribute(TEXCOORD0, 2, {1, 2, 3, 4});
    v.setAttribute(NORMAL0, 3, {0, 0, 1, 0, 0, 1});
    auto lit = meshNode("lit", f.top, source, v, indexList({0, 1, 1}));
    f.root->addRenderNode(lit);
    utils::compactTextureChannels(*f.root);
    EXPECT_NE(lit->getMaterial(), plain->getMaterial());
    for (const auto& n : {plain, lit})
        EXPECT_TRUE(n->getVertices().matchesFormat(setOf(n).getVertexFormat())) << n->getName();
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
    EXPECT_EQ(second->getMaterial(), first->getMaterial());
    EXPECT_EQ(setOf(twin).getTexCoordChannels()[1], 0u);
    EXPECT_EQ(setOf(first).getTexCoordChannels()[1], 1u);
    EXPECT_EQ(source->getTexCoordChannels()[1], 3u);
}
