
#include <functional>

#include "AnimatedProperty.h"
#include "ModelTestSupport.h"
#include "StaticProperty.h"

namespace model {
namespace {

using modeltest::property;
using modeltest::material;
using modeltest::hex;

std::string recordOf(const PropertiesSet& m) {
    return modeltest::primitiveRecord([&](PrimitiveWriter10& w) { w.writeMaterial(m); });
}

using Tweak = std::function<void(PropertiesSet&)>;
class MaterialTweaks : public ::testing::TestWithParam<std::tuple<const char*, Tweak, bool>> {};

TEST_P(MaterialTweaks, EqualityFollowsTheComparedFields) {
    const auto& [what, tweak, equal] = GetParam();
    auto base = [] {
        auto m = material("def_material", "n");
        m->setTexture(0, makeTexture("used.dds"));
        m->addUniform(property<FloatProperty>("a", 1));
        m->addUniform(property<FloatProperty>("b", 2));
        return m;
    };
    auto a = base(), b = base();
    tweak(*b);
    EXPECT_EQ(a->isEqual(*b), equal) << what;
    EXPECT_EQ(b->isEqual(*a), equal) << what;
    EXPECT_TRUE(b->copySet()->isEqual(*b)) << what;
}

using P = PropertiesSet&;
INSTANTIATE_TEST_SUITE_P(
    Material, MaterialTweaks,
    ::testing::Values(
        std::tuple{"culling", Tweak([](P m) { m.setCulling(0); }), true},
        std::tuple{"used slot matrix within tolerance", Tweak([](P m) { m.getTexture(0).matrix[0] = 1.000005f; }), true},
        std::tuple{"name", Tweak([](P m) { m.setName("N"); }), false},
        std::tuple{"blending", Tweak([](P m) { m.setBlending(1); }), false},
        std::tuple{"vertex format", Tweak([](P m) { m.getVertexFormat()[25] = 1; }), false},
        std::tuple{"channel table", Tweak([](P m) { m.getTexCoordChannels()[12] = 0; }), false},
        std::tuple{"material name", Tweak([](P m) { m.setMaterialName("glass_material"); }), false},
        std::tuple{"depth bias", Tweak([](P m) { m.setDepthBias(1); }), false},
        std::tuple{"shadows bit 2", Tweak([](P m) { m.setShadowsBit2(1); }), false},
        std::tuple{"decal", Tweak([](P m) { m.setDecal(2); }), false},
        std::tuple{"billboard", Tweak([](P m) { m.setBillboard(1); }), false},
        std::tuple{"billboard setting 1", Tweak([](P m) { m.setBillboardSetting1(1); }), false},
        std::tuple{"used slot file", Tweak([](P m) { m.getTexture(0).file = "other.dds"; }), false},
        std::tuple{"used slot matrix", Tweak([](P m) { m.getTexture(0).matrix[14] = 0.001f; }), false},
        std::tuple{"uniform value", Tweak([](P m) { m.addUniform(property<FloatProperty>("b", 2.5f)); }), false}));

TEST(MaterialTest, RecordListsEveryEntryInOrder) {
    auto m = material("def_material", "hull");
    m->setBlending(3);
    m->setShadowsBit2(1);
    m->setDepthBias(200);  // written as 1
    m->getVertexFormat()[0] = 3;
    m->getTexCoordChannels()[0] = 0;
    m->setTexture(1, makeTexture("hull.dds"));
    m->addUniform(property<FloatProperty>("gloss", 0.5f));
    m->addUniform(property<ArgumentProperty>("arg", 4u));
    // Billboard and decal add their entries at the end; the setting is written as its low byte.
    m->setBillboard(1);
    m->setBillboardSetting1(0x101);
    m->setDecal(9);
    EXPECT_EQ(recordOf(*m), "0c00000008000000424c454e44494e47030a00000044455054485f42494153010000000d0000005645525445585f464f524d41541a00000003000000000000000000000000000000000000000000000000001c000000544558545552455f434f4f5244494e415445535f4348414e4e454c530d00000000000000ffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff0d0000004d4154455249414c5f4e414d450c0000006465665f6d6174657269616c040000004e414d450400000068756c6c07000000534841444f5753050800000054455854555245530100000001000000ffffffff0800000068756c6c2e64647302000000020000000a000000060000000000803f000000000000000000000000000000000000803f000000000000000000000000000000000000803f000000000000000000000000000000000000803f08000000554e49464f524d5301000000160000006d6f64656c3a3a50726f70657274793c666c6f61743e05000000676c6f73730000003f11000000414e494d415445445f554e49464f524d5301000000170000006d6f64656c3a3a417267756d656e7450726f70657274790300000061726704000000040000000900000042494c4c424f415244010605000000444543414c09");
}

// (slot, file) given; the record must be that of the slots written alone.
using Slots = std::vector<std::pair<size_t, const char*>>;
class MaterialTextureSlots : public testing::TestWithParam<std::pair<Slots, std::vector<size_t>>> {};

TEST_P(MaterialTextureSlots, Slot13HidesSlot2Only) {
    auto given = material("", ""), written = material("", "");
    for (const auto& [slot, file] : GetParam().first) given->setTexture(slot, makeTexture(file));
    for (size_t slot : GetParam().second) written->setTexture(slot, given->getTexture(slot));
    EXPECT_EQ(recordOf(*given), recordOf(*written));
}

INSTANTIATE_TEST_SUITE_P(Material, MaterialTextureSlots,
    testing::Values(std::pair{Slots{{2, "alone.dds"}}, std::vector<size_t>{2}},
                    std::pair{Slots{{13, "l.dds"}, {0, "b.dds"}, {2, "x.dds"}}, std::vector<size_t>{0, 13}}));

}  // namespace
}  // namespace model
