#include <gtest/gtest.h>

#include <cstddef>
#include <stdexcept>
#include <string>

#include "qz/Array.h"

namespace {

template <typename Call>
void expectOutOfRange(Call call) {
    try {
        call();
        FAIL() << "no exception";
    } catch (const std::out_of_range& error) {
        EXPECT_STREQ(error.what(), "qz::array: index out of range");
    }
}

class ArrayBadIndex : public ::testing::TestWithParam<std::size_t> {};

TEST_P(ArrayBadIndex, IndexAtOrPastEndThrowsOutOfRange) {
    qz::array<int, 4> values{1, 2, 3, 4};
    const auto& constValues = values;
    const std::size_t index = GetParam();
    expectOutOfRange([&] { (void)values[index]; });
    expectOutOfRange([&] { (void)constValues[index]; });
    expectOutOfRange([&] { (void)values.at(index); });
    expectOutOfRange([&] { (void)constValues.at(index); });
    // A failed access writes nothing.
    EXPECT_EQ(values, (qz::array<int, 4>{1, 2, 3, 4}));
}

// Negative indices converted to size_t are huge; they must not wrap into the array.
INSTANTIATE_TEST_SUITE_P(Array, ArrayBadIndex,
                         ::testing::Values(std::size_t{4}, std::size_t{5}, std::size_t{1} << 40,
                                           static_cast<std::size_t>(-1)));

TEST(Array, LastValidIndexReadsAndWrites) {
    qz::array<std::string, 3> names{"a", "b", "c"};
    names[2] = "z";
    EXPECT_EQ(names.at(2), "z");
    EXPECT_EQ(names.size(), 3u);
    std::string joined;
    for (const auto& name : names) joined += name;
    EXPECT_EQ(joined, "abz");
}

}  // namespace
