// Number-node conversion: digits under temporary number roots become number
// nodes that carry their digit index per vertex.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "ClassRegistry.h"
#include "PropertiesSet.h"
#include "nodes/NumberNode.h"
#include "nodes/RenderNode.h"
#include "nodes/RootNode.h"
#include "nodes/SkinNode.h"
#include "nodes/TmpNumberRoot.h"
#include "nodes/TransformNode.h"
#include "qz/ExtException.h"
#include "utils/NumberNodeConverter.h"

using namespace model;

namespace {


Ptr<PropertiesSet> positionsOnly() {
    Ptr<PropertiesSet> m(new PropertiesSet());
    m->setName("digits");
    m->getVertexFormat()[POSITION0] = 3;
    return m;
}

// A digit: one triangle at x offset `at`, hanging off parent.
template <class T = RenderNode>
Ptr<T> digit(const char* cls, const Ptr<PropertiesSet>& material, const Ptr<Node>& parent, float at) {
    auto r = ClassRegistry::make<T>(cls);
    r->setName("digit" + std::to_string(int(at)));
    r->setMaterial(material);
    Vertices v;
    v.setAttribute(POSITION0, 3, {at, 0, 0, at + 1, 0, 0, at, 1, 0});
    Indices i;
    i.indices = {0, 1, 2};
    r->replaceGeometry(v, i);
    if constexpr (std::is_same_v<T, SkinNode>) r->setNumParents(1);
    r->setParent(0, parent);
    return r;
}

NumberControlList controls(int count) {
    NumberControlList out;
    for (int i = 0; i < count; ++i) out.push_back(NumberControl{10 + i, 0.5f * i, -1, 0.0f});
    return out;
}

struct Display {
    Ptr<RootNode> root = ClassRegistry::make<RootNode>("model::RootNode");
    Ptr<Node> top = ClassRegistry::make<Node>("model::Node");
    Ptr<TransformNode> holder = ClassRegistry::make<TransformNode>("model::TransformNode");
    Ptr<TmpNumberRoot> numberRoot = ClassRegistry::make<TmpNumberRoot>("model::TmpNumberRoot");
    Ptr<PropertiesSet> material = positionsOnly();

    explicit Display(int controlCount) {
        top->setName("root");
        numberRoot->setName("counter");
        root->setTopNode(top);
        top->addChild(holder);
        holder->addChild(numberRoot);
        numberRoot->setControls(controls(controlCount));
    }
    Ptr<RenderNode> addDigit(float at, const Ptr<PropertiesSet>& m = {}) {
        auto d = digit(m ? m : material, numberRoot, at);
        root->addRenderNode(d);
        return d;
    }
    Ptr<RenderNode> digit(const Ptr<PropertiesSet>& m, const Ptr<Node>& parent, float at) {
        return ::digit<RenderNode>("model::RenderNode", m, parent, at);
    }
};

std::string failureOf(RootNode& root) {
    try {
        numberNodeConverter(root);
    } catch (const qz::ExtException& e) {
        return e.what();
    }
    return "<converted>";
}

}  // namespace

TEST(NumberConverter, ModelWithoutNumberRootIsLeftAlone) {
    Display display(0);
    display.holder->removeChild(display.numberRoot);
    auto plainMesh = display.digit(display.material, display.holder, 0);
    display.root->addRenderNode(plainMesh);
    // A render node without parents is no digit either.
    auto orphan = ClassRegistry::make<RenderNode>("model::RenderNode");
    orphan->setParentEntries({});
    display.root->addRenderNode(orphan);
    EXPECT_FALSE(numberNodeConverter(*display.root));
    ASSERT_EQ(display.root->getRenderNodes().size(), 2u);
    EXPECT_EQ(display.root->getRenderNodes()[0], plainMesh);
}

// The saved record is checked from Python; what the file cannot show is
// that the damage argument carries over and the digits' material is left as
// it was while the number node gets a copy with the digit index.
TEST(NumberConverter, NumberNodeKeepsDamageArgumentAndCopiesTheMaterial) {
    Display display(3);
    auto other = display.digit(display.material, display.holder, 7);
    display.root->addRenderNode(other);
    display.addDigit(0)->setDamageArgument(0, 42);
    display.addDigit(2);
    display.addDigit(4);

    EXPECT_TRUE(numberNodeConverter(*display.root));
    const auto& list = display.root->getRenderNodes();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0], other);
    ASSERT_EQ(list[1]->getType(), NodeType::NumberNode);
    const auto& number = static_cast<const NumberNode&>(*list[1]);
    EXPECT_EQ(number.getDamageArgument(0), 42u);
    EXPECT_NE(number.getMaterial(), display.material);
    EXPECT_EQ(display.material->getVertexFormat()[COLOR1], 0);
    // The number roots are gone: a second run finds nothing.
    EXPECT_FALSE(numberNodeConverter(*display.root));
}

