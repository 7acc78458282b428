// Vertex welding held to the pairwise definition: random clusters of
// near-duplicates around the tolerance, and small meshes on the rules a grid
// gets wrong most easily (fourth component by bits, signed zeros, far-out
// and non-finite values, tolerances that match nothing or everything).

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <random>
#include <stdexcept>

#include "VertexPassTestSupport.h"
#include "utils/VertexWeld.h"

using namespace model;
using namespace vertexpasstest;

namespace {

constexpr float kTolerance = 1e-5f;
constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNan = std::numeric_limits<float>::quiet_NaN();

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

// Welds and checks the result against the definition.
Welded weldAndCompare(Vertices v, const std::vector<std::uint32_t>& idx, float t) {
    const Welded expected = pairwiseWeld(v, idx, t);
    Indices indices = indexList(idx);
    EXPECT_EQ(utils::weldVertices(v, indices, t), expected.removed);
    EXPECT_EQ(bitsOf(v.interleave()), expected.rowBits);
    EXPECT_EQ(indices.indices, expected.indices);
    return expected;
}

// Seed, noise in tolerances, positions with a fourth component.
class WeldAgainstPairwise : public testing::TestWithParam<std::tuple<unsigned, float, bool>> {};

// Clusters of near-duplicates: every copy is a base or an earlier copy moved
// by `noise` tolerances on a few floats, so matches chain and overlap. Signed
// zeros, a few parent indices and unreferenced vertices are mixed in.
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
        rows.push_back(r);
    }
    std::shuffle(rows.begin(), rows.end(), rng);
    std::vector<float> pos, nrm, uv;
    for (const auto& r : rows) {
        pos.insert(pos.end(), r.begin(), r.begin() + posComponents);
        nrm.insert(nrm.end(), r.begin() + posComponents, r.begin() + posComponents + 3);
        uv.insert(uv.end(), r.begin() + posComponents + 3, r.end());
    }
    Vertices v;
    v.setAttribute(POSITION0, std::uint32_t(posComponents), pos);
    v.setAttribute(NORMAL0, 3, nrm);
    v.setAttribute(TEXCOORD0, 2, uv);
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
const float kNanBones = std::bit_cast<float>(0x7FC10203u);  // packed bone indices spelling a NaN

INSTANTIATE_TEST_SUITE_P(
    Weld, WeldSmall,
    testing::Values(
        SmallCase{"MatchedBySeveralRepresentativesEndsWithTheLast", {0, 0, 0, 0, 1.5e-5f, 0, 0, 0, 0.9e-5f, 0, 0, 0},
                  {0, 1, 2}, {0, 1, 1}},
        SmallCase{"SignedZerosInTheFourthComponentStayApart", {1, 2, 3, 0.0f, 1, 2, 3, -0.0f}, {0, 1}, {0, 1}},
        SmallCase{"EqualNanBitsInTheFourthComponentWeld", {1, 2, 3, kNanBones, 1, 2, 3, kNanBones}, {0, 1}, {0, 0}},
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

}  // namespace
