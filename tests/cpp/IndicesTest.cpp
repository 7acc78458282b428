#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "Indices.h"
#include "io/10/PrimitiveWriter10.h"
#include "io/MemBinaryFileW.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes write(const model::Indices& indices) {
    model::MemBinaryFileW sink;
    model::PrimitiveWriter10(sink).writeIndices(indices);
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

}  // namespace
