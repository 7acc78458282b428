// Vertex welding: the hash-grid search against the pairwise definition, and
// the rules a grid gets wrong most easily (fourth component, signed zeros,
// far-out coordinates, values that match nothing).

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <random>
#include <stdexcept>

#include "VertexPassTestSupport.h"
#include "qz/ExtException.h"
#include "utils/VertexWeld.h"

using namespace model;
using namespace vertexpasstest;

namespace {

constexpr float kTolerance = 1e-5f;

struct Welded {
    std::vector<float> rows;
    std::vector<std::uint32_t> indices;
    std::size_t removed = 0;
    std::size_t merged = 0;
};

// The definition, pair by pair: unreferenced vertices dropped, then every
// not-yet-merged vertex claims every later matching vertex.
Welded pairwiseWeld(const Vertices& v, const std::vector<std::uint32_t>& indices, float t) {
    const std::size_t count = v.vertexCount();
    const std::size_t s = v.vertexSize();
    const VertexAttribute* pos = v.findAttribute(POSITION0);
    const std::size_t exact = pos && pos->components >= 4 ? 3 : s;
    const std::vector<float> all = v.interleave();
    std::vector<bool> used(count);
    for (std::uint32_t i : indices) used.at(i) = true;
    std::vector<std::size_t> kept;
    std::vector<std::size_t> keptAt(count);
    for (std::size_t i = 0; i < count; ++i)
        if (used[i]) {
            keptAt[i] = kept.size();
            kept.push_back(i);
        }
    const std::size_t n = kept.size();
    auto row = [&](std::size_t k) { return all.data() + kept[k] * s; };
    auto match = [&](const float* a, const float* b) {
        for (std::size_t f = 0; f < s; ++f) {
            if (f == exact) {
                if (std::bit_cast<std::uint32_t>(a[f]) != std::bit_cast<std::uint32_t>(b[f])) return false;
            } else if (!(std::fabs(a[f] - b[f]) <= t)) {
                return false;
            }
        }
        return true;
    };
    std::vector<std::size_t> owner(n, SIZE_MAX);
    for (std::size_t i = 0; i < n; ++i) {
        if (owner[i] != SIZE_MAX) continue;
        for (std::size_t j = i + 1; j < n; ++j)
            if (match(row(i), row(j))) owner[j] = i;
    }
    Welded out;
    std::vector<std::uint32_t> number(n);
    std::uint32_t next = 0;
    for (std::size_t k = 0; k < n; ++k) {
        if (owner[k] != SIZE_MAX) {
            number[k] = number[owner[k]];
            continue;
        }
        number[k] = next++;
        out.rows.insert(out.rows.end(), row(k), row(k) + s);
    }
    for (std::uint32_t i : indices) out.indices.push_back(number[keptAt[i]]);
    out.removed = count - next;
    out.merged = n - next;
    return out;
}

bool sameBits(const std::vector<float>& a, const std::vector<float>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::bit_cast<std::uint32_t>(a[i]) != std::bit_cast<std::uint32_t>(b[i])) return false;
    return true;
}

struct RandomMeshCase {
    unsigned seed;
    float noise;  // in tolerances
    bool fourComponentPositions;
};