TEST(NumberConverter, EachNumberRootGetsItsOwnNumberNodeInOrderOfFirstDigit) {
    Display display(1);
    auto second = ClassRegistry::make<TmpNumberRoot>("model::TmpNumberRoot");
    second->setName("second");
    second->setControls(controls(1));
    display.top->addChild(second);
    display.root->addRenderNode(display.digit(display.material, second, 0));
    display.addDigit(1);
    EXPECT_TRUE(numberNodeConverter(*display.root));
    const auto& list = display.root->getRenderNodes();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0]->getName(), "second");
    EXPECT_EQ(list[0]->getParent(0), display.top);
    EXPECT_EQ(list[1]->getName(), "counter");
    EXPECT_EQ(list[1]->getParent(0), display.holder);
}

struct Failure {
    const char* name;
    std::function<void(Display&)> build;
    const char* message;
};

class NumberConverterFailure : public ::testing::TestWithParam<Failure> {};

TEST_P(NumberConverterFailure, ReportsItsMessage) {
    Display display(3);
    GetParam().build(display);
    EXPECT_EQ(failureOf(*display.root), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NumberConverterFailure,
    ::testing::Values(
        Failure{"NumberNodeAsDigit",
                [](Display& d) {
                    d.root->addRenderNode(digit<NumberNode>("model::NumberNode", d.material, d.numberRoot, 0));
                },
                "Only render nodes can be digits."},
        Failure{"DigitBelowANodeOfTheRoot",
                [](Display& d) {
                    auto below = ClassRegistry::make<Node>("model::Node");
                    d.numberRoot->addChild(below);
                    d.root->addRenderNode(d.digit(d.material, below, 0));
                },
                "TmpNumberRoot must be childfree."},
        Failure{"DigitWithTwoParents",
                [](Display& d) { d.addDigit(0)->addParentEntry(d.numberRoot); },
                "Number of control nodes must be == 1."},
        Failure{"MaterialAlreadyHasDigitIndex",
                [](Display& d) {
                    d.material->getVertexFormat()[COLOR1] = 1;
                    for (int i = 0; i < 3; ++i) {
                        auto r = d.addDigit(float(i));
                        Vertices v = r->getVertices();
                        v.setAttribute(COLOR1, 1, {0, 0, 0});
                        r->replaceGeometry(v, r->getIndices());
                    }
                },
                "Can't merge digits."},
        Failure{"IndexPastItsDigit",
                [](Display& d) {
                    for (int i = 0; i < 3; ++i) d.addDigit(float(i));
                    static_cast<RenderNode&>(*d.root->getRenderNodes()[0]).getIndices().indices[2] = 3;
                },
                "Can't merge digits."},
        Failure{"TriangleStrips",
                [](Display& d) {
                    for (int i = 0; i < 3; ++i) d.addDigit(float(i))->getIndices().primitiveKind = 6;
                },
                "Can't merge digits."},
        Failure{"VerticesNotMatchingTheMaterial",
                [](Display& d) {
                    for (int i = 0; i < 3; ++i) d.addDigit(float(i));
                    auto& r = static_cast<RenderNode&>(*d.root->getRenderNodes()[1]);
                    Vertices v = r.getVertices();
                    v.setAttribute(NORMAL0, 3, {0, 0, 1, 0, 0, 1, 0, 0, 1});
                    r.replaceGeometry(v, r.getIndices());
                },
                "Can't merge digits."}),
    [](const ::testing::TestParamInfo<Failure>& info) { return std::string(info.param.name); });

TEST(NumberConverter, FailedMergeLeavesDigitsInTheModel) {
    Display display(2);
    auto a = display.addDigit(0);
    auto b = display.addDigit(1, positionsOnly());
    EXPECT_EQ(failureOf(*display.root), "Can't merge digits.");
    const auto& list = display.root->getRenderNodes();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0], a);
    EXPECT_EQ(list[1], b);
    EXPECT_EQ(display.numberRoot->getParent(), display.holder);
}
