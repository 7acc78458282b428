// Texture-channel compaction: every mesh ends with exactly the coordinate
// lists its channel table names, numbered from 0 in order of first use, in
// a material of its own.

#include <gtest/gtest.h>

#include "VertexPassTestSupport.h"
#include "nodes/FakeOmniLightsNode.h"
#include "qz/ExtException.h"
#include "utils/CompactTextureChannels.h"

using namespace model;
using namespace vertexpasstest;

namespace {

constexpr std::uint32_t N = TexCoordChannels::NONE;
using Coords = std::vector<std::pair<std::uint32_t, std::vector<float>>>;
using Table = std::vector<std::uint32_t>;

struct Fixture {
    Ptr<Node> top = make<Node>("model::Node", "root");
    Ptr<RootNode> root = writer10test::rootWithTop(top);

    // Two vertices; coordinates per TEXCOORD channel; the first table entries.
    Ptr<RenderNode> add(const Coords& coords, const Table& table, const Ptr<PropertiesSet>& shared = {}) {
        Vertices v = points({0, 0, 0, 1, 1, 1});
        for (const auto& [channel, data] : coords)
            v.setAttribute(TEXCOORD0 + channel, std::uint32_t(data.size() / 2), data);
        Ptr<PropertiesSet> m = shared ? shared : materialFor(v);
        for (std::size_t use = 0; use < table.size(); ++use) m->getTexCoordChannels()[use] = table[use];
        auto node = meshNode("mesh", top, m, v, indexList({0, 1, 1}));
        root->addRenderNode(node);
        return node;
    }
    std::string failure() try {
        utils::compactTextureChannels(*root);
        return "";
    } catch (const qz::ExtException& e) {
        return e.what();
    }
};

const PropertiesSet& setOf(const Ptr<RenderNode>& node) {
    return dynamic_cast<const PropertiesSet&>(*node->getMaterial());
}

struct Case {
    const char* name;
    Coords coords;
    Table table;
    std::size_t removed;
    Coords after;
    Table tableAfter;
};

class CompactChannels : public testing::TestWithParam<Case> {};

TEST_P(CompactChannels, CoordinatesAndTableAfter) {
    Fixture f;
    const Case& c = GetParam();
    auto node = f.add(c.coords, c.table);
    EXPECT_EQ(utils::compactTextureChannels(*f.root), c.removed);
    Coords after;
    for (const auto& [code, a] : node->getVertices().getAttributes())
        if (code >= TEXCOORD0 && code <= TEXCOORD15) after.emplace_back(code - TEXCOORD0, a.data);
    EXPECT_EQ(after, c.after);
    const auto& t = setOf(node).getTexCoordChannels();
    EXPECT_EQ(Table(t.begin(), t.begin() + c.tableAfter.size()), c.tableAfter);
    EXPECT_TRUE(node->getVertices().matchesFormat(setOf(node).getVertexFormat()));
}

const std::vector<float> kA{0.25f, 0.5f, 0.75f, 1.0f};

INSTANTIATE_TEST_SUITE_P(
    Compact, CompactChannels,
    testing::Values(
        Case{"CoordinatesWithinAThousandthOfAnEarlierListAreDropped", {{0, kA}, {2, {0.2505f, 0.5f, 0.75f, 0.9991f}}},
             {0, 2, N, N, N, 2}, 1, {{0, kA}}, {0, 0, N, N, N, 0, N}},
        Case{"CoordinatesFartherApartStay", {{0, kA}, {2, {0.2511f, 0.5f, 0.75f, 1.0f}}}, {0, 2}, 0,
             {{0, kA}, {1, {0.2511f, 0.5f, 0.75f, 1.0f}}}, {0, 1, N}},
        Case{"UnusedChannelGoesAndTheUsedOneBecomesChannelZero", {{0, {9, 9, 9, 9}}, {3, kA}}, {3}, 0, {{0, kA}},
             {0, N}},
        Case{"ChannelsAreNumberedInOrderOfFirstUseAndListsSwapPlaces",
             {{2, {2, 2, 2, 2}}, {5, {5, 5, 5, 5}}, {7, {7, 7, 7, 7}}}, {5, 7, N, 2, 5}, 0,
             {{0, {5, 5, 5, 5}}, {1, {7, 7, 7, 7}}, {2, {2, 2, 2, 2}}}, {0, 1, N, 2, 0, N}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace

TEST(CompactChannels, FailuresWithTheirMessages) {
    struct Case {
        std::size_t use;
        std::uint32_t channel;
        const char* failure;
    };
    // Entries past the first eight are not checked.
    for (const Case& c : {Case{0, 0, "Empty texture channel"}, Case{7, 3, "Empty texture channel"},
                          Case{0, 20, "Empty texture channel"}, Case{8, 0, ""}, Case{12, 4, ""}}) {
        Fixture f;
        Table table(c.use + 1, N);
        table[c.use] = c.channel;
        f.add({}, table);
        EXPECT_EQ(f.failure(), c.failure) << c.use << " " << c.channel;
    }
    Fixture f;
    f.root->addRenderNode(make<FakeOmniLightsNode>("model::FakeOmniLightsNode", "lights"));
    EXPECT_EQ(f.failure(), "");
    f.root->addRenderNode(make<RenderNode>("model::RenderNode", "bare"));
    EXPECT_EQ(f.failure(), "Material of render node isn't set.");
}

// Meshes of one material that come out alike share one copy; one that comes
// out differently never sees another's table; the source stays as it was.
TEST(CompactChannels, MeshesOfOneMaterialThatComeOutAlikeShareOneCopyAndTheSourceStaysAsItWas) {
    Fixture f;
    auto first = f.add({{0, {1, 2, 3, 4}}, {3, {5, 6, 7, 8}}}, {0, 3});
    const Ptr<PropertiesSet> source(const_cast<PropertiesSet*>(&setOf(first)));
    auto second = f.add({{0, {9, 9, 9, 9}}, {3, {1, 1, 1, 1}}}, {}, source);
    auto twin = f.add({{0, {1, 2, 3, 4}}, {3, {1, 2, 3, 4}}}, {}, source);  // its two lists are one
    EXPECT_EQ(utils::compactTextureChannels(*f.root), 1u);
    EXPECT_NE(first->getMaterial(), source);
    EXPECT_EQ(second->getMaterial(), first->getMaterial());
    EXPECT_NE(twin->getMaterial(), first->getMaterial());
    EXPECT_EQ(setOf(first).getTexCoordChannels()[1], 1u);
    EXPECT_EQ(setOf(twin).getTexCoordChannels()[1], 0u);
    EXPECT_EQ(source->getTexCoordChannels()[1], 3u);
    EXPECT_EQ(source->getVertexFormat()[TEXCOORD3], 2);
}
