// Tangent frames of a quad on the z = 0 plane with normals +z: tangent along
// u, handedness in the fourth float, rows not written stay at 7.

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>

#include "DeckTangents.h"
#include "Tangents.h"
#include "qz/ExtException.h"

namespace {

using Floats = std::vector<float>;
using Idx = std::vector<std::uint32_t>;
using model::TexCoordChannels;
using model::Vertices;
// Untouched, along u (handedness -1), mirrored, and the diagonal of triangle (0, 3, 2).
const Floats k7{7, 7, 7, 7}, kU{1, 0, 0, -1}, kMirrored{-1, 0, 0, 1}, kDiagonal{-0.70711f, -0.70711f, 0, 1};

Vertices quad(const Floats& uv, float lift = 0) {
    Vertices v;
    v.setAttribute(model::POSITION0, 3, {0, 0, 0, 2, 0, lift, 0, 1, 0, 1, 1, 0});
    v.setAttribute(model::NORMAL0, 3, {0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0, 1});
    v.setAttribute(model::TEXCOORD0, 2, uv);
    v.setAttribute(model::TANGENT0, 4, Floats(16, 7.0f));
    return v;
}

TexCoordChannels channel(std::size_t entry, std::uint32_t texcoord) {
    TexCoordChannels t;
    t[entry] = texcoord;
    return t;
}

// Row i of a four-component attribute, to five decimals.
Floats row(const Vertices& v, std::uint32_t code, std::size_t i) {
    Floats out;
    for (std::size_t k = 0; k < 4; ++k) out.push_back(std::round(v.getAttribute(code).data[4 * i + k] * 1e5f) / 1e5f);
    return out;
}

struct Case {
    const char* name;
    Floats uv;
    Idx indices;
    std::vector<Floats> rows;
    float lift = 0;
};

class TangentGenerate : public testing::TestWithParam<Case> {};

TEST_P(TangentGenerate, RowsOfTheQuad) {
    Vertices v = quad(GetParam().uv, GetParam().lift);
    model::computeTangents(channel(1, 0), GetParam().indices, v);
    for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(row(v, model::TANGENT0, i), GetParam().rows[i]) << i;
}

INSTANTIATE_TEST_SUITE_P(
    Tangents, TangentGenerate,
    testing::Values(
        Case{"UnitTangentAlongUWithHandedness", {0, 0, 1, 0, 0, 1, 1, 1}, {0, 1, 2, 3, 999}, {kU, kU, kU, k7}},
        Case{"MirroredCoordinatesFlipTangentAndHandedness", {0, 0, -1, 0, 0, 1, 1, 1}, {0, 1, 2},
             {kMirrored, kMirrored, kMirrored, k7}},
        Case{"TangentIsMadeOrthogonalToTheNormal", {0, 0, 1, 0, 0, 1, 1, 1}, {0, 1, 2}, {kU, kU, kU, k7}, 2},
        // (3, 3, 3) and (1, 3, 2) span no area in u, v.
        Case{"TriangleWithEqualCoordinatesIsSkipped", {0, 0, 1, 0, 0, 1, 0.5f, 0.5f}, {0, 1, 2, 3, 3, 3, 1, 3, 2},
             {kU, kU, kU, k7}},
        Case{"SharedVertexKeepsTheLastTrianglesTangent", {0, 0, 1, 0, 0, 1, -1, 0}, {0, 1, 2, 0, 3, 2},
             {kDiagonal, kU, kDiagonal, kDiagonal}}),
    [](const auto& info) { return std::string(info.param.name); });

// The first tangents follow the coordinates texture use 1 names, the
// second those use 10 names.
TEST(TangentGenerate, SecondTangentsFollowTheCoordinatesOfUseTen) {
    Vertices v = quad({0, 0, 1, 0, 0, 1, 1, 1});
    v.setAttribute(model::TEXCOORD0 + 1, 2, {0, 0, -1, 0, 0, 1, 1, 1});
    v.setAttribute(model::TANGENT1, 4, Floats(16, 7.0f));
    TexCoordChannels t = channel(1, 0);
    t[10] = 1;
    model::computeTangents(t, {0, 1, 2}, v);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(row(v, model::TANGENT0, i), kU) << i;
        EXPECT_EQ(row(v, model::TANGENT1, i), kMirrored) << i;
    }
}

TEST(TangentBadInput, RejectedBeforeAnyWrite) {
    Vertices v = quad({0, 0, 1, 0, 0, 1, 1, 1});
    const Vertices before = v;
    EXPECT_THROW(model::computeTangents(channel(1, 0), Idx{0, 1, 2, 1, 2, 4}, v), std::out_of_range);
    EXPECT_EQ(v, before);
    v.eraseAttribute(model::TEXCOORD0);
    EXPECT_THROW(model::computeTangents(channel(1, 0), Idx{0, 1, 2}, v), qz::ExtException);
}

// Deck surfaces: tangent along u, binormal along v whatever the normal's
// sign; a mirrored u turns the tangent, the binormal still follows v.
TEST(DeckTangentFrame, TangentFollowsUAndBinormalFollowsV) {
    for (const float u : {1.0f, -1.0f}) {
        Vertices v = quad({0, 0, u, 0, 0, 1, u, 1});
        Floats tangents, binormals;
        model::computeDeckTangentFrame(v, Idx{0, 1, 2, 1, 3, 2}, tangents, binormals);
        for (std::size_t i = 0; i < 4; ++i) {
            EXPECT_EQ(Floats(tangents.begin() + 3 * i, tangents.begin() + 3 * i + 3), Floats({u, 0, 0})) << i;
            EXPECT_EQ(Floats(binormals.begin() + 3 * i, binormals.begin() + 3 * i + 3), Floats({0, 1, 0})) << i;
        }
        EXPECT_THROW(model::computeDeckTangentFrame(v, Idx{0, 1, 4}, tangents, binormals), std::out_of_range);
    }
}

}  // namespace