// Clusters of near-duplicates: every copy is a base or an earlier copy moved
// by `noise` tolerances on a few floats, so matches chain and overlap. Signed
// zeros and a few parent indices are mixed in.
void randomMesh(const RandomMeshCase& c, Vertices& v, std::vector<std::uint32_t>& indices) {
    std::mt19937 rng(c.seed);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    std::uniform_int_distribution<int> pick(0, 7);
    const std::size_t posComponents = c.fourComponentPositions ? 4 : 3;
    const std::size_t s = posComponents + 3 + 2;
    std::vector<std::vector<float>> rows;
    for (int b = 0; b < 300; ++b) {
        std::vector<float> r(s);
        // A coarse lattice puts many bases close to each other; positions
        // spread evenly meet every possible place in a grid cell.
        for (std::size_t f = 0; f < s; ++f) r[f] = std::round(unit(rng) * 4.0f) * 0.25f;
        if (b % 2)
            for (std::size_t f = 0; f < 3; ++f) r[f] = unit(rng);
        if (c.fourComponentPositions) r[3] = float(pick(rng) % 3);
        if (pick(rng) == 0) r[0] = -0.0f;
        if (pick(rng) == 0 && c.fourComponentPositions) r[3] = -0.0f;
        rows.push_back(r);
    }
    for (int d = 0; d < 4000; ++d) {
        std::vector<float> r = rows[std::uniform_int_distribution<std::size_t>(0, rows.size() - 1)(rng)];
        const int moved = pick(rng) % 4;  // 0: an exact copy
        for (int m = 0; m < moved; ++m) {
            std::size_t f = std::uniform_int_distribution<std::size_t>(0, s - 1)(rng);
            if (c.fourComponentPositions && f == 3) continue;
            r[f] += (pick(rng) % 2 ? 1.0f : -1.0f) * c.noise * kTolerance;
        }
        if (pick(rng) == 0) r[1] = r[1] == 0.0f ? -r[1] : r[1];
        rows.push_back(r);
    }
    std::shuffle(rows.begin(), rows.end(), rng);
    std::vector<float> pos, nrm, uv;
    for (const auto& r : rows) {
        pos.insert(pos.end(), r.begin(), r.begin() + posComponents);
        nrm.insert(nrm.end(), r.begin() + posComponents, r.begin() + posComponents + 3);
        uv.insert(uv.end(), r.begin() + posComponents + 3, r.end());
    }
    v.setAttribute(POSITION0, std::uint32_t(posComponents), pos);
    v.setAttribute(NORMAL0, 3, nrm);
    v.setAttribute(TEXCOORD0, 2, uv);
    // Some vertices stay unreferenced.
    std::uniform_int_distribution<std::uint32_t> any(0, std::uint32_t(rows.size() - 1));
    for (int i = 0; i < 8000; ++i) indices.push_back(any(rng) % (std::uint32_t(rows.size()) - 40));
}

class WeldAgainstPairwise : public testing::TestWithParam<RandomMeshCase> {};

}  // namespace

TEST_P(WeldAgainstPairwise, GridSearchGivesThePairwiseResult) {
    Vertices v;
    std::vector<std::uint32_t> idx;
    randomMesh(GetParam(), v, idx);
    const Welded expected = pairwiseWeld(v, idx, kTolerance);

    Indices indices = indexList(idx);
    const std::size_t removed = utils::weldVertices(v, indices, kTolerance);
    EXPECT_EQ(removed, expected.removed);
    EXPECT_TRUE(sameBits(v.interleave(), expected.rows));
    EXPECT_EQ(indices.indices, expected.indices);
    // The meshes are built so that both outcomes occur many times.
    EXPECT_GT(expected.merged, 100u);
}

INSTANTIATE_TEST_SUITE_P(WeldNoiseAroundTolerance, WeldAgainstPairwise,
                         testing::Values(RandomMeshCase{1, 0.999f, true}, RandomMeshCase{2, 1.001f, true},
                                         RandomMeshCase{3, 0.5f, true}, RandomMeshCase{4, 0.999f, false},
                                         RandomMeshCase{5, 1.001f, false}, RandomMeshCase{6, 0.7f, true},
                                         RandomMeshCase{7, 1.0f, true}, RandomMeshCase{8, 1.0f, false}));

TEST(Weld, VertexMatchedBySeveralRepresentativesEndsWithTheLast) {
    // v2 is within the tolerance of v0 and of v1; v0 and v1 are not.
    Vertices v = points({0.0f, 0, 0, 1.5e-5f, 0, 0, 0.9e-5f, 0, 0});
    Indices indices = indexList({0, 1, 2});
    EXPECT_EQ(utils::weldVertices(v, indices, kTolerance), 1u);
    EXPECT_EQ(indices.indices, (std::vector<std::uint32_t>{0, 1, 1}));
    EXPECT_EQ(attributeData(v, POSITION0), (std::vector<float>{0, 0, 0, 0, 1.5e-5f, 0, 0, 0}));
}

