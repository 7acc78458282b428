// The data pool's string search: the first offset over the whole pool at
// which the bytes and their NUL stand, whatever the pool holds around them,
// checked against a plain search of the same bytes.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

#include "io/tav2/DataPool20.h"
#include "qz/ExtException.h"

using model::DataPool20;

namespace {

std::string contents(const DataPool20& pool) { return std::string(pool.bytes().begin(), pool.bytes().end()); }

// What addString must return, computed the slow, obvious way.
uint64_t expectedOffset(const std::string& pool, std::string s) {
    s = s.substr(0, s.find('\0'));
    const size_t at = pool.find(s + '\0');
    return at == std::string::npos ? pool.size() : at;
}

}  // namespace

TEST(Writer20Pool, EmptyNameUsesTheFirstNulAnywhereInThePool) {
    DataPool20 pool;
    EXPECT_EQ(pool.addString(""), 0u);  // empty pool: appended
    pool.writeU32(0x00414141);
    EXPECT_EQ(pool.addString(""), 0u);
    EXPECT_EQ(pool.addString("AA"), 2u);  // inside key data
    DataPool20 other;
    other.writeU32(0x00424242);
    EXPECT_EQ(other.addString(""), 3u);
    EXPECT_EQ(other.addString("BB"), 1u);
    EXPECT_EQ(other.size(), 4u);  // nothing appended
}

TEST(Writer20Pool, SuffixOfAnEarlierStringIsReusedAndPrefixIsNot) {
    DataPool20 pool;
    EXPECT_EQ(pool.addString("gear_left"), 0u);
    EXPECT_EQ(pool.addString("left"), 5u);
    EXPECT_EQ(pool.addString("t"), 8u);
    EXPECT_EQ(pool.addString("gear"), 10u);  // "gear" is followed by '_', not NUL
    EXPECT_EQ(pool.addString("gear_left"), 0u);
    EXPECT_EQ(contents(pool), std::string("gear_left\0gear\0", 15));
}

TEST(Writer20Pool, StringIsStoredUpToItsFirstNul) {
    DataPool20 pool;
    EXPECT_EQ(pool.addString(std::string("abc\0def", 7)), 0u);
    EXPECT_EQ(pool.addString("abc"), 0u);
    EXPECT_EQ(contents(pool), std::string("abc\0", 4));
}

TEST(Writer20Pool, MatchSpanningAppendedKeyDataAndALaterStringIsFound) {
    // Key data without a NUL at its end runs on into the next string: the
    // bytes "xyname\0" exist only once the string is appended.
    DataPool20 pool;
    pool.writeU16(0x7978);  // "xy"
    EXPECT_EQ(pool.addString("name"), 2u);
    EXPECT_EQ(pool.addString("xyname"), 0u);
    EXPECT_EQ(pool.addString("yname"), 1u);
    EXPECT_EQ(pool.size(), 7u);
}

TEST(Writer20Pool, AgreesWithAPlainSearchOnRandomPools) {
    // Small alphabets make suffixes, repeats and matches across key data
    // common; every answer is compared with the obvious search.
    std::mt19937 random(20);
    for (int round = 0; round < 300; ++round) {
        DataPool20 pool;
        std::string mirror;
        // Every third round a wide alphabet gives nodes many children.
        const int alphabet = round % 3 == 2 ? 40 + round % 200 : 2 + round % 4;
        for (int step = 0; step < 60; ++step) {
            if (random() % 4 == 0) {
                std::string raw(random() % 9, '\0');
                for (char& c : raw) c = char(random() % (alphabet + 1));  // NULs included
                pool.write(raw.data(), raw.size());
                mirror += raw;
                continue;
            }
            std::string s(random() % 7, 'a');
            for (char& c : s) c = char(1 + random() % alphabet);
            const uint64_t expected = expectedOffset(mirror, s);
            ASSERT_EQ(pool.addString(s), expected) << "round " << round << " step " << step;
            if (expected == mirror.size()) mirror += s + '\0';
            ASSERT_EQ(contents(pool), mirror);
        }
    }
}

TEST(Writer20Pool, NamesSharingALongTailAreToldApart) {
    // Many names that share a long tail and differ only at the front: a
    // search that compared only the ends would confuse them.
    DataPool20 pool;
    const std::string tail(300, 'z');
    std::vector<uint64_t> offsets;
    for (int i = 0; i < 50; ++i) offsets.push_back(pool.addString(std::to_string(i) + tail));
    for (int i = 0; i < 50; ++i) EXPECT_EQ(pool.addString(std::to_string(i) + tail), offsets[i]) << i;
    EXPECT_EQ(pool.addString(tail), offsets[0] + 1);
    const uint64_t appended = pool.addString("x" + tail);
    EXPECT_EQ(appended, pool.size() - tail.size() - 2);
}

TEST(Writer20Pool, EveryByteBeforeACommonTailStaysFindable) {
    // 255 strings that differ only in the byte before a shared tail, then
    // the same with two bytes: nodes with hundreds of children.
    DataPool20 pool;
    std::string mirror;
    std::vector<std::pair<std::string, uint64_t>> added;
    for (int round = 1; round <= 2; ++round)
        for (int c = 1; c < 256; ++c) {
            const std::string s = std::string(round, char(c)) + "tail";
            const uint64_t expected = expectedOffset(mirror, s);
            ASSERT_EQ(pool.addString(s), expected) << c;
            if (expected == mirror.size()) mirror += s + '\0';
            added.emplace_back(s, expected);
        }
    for (const auto& [s, offset] : added) EXPECT_EQ(pool.addString(s), offset);
    EXPECT_EQ(pool.addString("tail"), 1u);
    EXPECT_EQ(pool.addString("ail"), 2u);
    EXPECT_EQ(contents(pool), mirror);
}

TEST(Writer20Pool, WriteBeyond32BitOffsetsIsRefusedBeforeAppending) {
    DataPool20 pool;
    pool.writeU32(7);
    try {
        pool.write("x", size_t(0xFFFFFFFFu));  // more than fits: nothing is read
        ADD_FAILURE() << "no error";
    } catch (const qz::ExtException& e) {
        EXPECT_STREQ(e.what(), "The data pool is too large for 32-bit offsets: 4294967299 bytes.");
    }
    EXPECT_EQ(pool.size(), 4u);
}
