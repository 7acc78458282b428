// Texture-channel compaction: every mesh ends with exactly the coordinate
// lists its channel table names, numbered from 0, in a material of its own.

#include <gtest/gtest.h>

#include "VertexPassTestSupport.h"
#include "nodes/FakeOmniLightsNode.h"
#include "qz/ExtException.h"
#include "utils/CompactTextureChannels.h"

using namespace model;
using namespace vertexpasstest;

namespace {

constexpr std::uint32_t kNone = TexCoordChannels::NONE;

struct Fixture {
    Ptr<Node> top = make<Node>("model::Node", "root");
    Ptr<RootNode> root = writer10test::rootWithTop(top);

    // Two vertices; coordinates per TEXCOORD channel; channel table entries.
    Ptr<RenderNode> add(const std::vector<std::pair<std::uint32_t, std::vector<float>>>& coords,
                        const std::vector<std::pair<std::size_t, std::uint32_t>>& table,
                        const Ptr<PropertiesSet>& shared = {}) {
        Vertices v = points({0, 0, 0, 1, 1, 1});
        for (const auto& [channel, data] : coords)
            v.setAttribute(TEXCOORD0 + channel, std::uint32_t(data.size() / 2), data);
        Ptr<PropertiesSet> m = shared ? shared : materialFor(v);
        for (const auto& [use, channel] : table) m->getTexCoordChannels()[use] = channel;
        auto node = meshNode("mesh", top, m, v, indexList({0, 1, 1}));
        root->addRenderNode(node);
        return node;
    }
};

const PropertiesSet& setOf(const Ptr<RenderNode>& node) {
    return dynamic_cast<const PropertiesSet&>(*node->getMaterial());
}

std::vector<std::uint32_t> presentCoordinates(const Vertices& v) {
    std::vector<std::uint32_t> out;
    for (const auto& [code, a] : v.getAttributes())
        if (code >= TEXCOORD0 && code <= TEXCOORD15) out.push_back(code - TEXCOORD0);
    return out;
}

std::vector<std::uint32_t> table(const PropertiesSet& m) {
    return {m.getTexCoordChannels().begin(), m.getTexCoordChannels().end()};
}

std::string failureOf(Fixture& f) {
    try {
        utils::compactTextureChannels(*f.root);
    } catch (const qz::ExtException& e) {
        return e.what();
    }
    return {};
}

}  // namespace

TEST(CompactChannels, CoordinatesWithinAThousandthOfAnEarlierListAreDropped) {
    Fixture f;
    auto node = f.add({{0, {0.25f, 0.5f, 0.75f, 1.0f}}, {2, {0.2505f, 0.5f, 0.75f, 0.9991f}}},
                      {{0, 0}, {1, 2}, {5, 2}});
    EXPECT_EQ(utils::compactTextureChannels(*f.root), 1u);
    EXPECT_EQ(presentCoordinates(node->getVertices()), (std::vector<std::uint32_t>{0}));
    EXPECT_EQ(attributeData(node->getVertices(), TEXCOORD0), (std::vector<float>{0.25f, 0.5f, 0.75f, 1.0f}));
    const PropertiesSet& m = setOf(node);
    EXPECT_EQ(table(m), (std::vector<std::uint32_t>{0, 0, kNone, kNone, kNone, 0, kNone, kNone, kNone, kNone, kNone,
                                                    kNone, kNone}));
    EXPECT_EQ(m.getVertexFormat()[TEXCOORD0], 2);
    EXPECT_EQ(m.getVertexFormat()[TEXCOORD2], 0);
    EXPECT_TRUE(node->getVertices().matchesFormat(m.getVertexFormat()));
}

TEST(CompactChannels, CoordinatesFartherApartOrShapedDifferentlyStay) {
    Fixture f;
    // 0.0011 apart; then the same numbers as one three-component row.
    auto apart = f.add({{0, {0.25f, 0.5f, 0.75f, 1.0f}}, {2, {0.2511f, 0.5f, 0.75f, 1.0f}}}, {{0, 0}, {1, 2}});
    EXPECT_EQ(utils::compactTextureChannels(*f.root), 0u);
    EXPECT_EQ(presentCoordinates(apart->getVertices()), (std::vector<std::uint32_t>{0, 1}));
    EXPECT_EQ(attributeData(apart->getVertices(), TEXCOORD1), (std::vector<float>{0.2511f, 0.5f, 0.75f, 1.0f}));
    EXPECT_EQ(table(setOf(apart))[1], 1u);

    Fixture g;
    Vertices v = points({0, 0, 0, 1, 1, 1});
    v.setAttribute(TEXCOORD0, 2, {1, 2, 3, 4});
    v.setAttribute(TEXCOORD1, 3, {1, 2, 3, 4, 5, 6});
    auto m = materialFor(v);
    m->getTexCoordChannels()[0] = 0;
    m->getTexCoordChannels()[1] = 1;
    auto shaped = meshNode("m", g.top, m, v, indexList({0, 1, 1}));
    g.root->addRenderNode(shaped);
    EXPECT_EQ(utils::compactTextureChannels(*g.root), 0u);
    EXPECT_EQ(presentCoordinates(shaped->getVertices()), (std::vector<std::uint32_t>{0, 1}));
}

