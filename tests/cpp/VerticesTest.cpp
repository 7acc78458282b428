#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "Vertices.h"
#include "io/10/PrimitiveWriter10.h"
#include "io/MemBinaryFileW.h"
#include "qz/ExtException.h"

namespace {

using model::Vertices;
using Floats = std::vector<float>;
using Bytes = std::vector<uint8_t>;

std::string messageOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const qz::ExtException& e) {
        return e.what();
    }
    return "<no qz::ExtException>";
}

Floats iota(size_t n, float start) {
    Floats f(n);
    for (size_t i = 0; i < n; ++i) f[i] = start + float(i);
    return f;
}

TEST(VerticesSemantic, NamesFollowTheCodeTable) {
    EXPECT_STREQ(model::semanticName(0), "POSITION0");
    EXPECT_STREQ(model::semanticName(4), "TEXCOORD0");
    EXPECT_STREQ(model::semanticName(19), "TEXCOORD15");
    EXPECT_STREQ(model::semanticName(21), "COLOR1");
    EXPECT_STREQ(model::semanticName(25), "BINORMAL1");
    EXPECT_STREQ(model::semanticName(26), "UnknownSemantic");
    EXPECT_STREQ(model::semanticName(0xFFFFFFFF), "UnknownSemantic");
    EXPECT_EQ(model::texCoordSemantic(15), 19u);
    EXPECT_THROW(model::texCoordSemantic(16), std::out_of_range);
}

TEST(VerticesFormat, CodePastTheTableIsOutOfRange) {
    model::VertexFormat format{};
    EXPECT_THROW(format[26], std::out_of_range);
    Vertices v;
    EXPECT_THROW(v.setAttribute(26, 3), std::out_of_range);
    EXPECT_EQ(v.attributeCount(), 0u);
}

TEST(VerticesFormat, ComponentCountAFormatCantHoldIsAnError) {
    Vertices v;
    v.setAttribute(model::COLOR0, 256);
    EXPECT_THROW(v.getFormat(), qz::ExtException);
}

TEST(VerticesCount, FollowsTheLowestAttributeOnly) {
    Vertices v;
    v.setAttribute(model::TEXCOORD0, 2, iota(6, 0));
    v.setAttribute(model::POSITION0, 4, iota(40, 0));
    EXPECT_EQ(v.vertexCount(), 10u);
    EXPECT_EQ(Vertices().vertexCount(), 0u);
}

TEST(VerticesCount, ZeroComponentsNeverDivide) {
    Vertices v;
    v.setAttribute(model::POSITION0, 0, iota(5, 0));
    EXPECT_EQ(v.vertexCount(), 0u);
    EXPECT_FALSE(v.isValid());
    EXPECT_TRUE(v.interleave().empty());
    model::MemBinaryFileW sink;
    EXPECT_THROW(model::PrimitiveWriter10(sink).writeVertices(v), qz::ExtException);
}

struct ValidityCase {
    uint32_t components;
    size_t floats;
    bool valid;
};

class VerticesValidity : public ::testing::TestWithParam<ValidityCase> {};

TEST_P(VerticesValidity, DataMustBeWholeRows) {
    Vertices v;
    v.setAttribute(model::POSITION0, 3, iota(3, 0));
    v.setAttribute(model::NORMAL0, GetParam().components, iota(GetParam().floats, 0));
    EXPECT_EQ(v.isValid(), GetParam().valid);
}

INSTANTIATE_TEST_SUITE_P(VerticesCases, VerticesValidity,
                         ::testing::Values(ValidityCase{3, 10, false}, ValidityCase{3, 9, true},
                                           ValidityCase{0, 0, true}, ValidityCase{0, 1, false},
                                           ValidityCase{4, 0, true},
                                           // counts are not compared between attributes
                                           ValidityCase{3, 300, true}));

TEST(VerticesAttribute, MissingAttributeNamesTheSemantic) {
    Vertices v;
    EXPECT_EQ(messageOf([&] { v.getAttribute(model::COLOR1); }), "Vertices don't have COLOR1 attribute.");
    EXPECT_EQ(messageOf([&] { v.getAttribute(99); }), "Vertices don't have UnknownSemantic attribute.");
    EXPECT_EQ(v.findAttribute(model::COLOR1), nullptr);
    v.setAttribute(model::COLOR1, 4);
    v.eraseAttribute(model::COLOR1);
    EXPECT_EQ(v.findAttribute(model::COLOR1), nullptr);
}

TEST(VerticesInterleave, PositionThenTexcoordPerVertex) {
    Vertices v;
    v.setAttribute(model::TEXCOORD1, 2, {10, 11, 20, 21});
    v.setAttribute(model::POSITION0, 4, {1, 2, 3, 4, 5, 6, 7, 8});
    EXPECT_EQ(v.interleave(), (Floats{1, 2, 3, 4, 10, 11, 5, 6, 7, 8, 20, 21}));
}

TEST(VerticesInterleave, DeinterleaveRestoresEveryAttribute) {
    Vertices v;
    v.setAttribute(model::POSITION0, 4, iota(4 * 5, 0));
    v.setAttribute(model::NORMAL0, 3, iota(3 * 5, 100));
    v.setAttribute(model::TEXCOORD3, 2, iota(2 * 5, 200));
    v.setAttribute(model::COLOR0, 0);
    const Vertices original = v;
    const Floats rows = v.interleave();
    ASSERT_EQ(rows.size(), 5u * 9u);
    v.getAttribute(model::NORMAL0).data.assign(3, 0.0f);
    v.deinterleave(rows, 5);
    EXPECT_EQ(v, original);
}

