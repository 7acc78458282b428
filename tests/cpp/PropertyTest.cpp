

#include "AnimatedProperty.h"
#include "ModelTestSupport.h"
#include "StaticProperty.h"

namespace model {
namespace {

using modeltest::hex;
using modeltest::property;

std::string recordOf(const IProperty& p) {
    return modeltest::primitiveRecord([&](PrimitiveWriter10& w) { w.writeProperty(p); });
}

struct ClassFacts {
    const char* className;
    const char* value;  // record of "p" after its class name: argument 3, one key (0.5, 1s) when animated
};
// Names the row in test listings (its bytes would show addresses).
void PrintTo(const ClassFacts& f, std::ostream* out) { *out << f.className; }

class PropertyClasses : public ::testing::TestWithParam<ClassFacts> {};

TEST_P(PropertyClasses, EachClassWritesItsRecordAndClonesEqual) {
    const ClassFacts& f = GetParam();
    PropertyPtr p = ClassRegistry::make<IProperty>(f.className);
    p->setName("p");
    if (auto* a = dynamic_cast<IAnimatedProperty*>(p.get())) a->setArgument(3);
    if (auto* k = dynamic_cast<AnimatedFloatProperty*>(p.get())) k->addKey(0.5, 1.0f);
    if (auto* k = dynamic_cast<AnimatedVec2fProperty*>(p.get())) k->addKey(0.5, {1, 1});
    if (auto* k = dynamic_cast<AnimatedVec3fProperty*>(p.get())) k->addKey(0.5, {1, 1, 1});
    if (auto* k = dynamic_cast<AnimatedVec4fProperty*>(p.get())) k->addKey(0.5, {1, 1, 1, 1});
    const std::string name(f.className);
    const std::vector<uint8_t> head{uint8_t(name.size()), 0, 0, 0};
    EXPECT_EQ(recordOf(*p), hex(head) + hex({name.begin(), name.end()}) + "0100000070" + f.value);
    auto copy = ClassRegistry::instance().cloneAs<IProperty>(*p, f.className);
    ASSERT_TRUE(copy);
    EXPECT_NE(copy, p);
    EXPECT_TRUE(copy->isEqual(p));
}

INSTANTIATE_TEST_SUITE_P(
    Property, PropertyClasses,
    ::testing::Values(
        ClassFacts{"model::Property<float>", "00000000"},
        ClassFacts{"model::Property<unsigned int>", "00000000"},
        ClassFacts{"model::Property<osg::Vec2f>", "0000000000000000"},
        ClassFacts{"model::Property<osg::Vec3f>", "000000000000000000000000"},
        ClassFacts{"model::Property<osg::Vec4f>", "00000000000000000000000000000000"},
        ClassFacts{"model::Property<const char*>", "00000000"},
        ClassFacts{"model::ArgumentProperty", "0300000003000000"},
        ClassFacts{"model::AnimatedProperty<float>", "0300000001000000000000000000e03f0000803f"},
        ClassFacts{"model::AnimatedProperty<osg::Vec2f>", "0300000001000000000000000000e03f0000803f0000803f"},
        ClassFacts{"model::AnimatedProperty<osg::Vec3f>", "0300000001000000000000000000e03f0000803f0000803f0000803f"},
        ClassFacts{"model::AnimatedProperty<osg::Vec4f>", "0300000001000000000000000000e03f0000803f0000803f0000803f0000803f"}));

struct FloatPair {
    float a, b;
    bool equal;
};

class PropertyFloatTolerance : public ::testing::TestWithParam<FloatPair> {};

TEST_P(PropertyFloatTolerance, FloatValuesCompareWithinTheTolerance) {
    const FloatPair& c = GetParam();
    auto x = property<FloatProperty>("a"), y = property<FloatProperty>("a");
    x->setValue(c.a);
    y->setValue(c.b);
    EXPECT_EQ(x->isEqual(y), c.equal) << c.a << " vs " << c.b;
    EXPECT_EQ(y->isEqual(x), c.equal);
    // The same tolerance applies to each key value.
    auto k = property<AnimatedVec2fProperty>("a"), l = property<AnimatedVec2fProperty>("a");
    k->addKey(0.0, osg::Vec2f(5, c.a));
    l->addKey(0.0, osg::Vec2f(5, c.b));
    EXPECT_EQ(k->isEqual(l), c.equal);
}

INSTANTIATE_TEST_SUITE_P(Property, PropertyFloatTolerance,
                         ::testing::Values(FloatPair{1.0f, 1.00001f, true}, FloatPair{1.0f, 1.0001f, false},
                                           FloatPair{0.0f, 0.00001f, true}, FloatPair{0.0f, -0.00002f, false},
                                           FloatPair{100.0f, 100.001f, false}));

TEST(PropertyTest, EqualityNeedsClassNameArgumentAndKeysAlike) {
    auto f = property<FloatProperty>("same");
    auto u = property<UIntProperty>("same");
    EXPECT_FALSE(f->isEqual(u));  // both hold 0
    EXPECT_FALSE(f->isEqual(PropertyPtr()));
    EXPECT_FALSE(u->isEqual(property<UIntProperty>("same", 2u)));
    EXPECT_FALSE(property<StringProperty>(std::string("x\0y", 3))->isEqual(property<StringProperty>(std::string("x\0z", 3))));
    auto a = property<AnimatedFloatProperty>("k"), b = property<AnimatedFloatProperty>("k");
    a->setKeys({{1.0, 2.0f}, {0.0, 1.0f}});
    b->setKeys({{1.0, 2.0f}, {0.0, 1.0f}});
    EXPECT_TRUE(a->isEqual(b));
    b->setKeys({{0.0, 1.0f}, {1.0, 2.0f}});  // keys keep the order given, and order matters
    EXPECT_FALSE(a->isEqual(b));
    b->setKeys({{1.0, 2.0f}, {0.0, 1.0f}, {2.0, 3.0f}});
    EXPECT_FALSE(a->isEqual(b));
    b->setKeys({{1.00001, 2.0f}, {0.0, 1.0f}});  // key times compare in double precision
    EXPECT_TRUE(a->isEqual(b));
    b->setKeys({{1.0001, 2.0f}, {0.0, 1.0f}});
    EXPECT_FALSE(a->isEqual(b));
    b->setKeys(a->getKeys());
    b->setArgument(5);
    EXPECT_FALSE(a->isEqual(b));
}

}  // namespace
}  // namespace model