TEST(CompactChannels, UnusedChannelGoesAndTheUsedOneBecomesChannelZero) {
    Fixture f;
    auto node = f.add({{0, {9, 9, 9, 9}}, {3, {0.1f, 0.2f, 0.3f, 0.4f}}}, {{0, 3}});
    utils::compactTextureChannels(*f.root);
    EXPECT_EQ(presentCoordinates(node->getVertices()), (std::vector<std::uint32_t>{0}));
    EXPECT_EQ(attributeData(node->getVertices(), TEXCOORD0), (std::vector<float>{0.1f, 0.2f, 0.3f, 0.4f}));
    EXPECT_EQ(table(setOf(node))[0], 0u);
    EXPECT_EQ(setOf(node).getVertexFormat()[TEXCOORD3], 0);
    EXPECT_EQ(setOf(node).getVertexFormat()[TEXCOORD0], 2);
}

TEST(CompactChannels, ChannelsAreNumberedInOrderOfFirstUseAndListsSwapPlaces) {
    Fixture f;
    auto node = f.add({{2, {2, 2, 2, 2}}, {5, {5, 5, 5, 5}}, {7, {7, 7, 7, 7}}}, {{0, 5}, {1, 7}, {3, 2}, {4, 5}});
    utils::compactTextureChannels(*f.root);
    EXPECT_EQ(presentCoordinates(node->getVertices()), (std::vector<std::uint32_t>{0, 1, 2}));
    EXPECT_EQ(attributeData(node->getVertices(), TEXCOORD0), (std::vector<float>{5, 5, 5, 5}));
    EXPECT_EQ(attributeData(node->getVertices(), TEXCOORD1), (std::vector<float>{7, 7, 7, 7}));
    EXPECT_EQ(attributeData(node->getVertices(), TEXCOORD2), (std::vector<float>{2, 2, 2, 2}));
    const auto t = table(setOf(node));
    EXPECT_EQ((std::vector<std::uint32_t>{t[0], t[1], t[2], t[3], t[4]}),
              (std::vector<std::uint32_t>{0, 1, kNone, 2, 0}));
    EXPECT_TRUE(node->getVertices().matchesFormat(setOf(node).getVertexFormat()));
}

TEST(CompactChannels, ChannelWithoutCoordinatesFailsOnlyInTheFirstEightUses) {
    struct Case {
        std::size_t use;
        std::uint32_t channel;
        const char* failure;
    };
    for (const Case& c : {Case{0, 0, "Empty texture channel"},   // a thermal-map block without coordinates
                          Case{7, 3, "Empty texture channel"},
                          Case{0, 20, "Empty texture channel"},  // names no TEXCOORD list at all
                          Case{8, 0, ""}, Case{12, 4, ""}}) {
        Fixture f;
        f.add({}, {{c.use, c.channel}});
        EXPECT_EQ(failureOf(f), c.failure) << c.use << " " << c.channel;
    }
}

TEST(CompactChannels, MeshWithoutMaterialFailsAndLightSetsAreSkipped) {
    Fixture f;
    auto lights = make<FakeOmniLightsNode>("model::FakeOmniLightsNode", "lights");
    f.root->addRenderNode(lights);
    EXPECT_EQ(failureOf(f), "");
    auto bare = make<RenderNode>("model::RenderNode", "bare");
    f.root->addRenderNode(bare);
    EXPECT_EQ(failureOf(f), "Material of render node isn't set.");
}

// A save of many meshes of one material must not leave one copy per mesh,
// yet meshes that come out differently must never see another's table.
TEST(CompactChannels, MeshesOfOneMaterialThatComeOutAlikeShareOneCopyAndTheSourceStaysAsItWas) {
    Fixture f;
    auto first = f.add({{0, {1, 2, 3, 4}}, {3, {5, 6, 7, 8}}}, {{0, 0}, {1, 3}});
    const Ptr<PropertiesSet> source(const_cast<PropertiesSet*>(&setOf(first)));
    auto second = f.add({{0, {9, 9, 9, 9}}, {3, {1, 1, 1, 1}}}, {}, source);
    // Its two lists are one within a thousandth: both uses end on channel 0.
    auto twin = f.add({{0, {1, 2, 3, 4}}, {3, {1, 2, 3, 4}}}, {}, source);

    EXPECT_EQ(utils::compactTextureChannels(*f.root), 1u);
    EXPECT_NE(first->getMaterial(), source);
    EXPECT_EQ(second->getMaterial(), first->getMaterial());
    EXPECT_NE(twin->getMaterial(), first->getMaterial());
    EXPECT_EQ(table(setOf(first))[1], 1u);
    EXPECT_EQ(table(setOf(twin))[1], 0u);
    EXPECT_EQ(setOf(twin).getVertexFormat()[TEXCOORD1], 0);
    EXPECT_EQ(source->getTexCoordChannels()[1], 3u);
    EXPECT_EQ(source->getVertexFormat()[TEXCOORD3], 2);
}