TEST(VerticesInterleave, AttributeShorterThanTheVertexCountIsOutOfRange) {
    Vertices v;
    v.setAttribute(model::POSITION0, 3, iota(9, 0));
    v.setAttribute(model::NORMAL0, 3, iota(6, 0));
    EXPECT_THROW(v.interleave(), std::out_of_range);
}

TEST(VerticesInterleave, TooFewFloatsLeaveTheAttributesUnchanged) {
    Vertices v;
    v.setAttribute(model::POSITION0, 3, iota(6, 0));
    const Vertices original = v;
    EXPECT_THROW(v.deinterleave(iota(8, 0), 3), std::out_of_range);
    EXPECT_EQ(v, original);
    // a huge count must not overflow the size check
    EXPECT_THROW(v.deinterleave(iota(8, 0), SIZE_MAX / 2), std::out_of_range);
}

// More attributes than the object holds inline, set out of code order: the
// entries must still iterate, interleave and erase by ascending code, and a
// copy or move must keep every list.
TEST(VerticesOrder, AttributesSetOutOfOrderPastTheInlineRoomStayInCodeOrder) {
    const std::vector<std::pair<uint32_t, uint32_t>> set = {
        {model::COLOR1, 1},   {model::TEXCOORD3, 2}, {model::POSITION0, 3},
        {model::NORMAL0, 3},  {model::TANGENT0, 3},  {model::TEXCOORD0, 2}};
    ASSERT_GT(set.size(), Vertices::kInlineAttributes);
    Vertices v;
    for (const auto& [code, components] : set) v.setAttribute(code, components, iota(components, 10.0f * code));

    auto codes = [](const Vertices& x) {
        std::vector<uint32_t> out;
        for (const auto& [code, a] : x.getAttributes()) out.push_back(code);
        return out;
    };
    EXPECT_EQ(codes(v), (std::vector<uint32_t>{0, 1, 2, 4, 7, 21}));
    EXPECT_EQ(v.interleave(), (Floats{0, 1, 2, 10, 11, 12, 20, 21, 22, 40, 41, 70, 71, 210}));

    const Vertices copy = v;
    const float* positions = v.getAttribute(model::POSITION0).data.data();
    Vertices moved = std::move(v);
    EXPECT_EQ(moved, copy);
    EXPECT_EQ(moved.getAttribute(model::POSITION0).data.data(), positions);

    moved.eraseAttribute(model::TANGENT0);
    EXPECT_EQ(codes(moved), (std::vector<uint32_t>{0, 1, 4, 7, 21}));
    EXPECT_EQ(moved.getAttribute(model::TEXCOORD3).data, (Floats{70, 71}));
}

TEST(VerticesAppend, MatchingAttributesAppendInOrder) {
    Vertices a, b;
    a.setAttribute(model::POSITION0, 3, {1, 2, 3});
    a.setAttribute(model::TEXCOORD0, 2, {4, 5});
    b.setAttribute(model::POSITION0, 3, {6, 7, 8});
    b.setAttribute(model::TEXCOORD0, 2, {9, 10});
    ASSERT_TRUE(a.append(b));
    EXPECT_EQ(a.getAttribute(model::POSITION0).data, (Floats{1, 2, 3, 6, 7, 8}));
    EXPECT_EQ(a.getAttribute(model::TEXCOORD0).data, (Floats{4, 5, 9, 10}));
    ASSERT_TRUE(a.append(a));
    EXPECT_EQ(a.getAttribute(model::TEXCOORD0).data, (Floats{4, 5, 9, 10, 4, 5, 9, 10}));
}

TEST(VerticesAppend, MismatchReturnsFalseAndChangesNothing) {
    Vertices a;
    a.setAttribute(model::POSITION0, 3, {1, 2, 3});
    a.setAttribute(model::TEXCOORD0, 2, {4, 5});
    const Vertices original = a;

    Vertices fewer;
    fewer.setAttribute(model::POSITION0, 3, {6, 7, 8});
    Vertices otherCode;
    otherCode.setAttribute(model::POSITION0, 3, {6, 7, 8});
    otherCode.setAttribute(model::TEXCOORD1, 2, {9, 10});
    Vertices otherComponents;
    otherComponents.setAttribute(model::POSITION0, 4, {6, 7, 8, 1});
    otherComponents.setAttribute(model::TEXCOORD0, 2, {9, 10});

    for (const Vertices* other : {&fewer, &otherCode, &otherComponents}) {
        EXPECT_FALSE(a.append(*other));
        EXPECT_EQ(a, original);
    }
}

TEST(VerticesWrite, InvalidOrRaggedDataIsRefusedWithTheMessage) {
    Vertices partial;
    partial.setAttribute(model::POSITION0, 3, iota(10, 0));
    Vertices ragged;  // each attribute valid alone, different vertex counts
    ragged.setAttribute(model::POSITION0, 3, iota(9, 0));
    ragged.setAttribute(model::NORMAL0, 3, iota(6, 0));
    Vertices longer;  // a longer attribute would lose its extra rows
    longer.setAttribute(model::POSITION0, 3, iota(3, 0));
    longer.setAttribute(model::NORMAL0, 3, iota(6, 0));
    for (const Vertices* v : {&partial, &ragged, &longer}) {
        model::MemBinaryFileW sink;
        EXPECT_EQ(messageOf([&] { model::PrimitiveWriter10(sink).writeVertices(*v); }), "Vertex data is invalid.");
        EXPECT_TRUE(sink.getData().empty());
    }
}

}  // namespace