TEST(Weld, VerticesDifferingOnlyInParentIndexStayApart) {
    Vertices v = positions4({1, 2, 3, 0, 1, 2, 3, 1, 1, 2, 3, 0});
    Indices indices = indexList({0, 1, 2});
    EXPECT_EQ(utils::weldVertices(v, indices, kTolerance), 1u);
    EXPECT_EQ(indices.indices, (std::vector<std::uint32_t>{0, 1, 0}));
}

TEST(Weld, FourthComponentIsComparedByBitsSoSignedZerosStayApart) {
    Vertices v = positions4({1, 2, 3, 0.0f, 1, 2, 3, -0.0f});
    Indices indices = indexList({0, 1});
    EXPECT_EQ(utils::weldVertices(v, indices, kTolerance), 0u);
    // Packed bone indices can spell a NaN; equal bits still weld.
    const float nanBones = std::bit_cast<float>(0x7FC10203u);
    Vertices bones = positions4({1, 2, 3, nanBones, 1, 2, 3, nanBones});
    Indices both = indexList({0, 1});
    EXPECT_EQ(utils::weldVertices(bones, both, kTolerance), 1u);
}

TEST(Weld, SignedZerosInOtherFloatsWeld) {
    Vertices v = points({0.0f, -0.0f, 5, -0.0f, 0.0f, 5});
    v.setAttribute(NORMAL0, 3, {-0.0f, 0, 1, 0.0f, -0.0f, 1});
    Indices indices = indexList({1, 0});
    EXPECT_EQ(utils::weldVertices(v, indices, kTolerance), 1u);
    EXPECT_EQ(indices.indices, (std::vector<std::uint32_t>{0, 0}));
    // Also with a zero tolerance, where only equal values match.
    Vertices z = points({0.0f, 0, 0, -0.0f, 0, 0});
    Indices zi = indexList({0, 1});
    EXPECT_EQ(utils::weldVertices(z, zi, 0.0f), 1u);
}

TEST(Weld, WithThreeComponentPositionsTheFourthFloatUsesTheTolerance) {
    Vertices v;
    v.setAttribute(POSITION0, 3, {1, 2, 3, 1, 2, 3});
    v.setAttribute(NORMAL0, 3, {0.5f, 0, 0, 0.5f + 0.5e-5f, 0, 0});
    Indices indices = indexList({0, 1});
    EXPECT_EQ(utils::weldVertices(v, indices, kTolerance), 1u);
}

TEST(Weld, UnreferencedVerticesGoAndIndicesFollow) {
    Vertices v = points({0, 0, 0, 1, 0, 0, 2, 0, 0, 3, 0, 0, 4, 0, 0});
    Indices indices = indexList({4, 2, 4});
    EXPECT_EQ(utils::weldVertices(v, indices, kTolerance), 3u);
    EXPECT_EQ(indices.indices, (std::vector<std::uint32_t>{1, 0, 1}));
    EXPECT_EQ(attributeData(v, POSITION0), (std::vector<float>{2, 0, 0, 0, 4, 0, 0, 0}));

    Vertices none = points({0, 0, 0, 1, 0, 0});
    Indices empty = indexList({});
    EXPECT_EQ(utils::weldVertices(none, empty, kTolerance), 2u);
    EXPECT_EQ(none.vertexCount(), 0u);
}

TEST(Weld, IndexPastTheVerticesThrowsAndChangesNothing) {
    Vertices v = points({0, 0, 0, 0, 0, 0});
    const Vertices before = v;
    Indices indices = indexList({0, 1, 2});
    try {
        utils::weldVertices(v, indices, kTolerance);
        FAIL() << "no exception";
    } catch (const std::out_of_range& e) {
        EXPECT_STREQ(e.what(), "invalid vector<bool> subscript");
    }
    EXPECT_EQ(v, before);
    EXPECT_EQ(indices.indices, (std::vector<std::uint32_t>{0, 1, 2}));
}

