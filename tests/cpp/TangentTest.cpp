#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "Tangents.h"
#include "qz/ExtException.h"

namespace {

using Floats = std::vector<float>;
using model::TexCoordChannels;
using model::Vertices;

// Vertices 0..3 on the z = 0 plane with normals +z; the tangent rows start
// as 7s so untouched rows are visible.
Vertices quad(const Floats& uv) {
    Vertices v;
    v.setAttribute(model::POSITION0, 3, {0, 0, 0, 2, 0, 0, 0, 1, 0, 1, 1, 0});
    v.setAttribute(model::NORMAL0, 3, {0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0, 1});
    v.setAttribute(model::TEXCOORD0, 2, uv);
    v.setAttribute(model::TANGENT0, 4, Floats(16, 7.0f));
    return v;
}

TexCoordChannels useChannel0() {
    TexCoordChannels t;
    t[1] = 0;
    return t;
}

Floats row(const Vertices& v, uint32_t code, size_t i) {
    const auto& a = v.getAttribute(code);
    return Floats(a.data.begin() + i * a.components, a.data.begin() + (i + 1) * a.components);
}

TEST(TangentGenerate, UnitTangentAlongUWithHandedness) {
    Vertices v = quad({0, 0, 1, 0, 0, 1, 1, 1});
    model::computeTangents(useChannel0(), std::vector<uint32_t>{0, 1, 2}, v);
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(row(v, model::TANGENT0, i), (Floats{1, 0, 0, -1})) << i;
    EXPECT_EQ(row(v, model::TANGENT0, 3), (Floats{7, 7, 7, 7}));
}

TEST(TangentGenerate, MirroredCoordinatesFlipTangentAndHandedness) {
    Vertices v = quad({0, 0, -1, 0, 0, 1, 1, 1});
    model::computeTangents(useChannel0(), std::vector<uint32_t>{0, 1, 2}, v);
    EXPECT_EQ(row(v, model::TANGENT0, 0), (Floats{-1, 0, 0, 1}));
}

TEST(TangentGenerate, TangentIsMadeOrthogonalToTheNormal) {
    Vertices v = quad({0, 0, 1, 0, 0, 1, 1, 1});
    v.getAttribute(model::POSITION0).data[5] = 2.0f;  // vertex 1 lifted: T has a z part
    model::computeTangents(useChannel0(), std::vector<uint32_t>{0, 1, 2}, v);
    EXPECT_EQ(row(v, model::TANGENT0, 1), (Floats{1, 0, 0, -1}));
}

TEST(TangentGenerate, TriangleWithEqualCoordinatesIsSkipped) {
    Vertices same = quad(Floats(8, 0.5f));
    model::computeTangents(useChannel0(), std::vector<uint32_t>{1, 3, 2}, same);
    EXPECT_EQ(same.getAttribute(model::TANGENT0).data, Floats(16, 7.0f));

    // triangle (3,3,3) has three equal coordinates; (0,1,2) is regular
    Vertices v = quad({0, 0, 1, 0, 0, 1, 0.5f, 0.5f});
    model::computeTangents(useChannel0(), std::vector<uint32_t>{0, 1, 2, 3, 3, 3}, v);
    EXPECT_EQ(row(v, model::TANGENT0, 0), (Floats{1, 0, 0, -1}));
    EXPECT_EQ(row(v, model::TANGENT0, 3), (Floats{7, 7, 7, 7}));
}

TEST(TangentGenerate, SharedVertexKeepsTheLastTrianglesTangent) {
    Vertices v = quad({0, 0, 1, 0, 0, 1, -1, 0});
    // triangle (0,1,2) gives +u; triangle (0,3,2) has its u axis mirrored
    model::computeTangents(useChannel0(), std::vector<uint32_t>{0, 1, 2, 0, 3, 2}, v);
    EXPECT_EQ(row(v, model::TANGENT0, 1), (Floats{1, 0, 0, -1}));
    const Floats last = row(v, model::TANGENT0, 3);
    EXPECT_EQ(row(v, model::TANGENT0, 0), last);
    EXPECT_EQ(last[3], 1.0f);
}

TEST(TangentGenerate, TrailingIndicesOfAnIncompleteTriangleAreIgnored) {
    Vertices v = quad({0, 0, 1, 0, 0, 1, 1, 1});
    model::computeTangents(useChannel0(), std::vector<uint32_t>{0, 1, 2, 3, 999}, v);
    EXPECT_EQ(row(v, model::TANGENT0, 3), (Floats{7, 7, 7, 7}));
}

TEST(TangentGenerate, SecondTangentReadsTableEntry10) {
    Vertices v = quad({0, 0, 0, 0, 0, 0, 0, 0});  // TEXCOORD0 useless
    v.eraseAttribute(model::TANGENT0);
    v.setAttribute(model::TEXCOORD3, 2, {0, 0, 0, 1, 1, 0, 1, 1});  // u runs along y
    v.setAttribute(model::TANGENT1, 4, Floats(16, 7.0f));
    TexCoordChannels t;
    t[10] = 3;
    model::computeTangents(t, std::vector<uint32_t>{0, 1, 2}, v);
    const Floats r = row(v, model::TANGENT1, 0);
    EXPECT_FLOAT_EQ(r[0], 0.0f);
    EXPECT_FLOAT_EQ(r[1], 1.0f);
    EXPECT_EQ(r[3], 1.0f);
}

TEST(TangentLeaveAlone, ThreeComponentOrAbsentTangentIsUntouched) {
    Vertices v = quad({0, 0, 1, 0, 0, 1, 1, 1});
    v.setAttribute(model::TANGENT0, 3, Floats(12, 7.0f));
    // even an unusable table is not looked at
    model::computeTangents(TexCoordChannels(), std::vector<uint32_t>{0, 1, 2, 9, 9, 9}, v);
    EXPECT_EQ(v.getAttribute(model::TANGENT0).data, Floats(12, 7.0f));
    v.eraseAttribute(model::TANGENT0);
    const Vertices before = v;
    model::computeTangents(TexCoordChannels(), std::vector<uint32_t>{0, 1, 2}, v);
    EXPECT_EQ(v, before);
}

class TangentBadIndex : public ::testing::TestWithParam<uint32_t> {};

TEST_P(TangentBadIndex, IndexPastTheVertexCountIsRejectedBeforeAnyWrite) {
    Vertices v = quad({0, 0, 1, 0, 0, 1, 1, 1});
    v.setAttribute(model::TEXCOORD3, 2, {0, 0, 0, 1, 1, 0, 1, 1});
    v.setAttribute(model::TANGENT1, 4, Floats(16, 7.0f));
    TexCoordChannels t = useChannel0();
    t[10] = 3;
    const Vertices before = v;
    EXPECT_THROW(model::computeTangents(t, std::vector<uint32_t>{0, 1, 2, 1, 2, GetParam()}, v),
                 std::out_of_range);
    EXPECT_EQ(v, before);
}

INSTANTIATE_TEST_SUITE_P(TangentIndices, TangentBadIndex, ::testing::Values(4u, 5u, 0xFFFFFFFFu));

TEST(TangentBadInput, ShortAttributeLimitsTheVertexCount) {
    Vertices v = quad({0, 0, 1, 0, 0, 1});  // coordinates for 3 vertices only
    EXPECT_THROW(model::computeTangents(useChannel0(), std::vector<uint32_t>{0, 1, 3}, v),
                 std::out_of_range);
}

TEST(TangentBadInput, TableEntryNamingNoChannelIsOutOfRange) {
    for (uint32_t entry : {TexCoordChannels::NONE, 16u}) {
        Vertices v = quad({0, 0, 1, 0, 0, 1, 1, 1});
        TexCoordChannels t;
        t[1] = entry;
        EXPECT_THROW(model::computeTangents(t, std::vector<uint32_t>{0, 1, 2}, v), std::out_of_range);
    }
}

TEST(TangentBadInput, MissingOrNarrowAttributesRaiseTheLibraryError) {
    Vertices noCoords = quad({0, 0, 1, 0, 0, 1, 1, 1});
    noCoords.eraseAttribute(model::TEXCOORD0);
    try {
        model::computeTangents(useChannel0(), std::vector<uint32_t>{0, 1, 2}, noCoords);
        FAIL();
    } catch (const qz::ExtException& e) {
        EXPECT_STREQ(e.what(), "Vertices don't have TEXCOORD0 attribute.");
    }
    Vertices flat = quad({0, 0, 1, 0, 0, 1, 1, 1});
    flat.setAttribute(model::POSITION0, 2, {0, 0, 2, 0, 0, 1, 1, 1});
    EXPECT_THROW(model::computeTangents(useChannel0(), std::vector<uint32_t>{0, 1, 2}, flat),
                 qz::ExtException);
}

}  // namespace
