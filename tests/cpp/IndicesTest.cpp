#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "Indices.h"
#include "io/MemBinaryFileR.h"
#include "io/MemBinaryFileW.h"
#include "qz/ExtException.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes write(const model::Indices& indices) {
    model::MemBinaryFileW sink;
    indices.writeTo(sink);
    return sink.getData();
}

struct WidthCase {
    uint32_t largest;
    Bytes expected;  // for the list {1, largest}
};

class IndicesWidth : public ::testing::TestWithParam<WidthCase> {};

TEST_P(IndicesWidth, LargestIndexPicksTheWidthOfTheWholeList) {
    model::Indices indices;
    indices.indices = {1, GetParam().largest};
    EXPECT_EQ(write(indices), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    IndicesBounds, IndicesWidth,
    ::testing::Values(WidthCase{255, {0, 2, 0, 0, 0, 5, 0, 0, 0, 1, 0xFF}},
                      WidthCase{256, {1, 2, 0, 0, 0, 5, 0, 0, 0, 1, 0, 0x00, 0x01}},
                      WidthCase{65535, {1, 2, 0, 0, 0, 5, 0, 0, 0, 1, 0, 0xFF, 0xFF}},
                      WidthCase{65536, {2, 2, 0, 0, 0, 5, 0, 0, 0, 1, 0, 0, 0, 0x00, 0x00, 0x01, 0x00}},
                      WidthCase{0xFFFFFFFF,
                                {2, 2, 0, 0, 0, 5, 0, 0, 0, 1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}}));

TEST(IndicesWrite, EmptyListIsWidthZeroWithTheKind) {
    model::Indices indices;
    indices.primitiveKind = 3;
    EXPECT_EQ(write(indices), (Bytes{0, 0, 0, 0, 0, 3, 0, 0, 0}));
}

TEST(IndicesRead, ReadsBackEveryWidth) {
    for (uint32_t largest : {0u, 255u, 256u, 65535u, 65536u, 0xFFFFFFFFu}) {
        model::Indices written;
        written.primitiveKind = 4;
        written.indices = {largest, 0, 7, largest};
        model::MemBinaryFileR reader(write(written));
        model::Indices read;
        read.readFrom(reader);
        EXPECT_EQ(read.indices, written.indices) << largest;
        EXPECT_EQ(read.primitiveKind, 4u);
    }
}

TEST(IndicesRead, UnknownWidthCodeOrMissingBytesLeaveTheListUnchanged) {
    const Bytes badCode = {3, 1, 0, 0, 0, 5, 0, 0, 0, 1, 0, 0, 0};
    const Bytes truncated = {1, 3, 0, 0, 0, 5, 0, 0, 0, 1, 0, 2};
    const Bytes hugeCount = {2, 0xFF, 0xFF, 0xFF, 0xFF, 5, 0, 0, 0, 1, 0, 0, 0};
    for (const Bytes* bytes : {&badCode, &truncated, &hugeCount}) {
        model::Indices indices;
        indices.primitiveKind = 1;
        indices.indices = {9, 9};
        model::MemBinaryFileR reader(*bytes);
        EXPECT_THROW(indices.readFrom(reader), qz::ExtException);
        EXPECT_EQ(indices.indices, (std::vector<uint32_t>{9, 9}));
        EXPECT_EQ(indices.primitiveKind, 1u);
    }
}

}  // namespace
