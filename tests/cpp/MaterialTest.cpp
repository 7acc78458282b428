#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "AnimatedProperty.h"
#include "TestObjects.h"
#include "ModelTestSinks.h"
#include "PropertiesSet.h"
#include "StaticProperty.h"
#include "io/10/PrimitiveWriter10.h"

namespace model {
namespace {

using modeltest::Bytes;
using modeltest::ByteSink;

Ptr<PropertiesSet> makeSet() { return Ptr<PropertiesSet>(new PropertiesSet()); }

using testobjects::make;

Ptr<FloatProperty> floatUniform(const std::string& name, float v) {
    auto p = make<FloatProperty>("model::Property<float>", name);
    p->setValue(v);
    return p;
}

std::vector<uint8_t> bytesOf(const PropertiesSet& m) {
    ByteSink sink;
    PrimitiveWriter10(sink).writeMaterial(m);
    return sink.bytes;
}

TEST(MaterialTest, IndicesPastTheFixedTablesAreRefused) {
    auto m = makeSet();
    const PropertiesSet& c = *m;
    for (std::size_t slot : {std::size_t(19), std::size_t(1000), std::size_t(-1)}) {
        EXPECT_THROW(m->setTexture(slot, makeTexture("x")), std::out_of_range);
        EXPECT_THROW(c.getTexture(slot), std::out_of_range);
    }
    try {
        m->getVertexFormat()[26] = 3;
        FAIL() << "no error";
    } catch (const std::out_of_range& e) {
        EXPECT_STREQ(e.what(), "qz::array: index out of range");
    }
    EXPECT_THROW(m->getTexCoordChannels()[13] = 0, std::out_of_range);
}

TEST(MaterialTest, SetTextureCopiesFileParametersAndChannelButKeepsTheMatrix) {
    auto m = makeSet();
    m->getTexture(4).matrix[12] = 0.5f;
    Texture t = makeTexture("n.dds");
    t.parameters = {1, 2, 3, 4};
    t.channel = 7;
    t.matrix[0] = 9.0f;
    m->setTexture(4, t);
    const Texture& s = m->getTexture(4);
    EXPECT_EQ(s.file, "n.dds");
    EXPECT_EQ(s.parameters, t.parameters);
    EXPECT_EQ(s.channel, 7u);
    EXPECT_EQ(s.matrix[0], 1.0f);
    EXPECT_EQ(s.matrix[12], 0.5f);
}

TEST(MaterialTest, AddUniformReplacesASameNamedUniformInItsPosition) {
    auto m = makeSet();
    m->addUniform(floatUniform("gloss", 1));
    m->addUniform(make<Vec3fProperty>("model::Property<osg::Vec3f>", "color"));
    m->addUniform(floatUniform("alpha", 1));
    auto color = make<Vec4fProperty>("model::Property<osg::Vec4f>", "color");
    m->addUniform(color);
    m->addUniform(PropertyPtr());
    ASSERT_EQ(m->getUniforms().size(), 3u);
    EXPECT_EQ(m->getUniforms()[1], color);
    EXPECT_EQ(m->getUniforms()[0]->getName(), "gloss");
    EXPECT_EQ(m->getUniforms()[2]->getName(), "alpha");
}

TEST(MaterialTest, UniformIsSharedSoLaterKeyChangesAreSeen) {
    auto m = makeSet(), n = makeSet();
    auto k = make<AnimatedFloatProperty>("model::AnimatedProperty<float>", "k");
    auto same = make<AnimatedFloatProperty>("model::AnimatedProperty<float>", "k");
    m->addUniform(k);
    n->addUniform(same);
    EXPECT_TRUE(m->isEqual(*n));
    k->addKey(0.0, 1.0f);
    EXPECT_FALSE(m->isEqual(*n));
}

TEST(MaterialTest, ForEachArgumentReportsSetArgumentsOfDrivenUniforms) {
    auto m = makeSet();
    auto a = make<AnimatedVec3fProperty>("model::AnimatedProperty<osg::Vec3f>", "a");
    a->setArgument(12);
    auto g = make<ArgumentProperty>("model::ArgumentProperty", "g");
    g->setArgument(3);
    m->addUniform(floatUniform("s", 1));
    m->addUniform(a);
    m->addUniform(make<AnimatedFloatProperty>("model::AnimatedProperty<float>", "unset"));
    m->addUniform(g);
    std::vector<std::uint32_t> seen;
    m->forEachArgument([&](std::uint32_t v) { seen.push_back(v); });
    EXPECT_EQ(seen, (std::vector<std::uint32_t>{12, 3}));
}

TEST(MaterialTest, CopyHasEveryFieldAndSharesTheUniformObjects) {
    auto m = makeSet();
    m->setName("body");
    m->setMaterialName("def_material");
    m->setBlending(2);
    m->setCulling(0);
    m->setTexture(0, makeTexture("a.dds"));
    m->getVertexFormat()[0] = 3;
    m->getTexCoordChannels()[1] = 0;
    auto u = floatUniform("u", 1);
    m->addUniform(u);
    auto copy = m->copySet();
    EXPECT_NE(copy.get(), m.get());
    EXPECT_TRUE(copy->isEqual(*m));
    EXPECT_EQ(copy->getCulling(), 0);
    EXPECT_EQ(copy->getUniforms()[0], u);
    EXPECT_EQ(bytesOf(*copy), bytesOf(*m));
    copy->addUniform(floatUniform("v", 2));
    copy->setMaterialName("glass_material");
    EXPECT_EQ(m->getUniforms().size(), 1u);
    EXPECT_EQ(m->getMaterialName(), "def_material");
    EXPECT_TRUE(qz::dynamicPtrCast<PropertiesSet>(m->copy()));
}

TEST(MaterialTest, SameUniformsInOppositeOrderAreEqual) {
    auto x = floatUniform("x", 1);
    auto y = make<AnimatedFloatProperty>("model::AnimatedProperty<float>", "y");
    auto a = makeSet(), b = makeSet();
    a->addUniform(x);
    a->addUniform(y);
    b->addUniform(y);
    b->addUniform(x);
    EXPECT_TRUE(a->isEqual(*b));
    EXPECT_TRUE(b->isEqual(*a));
}

// One field changed on one side.
using Tweak = std::function<void(PropertiesSet&)>;
struct NamedTweak {
    const char* what;
    Tweak tweak;
};

class MaterialTweaks : public ::testing::TestWithParam<std::pair<NamedTweak, bool>> {};

TEST_P(MaterialTweaks, EqualityFollowsTheComparedFields) {
    const auto& [t, equal] = GetParam();
    auto base = [] {
        auto m = makeSet();
        m->setName("n");
        m->setMaterialName("def_material");
        m->setTexture(0, makeTexture("used.dds"));
        m->addUniform(floatUniform("a", 1));
        m->addUniform(floatUniform("b", 2));
        return m;
    };
    auto a = base(), b = base();
    t.tweak(*b);
    EXPECT_EQ(a->isEqual(*b), equal) << t.what;
    EXPECT_EQ(b->isEqual(*a), equal) << t.what;
}

INSTANTIATE_TEST_SUITE_P(
    Material, MaterialTweaks,
    ::testing::Values(
        std::pair{NamedTweak{"nothing", [](PropertiesSet&) {}}, true},
        std::pair{NamedTweak{"culling", [](PropertiesSet& m) { m.setCulling(0); }}, true},
        std::pair{NamedTweak{"unused slot parameters",
                             [](PropertiesSet& m) {
                                 m.getTexture(5).parameters = {9, 9, 9, 9};
                                 m.getTexture(5).channel = 1;
                                 m.getTexture(5).matrix[3] = 7;
                             }},
                  true},
        std::pair{NamedTweak{"used slot matrix within tolerance",
                             [](PropertiesSet& m) { m.getTexture(0).matrix[0] = 1.000005f; }},
                  true},
        std::pair{NamedTweak{"name", [](PropertiesSet& m) { m.setName("N"); }}, false},
        std::pair{NamedTweak{"blending", [](PropertiesSet& m) { m.setBlending(1); }}, false},
        std::pair{NamedTweak{"vertex format", [](PropertiesSet& m) { m.getVertexFormat()[25] = 1; }}, false},
        std::pair{NamedTweak{"channel table", [](PropertiesSet& m) { m.getTexCoordChannels()[12] = 0; }}, false},
        std::pair{NamedTweak{"material name", [](PropertiesSet& m) { m.setMaterialName("glass_material"); }},
                  false},
        std::pair{NamedTweak{"depth bias", [](PropertiesSet& m) { m.setDepthBias(1); }}, false},
        std::pair{NamedTweak{"shadows bit 0", [](PropertiesSet& m) { m.setShadowsBit0(0); }}, false},
        std::pair{NamedTweak{"shadows bit 2", [](PropertiesSet& m) { m.setShadowsBit2(1); }}, false},
        std::pair{NamedTweak{"decal", [](PropertiesSet& m) { m.setDecal(2); }}, false},
        std::pair{NamedTweak{"billboard", [](PropertiesSet& m) { m.setBillboard(1); }}, false},
        std::pair{NamedTweak{"billboard setting 1", [](PropertiesSet& m) { m.setBillboardSetting1(1); }}, false},
        std::pair{NamedTweak{"billboard setting 2", [](PropertiesSet& m) { m.setBillboardSetting2(0); }}, false},
        std::pair{NamedTweak{"used slot file", [](PropertiesSet& m) { m.getTexture(0).file = "other.dds"; }},
                  false},
        std::pair{NamedTweak{"used slot parameters", [](PropertiesSet& m) { m.getTexture(0).parameters[3] = 5; }},
                  false},
        std::pair{NamedTweak{"used slot matrix", [](PropertiesSet& m) { m.getTexture(0).matrix[14] = 0.001f; }},
                  false},
        std::pair{NamedTweak{"one more used slot", [](PropertiesSet& m) { m.setTexture(18, makeTexture("x")); }},
                  false},
        std::pair{NamedTweak{"uniform value", [](PropertiesSet& m) { m.addUniform(floatUniform("b", 2.5f)); }},
                  false},
        std::pair{NamedTweak{"extra uniform", [](PropertiesSet& m) { m.addUniform(floatUniform("c", 0)); }},
                  false},
        std::pair{NamedTweak{"uniform renamed",
                             [](PropertiesSet& m) {
                                 PropertiesSet fresh;
                                 fresh.setName(m.getName());
                                 fresh.setMaterialName(m.getMaterialName());
                                 fresh.setTexture(0, m.getTexture(0));
                                 fresh.addUniform(floatUniform("a", 1));
                                 fresh.addUniform(floatUniform("B", 2));
                                 m = fresh;
                             }},
                  false}));

TEST(MaterialTest, RecordListsEveryEntryInOrder) {
    auto m = makeSet();
    m->setName("hull");
    m->setMaterialName("def_material");
    m->setBlending(3);
    m->setShadowsBit2(1);
    m->getVertexFormat()[0] = 3;
    m->getVertexFormat()[4] = 2;
    m->getTexCoordChannels()[0] = 0;
    Texture t = makeTexture("hull.dds");
    m->setTexture(1, t);
    m->addUniform(floatUniform("gloss", 0.5f));
    auto anim = make<ArgumentProperty>("model::ArgumentProperty", "arg");
    anim->setArgument(4);
    m->addUniform(anim);
    m->addUniform(floatUniform("alpha", 1));

    Bytes e;
    e.u32(10);
    e.str("BLENDING").u8(3);
    e.str("DEPTH_BIAS").u32(0);
    e.str("VERTEX_FORMAT").u32(26).raw({3, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0,
                                        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    e.str("TEXTURE_COORDINATES_CHANNELS").u32(13).u32(0);
    for (int i = 1; i < 13; ++i) e.u32(0xFFFFFFFF);
    e.str("MATERIAL_NAME").str("def_material");
    e.str("NAME").str("hull");
    e.str("SHADOWS").u8(5);
    e.str("TEXTURES").u32(1).u32(1).u32(0xFFFFFFFF).str("hull.dds").u32(2).u32(2).u32(10).u32(6);
    for (int i = 0; i < 16; ++i) e.f32(i % 5 == 0 ? 1.0f : 0.0f);
    e.str("UNIFORMS").u32(2);
    e.str("model::Property<float>").str("gloss").f32(0.5f);
    e.str("model::Property<float>").str("alpha").f32(1.0f);
    e.str("ANIMATED_UNIFORMS").u32(1);
    e.str("model::ArgumentProperty").str("arg").u32(4).u32(4);
    EXPECT_EQ(bytesOf(*m), e.v);
}

TEST(MaterialTest, BillboardAndDecalAddTheirEntriesAtTheEnd) {
    auto m = makeSet();
    m->setBillboard(1);
    m->setBillboardSetting1(0x101);  // written as its low byte
    m->setDecal(9);
    const std::vector<uint8_t> bytes = bytesOf(*m);
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 4), Bytes().u32(12).v);
    const std::vector<uint8_t> tail = Bytes().str("BILLBOARD").u8(1).u8(6).str("DECAL").u8(9).v;
    ASSERT_GE(bytes.size(), tail.size());
    EXPECT_EQ(std::vector<uint8_t>(bytes.end() - tail.size(), bytes.end()), tail);

    auto plain = makeSet();
    plain->setDepthBias(200);
    const std::vector<uint8_t> p = bytesOf(*plain);
    EXPECT_EQ(std::vector<uint8_t>(p.begin(), p.begin() + 4), Bytes().u32(10).v);
    const std::vector<uint8_t> depth = Bytes().str("DEPTH_BIAS").u32(1).v;
    EXPECT_NE(std::search(p.begin(), p.end(), depth.begin(), depth.end()), p.end());
}

}  // namespace
}  // namespace model
