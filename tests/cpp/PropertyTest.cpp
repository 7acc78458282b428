#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "AnimatedProperty.h"
#include "ClassRegistry.h"
#include "IPropertyVisitor.h"
#include "ModelTestSinks.h"
#include "StaticProperty.h"
#include "io/10/PrimitiveWriter10.h"

namespace model {
namespace {

using modeltest::Bytes;
using modeltest::ByteSink;

template <class P>
Ptr<P> make(const std::string& name) {
    P probe;
    auto p = ClassRegistry::make<P>(probe.getClassName());
    p->setName(name);
    return p;
}

PropertyPtr makeByName(const char* className) { return ClassRegistry::make<IProperty>(className); }

std::vector<uint8_t> bytesOf(const IProperty& p) {
    ByteSink sink;
    PrimitiveWriter10(sink).writeProperty(p);
    return sink.bytes;
}

class SlotVisitor final : public IPropertyVisitor {
public:
    int slot = 0;
    void visit(const AnimatedVec4fProperty&) override { slot = 1; }
    void visit(const AnimatedVec3fProperty&) override { slot = 2; }
    void visit(const AnimatedVec2fProperty&) override { slot = 3; }
    void visit(const AnimatedFloatProperty&) override { slot = 4; }
    void visit(const ArgumentProperty&) override { slot = 5; }
    void visit(const StringProperty&) override { slot = 6; }
    void visit(const Vec4fProperty&) override { slot = 7; }
    void visit(const Vec3fProperty&) override { slot = 8; }
    void visit(const Vec2fProperty&) override { slot = 9; }
    void visit(const UIntProperty&) override { slot = 10; }
    void visit(const FloatProperty&) override { slot = 11; }
};

struct ClassFacts {
    const char* className;
    const char* tag;
    std::uint32_t valueType;
    bool animated;
    int visitSlot;
};

class PropertyClasses : public ::testing::TestWithParam<ClassFacts> {};

TEST_P(PropertyClasses, CloneCopiesNameValueArgumentAndKeys) {
    const ClassFacts& f = GetParam();
    PropertyPtr p = makeByName(f.className);
    p->setName("c");
    if (auto* a = dynamic_cast<IAnimatedProperty*>(p.get())) a->setArgument(3);
    if (auto* k = dynamic_cast<AnimatedFloatProperty*>(p.get())) k->addKey(1.0, 2.0f);
    if (auto* u = dynamic_cast<UIntProperty*>(p.get())) u->setValue(77);
    auto copy = ClassRegistry::instance().cloneAs<IProperty>(*p, f.className);
    ASSERT_TRUE(copy);
    EXPECT_NE(copy, p);
    EXPECT_TRUE(copy->isEqual(p));
    EXPECT_EQ(bytesOf(*copy), bytesOf(*p));
}

INSTANTIATE_TEST_SUITE_P(
    Property, PropertyClasses,
    ::testing::Values(ClassFacts{"model::Property<float>", "FLT1", 0, false, 11},
                      ClassFacts{"model::Property<unsigned int>", "INT1", 1, false, 10},
                      ClassFacts{"model::Property<osg::Vec2f>", "FLT2", 2, false, 9},
                      ClassFacts{"model::Property<osg::Vec3f>", "FLT3", 3, false, 8},
                      ClassFacts{"model::Property<osg::Vec4f>", "FLT4", 4, false, 7},
                      ClassFacts{"model::Property<const char*>", "STRG", 6, false, 6},
                      ClassFacts{"model::ArgumentProperty", "AARG", 0, true, 5},
                      ClassFacts{"model::AnimatedProperty<float>", "AFL1", 0, true, 4},
                      ClassFacts{"model::AnimatedProperty<osg::Vec2f>", "AFL2", 2, true, 3},
                      ClassFacts{"model::AnimatedProperty<osg::Vec3f>", "AFL3", 3, true, 2},
                      ClassFacts{"model::AnimatedProperty<osg::Vec4f>", "AFL4", 4, true, 1}));

struct FloatPair {
    float a, b;
    bool equal;
};

class PropertyFloatTolerance : public ::testing::TestWithParam<FloatPair> {};

TEST_P(PropertyFloatTolerance, FloatValuesCompareWithinTheTolerance) {
    const FloatPair& c = GetParam();
    auto x = make<FloatProperty>("a"), y = make<FloatProperty>("a");
    x->setValue(c.a);
    y->setValue(c.b);
    EXPECT_EQ(x->isEqual(y), c.equal) << c.a << " vs " << c.b;
    EXPECT_EQ(y->isEqual(x), c.equal);
    // The same tolerance applies to each vector component and key value.
    auto v = make<Vec3fProperty>("a"), w = make<Vec3fProperty>("a");
    v->setValue(osg::Vec3f(5, c.a, 5));
    w->setValue(osg::Vec3f(5, c.b, 5));
    EXPECT_EQ(v->isEqual(w), c.equal);
    auto k = make<AnimatedVec2fProperty>("a"), l = make<AnimatedVec2fProperty>("a");
    k->addKey(0.0, osg::Vec2f(c.a, 0));
    l->addKey(0.0, osg::Vec2f(c.b, 0));
    EXPECT_EQ(k->isEqual(l), c.equal);
}

INSTANTIATE_TEST_SUITE_P(Property, PropertyFloatTolerance,
                         ::testing::Values(FloatPair{1.0f, 1.00001f, true}, FloatPair{1.0f, 1.0001f, false},
                                           FloatPair{0.0f, 0.00001f, true}, FloatPair{0.0f, -0.00002f, false},
                                           FloatPair{-3.0f, -3.000005f, true},
                                           FloatPair{100.0f, 100.001f, false}));

TEST(PropertyTest, KeyTimesCompareWithinTheToleranceInDoublePrecision) {
    auto a = make<AnimatedFloatProperty>("t"), b = make<AnimatedFloatProperty>("t");
    a->addKey(1.0, 2.0f);
    b->addKey(1.00001, 2.0f);
    EXPECT_TRUE(a->isEqual(b));
    b->setKeys({{1.0001, 2.0f}});
    EXPECT_FALSE(a->isEqual(b));
}

TEST(PropertyTest, UnsignedValuesMustBeIdentical) {
    auto a = make<UIntProperty>("u"), b = make<UIntProperty>("u");
    a->setValue(1);
    b->setValue(2);
    EXPECT_FALSE(a->isEqual(b));
    b->setValue(1);
    EXPECT_TRUE(a->isEqual(b));
}

TEST(PropertyTest, PropertiesOfDifferentClassesWithEqualNamesAndNumbersDiffer) {
    auto f = make<FloatProperty>("same");
    auto u = make<UIntProperty>("same");
    auto af = make<AnimatedFloatProperty>("same");
    auto arg = make<ArgumentProperty>("same");
    f->setValue(1.0f);
    u->setValue(1);
    EXPECT_FALSE(f->isEqual(u));
    EXPECT_FALSE(u->isEqual(f));
    EXPECT_FALSE(af->isEqual(arg));
    EXPECT_FALSE(arg->isEqual(af));
    EXPECT_FALSE(f->isEqual(af));
    EXPECT_FALSE(f->isEqual(PropertyPtr()));
}

TEST(PropertyTest, NamesMustBeByteEqual) {
    auto a = make<StringProperty>("Name"), b = make<StringProperty>("name");
    EXPECT_FALSE(a->isEqual(b));
    auto c = make<StringProperty>(std::string("x\0y", 3)), d = make<StringProperty>(std::string("x\0z", 3));
    EXPECT_FALSE(c->isEqual(d));
    c->setValue("v");
    auto e = make<StringProperty>(std::string("x\0y", 3));
    e->setValue("v");
    EXPECT_TRUE(c->isEqual(e));
}

TEST(PropertyTest, AnimatedPropertiesDifferInArgumentOrKeyCount) {
    auto a = make<AnimatedFloatProperty>("k"), b = make<AnimatedFloatProperty>("k");
    for (auto* p : {a.get(), b.get()}) {
        p->setArgument(4);
        p->addKey(0.0, 1.0f);
        p->addKey(1.0, 2.0f);
    }
    EXPECT_TRUE(a->isEqual(b));
    b->addKey(2.0, 3.0f);
    EXPECT_FALSE(a->isEqual(b));
    EXPECT_FALSE(b->isEqual(a));
    a->addKey(2.0, 3.0f);
    b->setArgument(5);
    EXPECT_FALSE(a->isEqual(b));
    auto x = make<ArgumentProperty>("g"), y = make<ArgumentProperty>("g");
    x->setArgument(1);
    EXPECT_FALSE(x->isEqual(y));
    y->setArgument(1);
    EXPECT_TRUE(x->isEqual(y));
}

TEST(PropertyTest, KeysKeepTheOrderGivenAndOrderMatters) {
    auto a = make<AnimatedFloatProperty>("k"), b = make<AnimatedFloatProperty>("k");
    a->addKey(1.0, 2.0f);
    a->addKey(0.0, 1.0f);
    b->addKey(0.0, 1.0f);
    b->addKey(1.0, 2.0f);
    EXPECT_EQ(a->getKeys()[0].time, 1.0);
    EXPECT_FALSE(a->isEqual(b));
}

TEST(PropertyTest, StaticRecordsHoldClassNameNameAndValueBytes) {
    auto f = make<FloatProperty>("a");
    f->setValue(1.0f);
    EXPECT_EQ(bytesOf(*f), Bytes().str("model::Property<float>").str("a").raw({0x00, 0x00, 0x80, 0x3F}).v);

    auto u = make<UIntProperty>("__VERSION__");
    u->setValue(0x01020304);
    EXPECT_EQ(bytesOf(*u), Bytes().str("model::Property<unsigned int>").str("__VERSION__").raw({4, 3, 2, 1}).v);

    auto v = make<Vec3fProperty>("color");
    v->setValue(osg::Vec3f(1, 2, 3));
    EXPECT_EQ(bytesOf(*v), Bytes().str("model::Property<osg::Vec3f>").str("color").f32(1).f32(2).f32(3).v);

    auto s = make<StringProperty>("type");
    s->setValue("lamp");
    EXPECT_EQ(bytesOf(*s), Bytes().str("model::Property<const char*>").str("type").str("lamp").v);
}

TEST(PropertyTest, ArgumentRecordHoldsTheArgumentTwice) {
    auto g = make<ArgumentProperty>("arg");
    g->setArgument(7);
    EXPECT_EQ(bytesOf(*g), Bytes().str("model::ArgumentProperty").str("arg").u32(7).u32(7).v);
}

TEST(PropertyTest, AnimatedRecordHoldsArgumentKeyCountAndKeys) {
    auto k = make<AnimatedVec2fProperty>("uv");
    k->setArgument(3);
    k->addKey(0.25, osg::Vec2f(1, -1));
    k->addKey(-1.0, osg::Vec2f(0.5f, 2));
    EXPECT_EQ(bytesOf(*k), Bytes()
                               .str("model::AnimatedProperty<osg::Vec2f>")
                               .str("uv")
                               .u32(3)
                               .u32(2)
                               .f64(0.25).f32(1).f32(-1)
                               .f64(-1.0).f32(0.5f).f32(2)
                               .v);
    auto empty = make<AnimatedFloatProperty>("e");
    EXPECT_EQ(bytesOf(*empty), Bytes().str("model::AnimatedProperty<float>").str("e").u32(kNoArgument).u32(0).v);
}

TEST(PropertyTest, TextFormsShowNameAndValue) {
    auto f = make<FloatProperty>("f");
    f->setValue(1.5f);
    EXPECT_EQ(f->toString(), "f = 1.500000;");
    auto u = make<UIntProperty>("u");
    u->setValue(4294967295u);
    EXPECT_EQ(u->toString(), "u = 4294967295;");
    auto v = make<Vec2fProperty>("v");
    v->setValue(osg::Vec2f(1, -2));
    EXPECT_EQ(v->toString(), "v = vec2(1.000000,-2.000000);");
    auto w = make<Vec4fProperty>("w");
    EXPECT_EQ(w->toString(), "w = vec4(0.000000,0.000000,0.000000,0.000000);");
    auto s = make<StringProperty>("s");
    s->setValue("text");
    EXPECT_EQ(s->toString(), "s = text;");
    auto g = make<ArgumentProperty>("g");
    g->setArgument(5);
    EXPECT_EQ(g->toString(), "g = argument(5);");
    auto k = make<AnimatedVec3fProperty>("k");
    k->setArgument(9);
    k->addKey(0.5, osg::Vec3f(1, 2, 3));
    EXPECT_EQ(k->toString(), "k = animation(9, {0.500000, vec3(1.000000,2.000000,3.000000)});");
    auto huge = make<FloatProperty>("h");
    huge->setValue(3.4028235e38f);
    EXPECT_EQ(huge->toString().substr(0, 10), "h = 340282");
}

TEST(PropertyTest, PropertyListKeepsOneEntryPerName) {
    PropertyList list;
    auto a = make<FloatProperty>("a"), b = make<FloatProperty>("b");
    auto a2 = make<UIntProperty>("a");
    addOrReplaceProperty(list, a);
    addOrReplaceProperty(list, b);
    addOrReplaceProperty(list, a2);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0], a2);
    EXPECT_EQ(list[1], b);
    EXPECT_EQ(findProperty(list, "b"), b);
    EXPECT_FALSE(findProperty(list, "c"));
}

}  // namespace
}  // namespace model
