#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <stdexcept>

#include "TexCoordChannels.h"

namespace {

using model::TexCoordChannels;

TEST(ChannelTable, IndexPastTheTableIsOutOfRange) {
    TexCoordChannels table;
    const TexCoordChannels& constTable = table;
    for (size_t i : {size_t(13), size_t(14), SIZE_MAX}) {
        EXPECT_THROW(table[i] = 0, std::out_of_range);
        EXPECT_THROW((void)constTable[i], std::out_of_range);
    }
}

TEST(ChannelFind, ReturnsTheLowestUseOrMinusOne) {
    TexCoordChannels table;
    table[5] = 3;
    table[0] = 3;
    table[12] = 7;
    EXPECT_EQ(table.findChannel(3), 0);
    EXPECT_EQ(table.findChannel(7), 12);
    EXPECT_EQ(table.findChannel(1), -1);
    EXPECT_EQ(TexCoordChannels().findChannel(0), -1);
}

TEST(ChannelRemap, MapsTexcoordSemanticsAndLeavesNoneAlone) {
    TexCoordChannels table;
    table[0] = 2;   // TEXCOORD2 -> TEXCOORD0
    table[1] = 5;   // not in the map
    table[2] = 2;
    table[3] = 15;  // TEXCOORD15 -> TEXCOORD1
    const std::map<uint32_t, uint32_t> map = {{6, 4}, {19, 5}, {3, 4}};
    table.remapChannels(map);
    EXPECT_EQ(table[0], 0u);
    EXPECT_EQ(table[1], 5u);
    EXPECT_EQ(table[2], 0u);
    EXPECT_EQ(table[3], 1u);
    for (size_t i = 4; i < 13; ++i) EXPECT_EQ(table[i], TexCoordChannels::NONE);
}

TEST(ChannelRemap, EntriesAreMappedOnceNotChained) {
    TexCoordChannels table;
    table[0] = 0;
    table[1] = 1;
    table.remapChannels({{4, 5}, {5, 4}});  // swap TEXCOORD0 and TEXCOORD1
    EXPECT_EQ(table[0], 1u);
    EXPECT_EQ(table[1], 0u);
}

TEST(ChannelRemap, TargetOutsideTheTexcoordsIsRefusedWithNoChange) {
    for (uint32_t target : {0u, 3u, 20u, 0xFFFFFFFFu}) {
        TexCoordChannels table;
        table[0] = 1;
        table[1] = 2;
        const TexCoordChannels before = table;
        EXPECT_THROW(table.remapChannels({{5, 4}, {6, target}}), std::out_of_range) << target;
        EXPECT_EQ(table, before);
    }
}

TEST(ChannelRemap, EntryNearNoneDoesNotWrapOntoALowSemantic) {
    TexCoordChannels table;
    table[0] = 0xFFFFFFFE;  // + 4 would wrap to semantic 2
    table.remapChannels({{2, 4}});
    EXPECT_EQ(table[0], 0xFFFFFFFEu);
}

}  // namespace