TEST(Weld, AttributesOfDifferentLengthsAreRefused) {
    Vertices v = points({0, 0, 0, 0, 0, 0});
    v.setAttribute(NORMAL0, 3, {0, 0, 1});
    Indices indices = indexList({0, 1});
    try {
        utils::weldVertices(v, indices, kTolerance);
        FAIL() << "no exception";
    } catch (const qz::ExtException& e) {
        EXPECT_STREQ(e.what(), "Vertex data is invalid.");
    }
}

TEST(Weld, NothingToRemoveLeavesTheDataAsItWas) {
    Vertices v = points({0, 0, 0, 1, 0, 0});
    v.setAttribute(COLOR0, 4, {1, 1, 1, 1, 0, 0, 0, 1});
    const Vertices before = v;
    Indices indices = indexList({0, 1});
    EXPECT_EQ(utils::weldVertices(v, indices, kTolerance), 0u);
    EXPECT_EQ(v, before);
}

TEST(Weld, ToleranceThatMatchesNothingOnlyDropsUnreferenced) {
    for (float t : {-1.0f, std::numeric_limits<float>::quiet_NaN()}) {
        Vertices v = points({0, 0, 0, 0, 0, 0, 9, 9, 9});
        Indices indices = indexList({0, 1});
        EXPECT_EQ(utils::weldVertices(v, indices, t), 1u) << t;
        EXPECT_EQ(indices.indices, (std::vector<std::uint32_t>{0, 1}));
    }
}

TEST(Weld, NonFiniteValuesNeverMatchUnderAFiniteTolerance) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    Vertices v = points({nan, 0, 0, nan, 0, 0, inf, 0, 0, inf, 0, 0, 1, 1, 1, 1, 1, 1});
    Indices indices = indexList({0, 1, 2, 3, 4, 5});
    EXPECT_EQ(utils::weldVertices(v, indices, kTolerance), 1u);
    EXPECT_EQ(indices.indices, (std::vector<std::uint32_t>{0, 1, 2, 3, 4, 4}));
}

TEST(Weld, InfiniteToleranceMergesEveryRowOfOneParent) {
    const float inf = std::numeric_limits<float>::infinity();
    Vertices v = positions4({0, 0, 0, 0, 1e30f, -5, inf, 0, 7, 7, 7, 1, -3, 2, 1, 1});
    Indices indices = indexList({0, 1, 2, 3});
    EXPECT_EQ(utils::weldVertices(v, indices, inf), 2u);
    EXPECT_EQ(indices.indices, (std::vector<std::uint32_t>{0, 0, 1, 1}));
}

TEST(Weld, FarOutCoordinatesWeldOnlyWhenEqual) {
    const float far = 3e30f;
    const float next = std::nextafter(far, 4e30f);
    const float big = 1e9f;  // where floats are 64 apart
    Vertices v = points({far, -far, far, far, -far, far, next, -far, far, big, 0, 0, big, 0, 0});
    Indices indices = indexList({0, 1, 2, 3, 4});
    EXPECT_EQ(utils::weldVertices(v, indices, kTolerance), 2u);
    EXPECT_EQ(indices.indices, (std::vector<std::uint32_t>{0, 0, 1, 2, 2}));
}

TEST(Weld, ConstantFourthComponentAndManyCopiesOfOnePoint) {
    // Every vertex shares w, and half of them sit on one point: all of the
    // copies must go to the first, the others stay.
    std::vector<float> data;
    for (int i = 0; i < 20000; ++i) {
        const float x = i % 2 ? 5.0f : -float(i) * 0.01f;
        data.insert(data.end(), {x, 1, 2, 0});
    }
    Vertices v = positions4(data);
    std::vector<std::uint32_t> idx(20000);
    for (std::uint32_t i = 0; i < 20000; ++i) idx[i] = i;
    Indices indices = indexList(idx);
    EXPECT_EQ(utils::weldVertices(v, indices, kTolerance), 9999u);
    EXPECT_EQ(indices.indices[1], 1u);
    EXPECT_EQ(indices.indices[3], 1u);
    EXPECT_EQ(indices.indices[4], 3u);
}
