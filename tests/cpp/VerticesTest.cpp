#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "CoreTestSupport.h"
#include "Vertices.h"
#include "io/10/PrimitiveWriter10.h"
#include "io/MemBinaryFileW.h"
#include "qz/ExtException.h"

namespace {

using model::Vertices;
using Floats = std::vector<float>;

Floats iota(size_t n, float start) {
    Floats f(n);
    for (size_t i = 0; i < n; ++i) f[i] = start + float(i);
    return f;
}

// More attributes than the object holds inline, set out of code order: the
// entries must still iterate, interleave and erase by ascending code, and a
// move must keep every list where it is.
TEST(VerticesOrder, AttributesSetOutOfOrderPastTheInlineRoomStayInCodeOrder) {
    const std::vector<std::pair<uint32_t, uint32_t>> set = {
        {model::COLOR1, 1},   {model::TEXCOORD3, 2}, {model::POSITION0, 3},
        {model::NORMAL0, 3},  {model::TANGENT0, 3},  {model::TEXCOORD0, 2}};
    ASSERT_GT(set.size(), Vertices::kInlineAttributes);
    Vertices v;
    for (const auto& [code, components] : set) v.setAttribute(code, components, iota(components, 10.0f * code));
    EXPECT_EQ(v.interleave(), (Floats{0, 1, 2, 10, 11, 12, 20, 21, 22, 40, 41, 70, 71, 210}));
    const Vertices copy = v;
    const float* positions = v.getAttribute(model::POSITION0).data.data();
    Vertices moved = std::move(v);
    EXPECT_EQ(moved, copy);
    EXPECT_EQ(moved.getAttribute(model::POSITION0).data.data(), positions);
    moved.eraseAttribute(model::TANGENT0);
    EXPECT_EQ(moved.interleave(), (Floats{0, 1, 2, 10, 11, 12, 40, 41, 70, 71, 210}));
}

TEST(VerticesInterleave, DeinterleaveRestoresEveryAttributeOrChangesNothing) {
    Vertices v;
    v.setAttribute(model::POSITION0, 4, iota(4 * 5, 0));
    v.setAttribute(model::NORMAL0, 3, iota(3 * 5, 100));
    v.setAttribute(model::COLOR0, 0);
    const Vertices original = v;
    const Floats rows = v.interleave();
    v.getAttribute(model::NORMAL0).data.assign(3 * 4, 0.0f);  // one row short
    EXPECT_THROW(v.interleave(), std::out_of_range);
    v.deinterleave(rows, 5);
    EXPECT_EQ(v, original);
    EXPECT_THROW(v.deinterleave(iota(8, 0), 3), std::out_of_range);
    EXPECT_THROW(v.deinterleave(iota(8, 0), SIZE_MAX / 2), std::out_of_range);  // no overflow in the check
    EXPECT_EQ(v, original);
}

TEST(VerticesWrite, InvalidOrRaggedDataIsRefusedWithTheMessage) {
    Vertices ragged, longer, zero, partial;
    ragged.setAttribute(model::POSITION0, 3, iota(9, 0));  // each attribute valid alone
    ragged.setAttribute(model::NORMAL0, 3, iota(6, 0));
    longer.setAttribute(model::POSITION0, 3, iota(3, 0));  // would lose the extra rows
    longer.setAttribute(model::NORMAL0, 3, iota(6, 0));
    zero.setAttribute(model::POSITION0, 0, iota(5, 0));
    partial.setAttribute(model::POSITION0, 3, iota(7, 0));  // two rows and a third begun
    EXPECT_FALSE(partial.isValid());
    for (const Vertices* v : {&ragged, &longer, &zero, &partial}) {
        model::MemBinaryFileW sink;
        EXPECT_EQ(coretest::messageOf([&] { model::PrimitiveWriter10(sink).writeVertices(*v); }), "Vertex data is invalid.");
        EXPECT_TRUE(sink.getData().empty());
    }
}

// Big meshes are written a block of rows at a time; the seams must not show.
TEST(VerticesWrite, MeshLargerThanOneBlockIsWrittenAsItsInterleavedRows) {
    Vertices v;
    v.setAttribute(model::POSITION0, 3, iota(3 * 7001, 0));
    v.setAttribute(model::TEXCOORD0, 2, iota(2 * 7001, 0.5f));
    model::MemBinaryFileW sink;
    model::PrimitiveWriter10(sink).writeVertices(v);
    const Floats rows = v.interleave();
    std::vector<uint8_t> expected{0x59, 0x1B, 0, 0, 5, 0, 0, 0};
    expected.resize(8 + rows.size() * 4);
    std::memcpy(expected.data() + 8, rows.data(), rows.size() * 4);
    EXPECT_EQ(sink.getData(), expected);
}

// A format holds up to 255 components an attribute; it matches vertices only
// when every code agrees, an attribute the vertices lack counting as 0.
TEST(VerticesFormat, FormatHoldsUpTo255ComponentsAndMatchesOnlyWhenEveryCodeAgrees) {
    Vertices v;
    v.setAttribute(model::POSITION0, 3, iota(3, 0));
    v.setAttribute(model::TEXCOORD0, 255);
    model::VertexFormat format = v.getFormat();
    EXPECT_EQ(format[model::TEXCOORD0], 255);
    EXPECT_TRUE(v.matchesFormat(format));
    format[model::NORMAL0] = 3;  // asked for, not held
    EXPECT_FALSE(v.matchesFormat(format));
    format[model::NORMAL0] = 0;
    format[model::POSITION0] = 4;
    EXPECT_FALSE(v.matchesFormat(format));
    v.setAttribute(model::TEXCOORD0, 256);
    EXPECT_THROW(v.getFormat(), qz::ExtException);
}

// Vertex data appended to itself holds each attribute's rows twice over.
TEST(VerticesAppend, DataAppendedToItselfHoldsEveryRowTwice) {
    Vertices v;
    v.setAttribute(model::POSITION0, 3, iota(9, 0));
    v.setAttribute(model::TEXCOORD0, 2, iota(6, 50));
    ASSERT_TRUE(v.append(v));
    Floats twice = iota(9, 0);
    twice.insert(twice.end(), twice.begin(), twice.end());
    EXPECT_EQ(v.getAttribute(model::POSITION0).data, twice);
    EXPECT_EQ(v.vertexCount(), 6u);
    EXPECT_EQ(v.getAttribute(model::TEXCOORD0).data.size(), 12u);
}

}  // namespace
