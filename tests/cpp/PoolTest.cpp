#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "qz/ExtException.h"
#include "qz/StringPool.h"

namespace {

std::string table(const qz::StringPool& pool) {
    std::vector<uint8_t> out{9, 9, 9};  // serialize replaces, never appends
    pool.serialize(out);
    return std::string(out.begin(), out.end());
}

TEST(PoolStringPool, StoresEachStringOnceAndNumbersByFirstInsertion) {
    qz::StringPool pool(4096);
    const char* first = pool.add("alpha");
    EXPECT_EQ(pool.add("beta"), pool.add("beta"));
    EXPECT_EQ(pool.add(std::string("alpha").c_str()), first);
    EXPECT_EQ(pool.indexOf("alpha"), 0);
    EXPECT_EQ(pool.indexOf("beta"), 1);
    EXPECT_EQ(pool.indexOf("gamma"), 2);
    EXPECT_EQ(pool.size(), 3u);
    EXPECT_EQ(table(pool), std::string("alpha\0beta\0gamma\0", 17));
}

TEST(PoolStringPool, EmptyStringIsASingleNulEntry) {
    qz::StringPool pool(4096);
    EXPECT_EQ(pool.indexOf(""), 0);
    EXPECT_EQ(pool.indexOf(""), 0);
    EXPECT_EQ(table(pool), std::string(1, '\0'));
}

TEST(PoolStringPool, PrefixesAreDistinctStrings) {
    qz::StringPool pool(4096);
    EXPECT_EQ(pool.indexOf("abc"), 0);
    EXPECT_EQ(pool.indexOf("ab"), 1);
    EXPECT_EQ(pool.indexOf("abcd"), 2);
}

class PoolLongString : public ::testing::TestWithParam<size_t> {};

// Blocks of 8 bytes: strings of 7 bytes fill one exactly, longer ones must
// still be stored whole and keep the table in index order.
TEST_P(PoolLongString, StringLongerThanABlockIsStoredWholeInOrder) {
    qz::StringPool pool(8);
    const std::string longOne(GetParam(), 'x');
    EXPECT_EQ(pool.indexOf("ab"), 0);
    EXPECT_EQ(pool.indexOf(longOne.c_str()), 1);
    EXPECT_EQ(pool.indexOf("cd"), 2);
    EXPECT_STREQ(pool.at(1), longOne.c_str());
    EXPECT_EQ(table(pool), "ab" + std::string(1, '\0') + longOne + std::string(1, '\0') + "cd" +
                               std::string(1, '\0'));
}

INSTANTIATE_TEST_SUITE_P(PoolLengths, PoolLongString, ::testing::Values(6, 7, 8, 9, 100, 10000));

TEST(PoolStringPool, PointersStayValidWhileTheIndexGrows) {
    qz::StringPool pool(16);
    const char* first = pool.add("first");
    for (int i = 0; i < 2000; ++i) pool.add(std::to_string(i).c_str());
    EXPECT_STREQ(first, "first");
    EXPECT_EQ(pool.add("first"), first);
    EXPECT_EQ(pool.indexOf("1999"), 2000);
}

TEST(PoolStringPool, ZeroBlockSizeStillStoresEveryString) {
    qz::StringPool pool(0);
    EXPECT_EQ(pool.indexOf("a"), 0);
    EXPECT_EQ(pool.indexOf(""), 1);
    EXPECT_EQ(table(pool), std::string("a\0\0", 3));
}

TEST(PoolStringPool, NullStringThrows) {
    qz::StringPool pool(4096);
    EXPECT_THROW(pool.add(nullptr), qz::ExtException);
    EXPECT_THROW(pool.indexOf(nullptr), qz::ExtException);
    EXPECT_EQ(pool.size(), 0u);
}

}  // namespace
