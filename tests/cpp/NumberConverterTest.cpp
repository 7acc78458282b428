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
#include "nodes/TmpNumberRoot.h"
#include "nodes/TransformNode.h"
#include "qz/ExtException.h"
#include "utils/NumberNodeConverter.h"

using namespace model;

namespace {

// A digit: one triangle at x offset `at`, hanging off parent.
template <class T = RenderNode>
Ptr<T> digit(const char* cls, const Ptr<PropertiesSet>& material, const Ptr<Node>& parent, float at) {
    auto r = ClassRegistry::make<T>(cls);
    r->setMaterial(material);
    Vertices v;
    v.setAttribute(POSITION0, 3, {at, 0, 0, at + 1, 0, 0, at, 1, 0});
    Indices i;
    i.indices = {0, 1, 2};
    r->replaceGeometry(v, i);
    r->setParent(0, parent);
    return r;
}

struct Display {
    Ptr<RootNode> root = ClassRegistry::make<RootNode>("model::RootNode");
    Ptr<Node> top = ClassRegistry::make<Node>("model::Node");
    Ptr<TransformNode> holder = ClassRegistry::make<TransformNode>("model::TransformNode");
    Ptr<TmpNumberRoot> numberRoot = ClassRegistry::make<TmpNumberRoot>("model::TmpNumberRoot");
    Ptr<PropertiesSet> material{new PropertiesSet()};

    explicit Display(int controlCount) {
        numberRoot->setName("counter");
        root->setTopNode(top);
        top->addChild(holder);
        holder->addChild(numberRoot);
        material->getVertexFormat()[POSITION0] = 3;
        NumberControlList controls;
        for (int i = 0; i < controlCount; ++i) controls.push_back(NumberControl{10 + i, 0.5f * i, -1, 0.0f});
        numberRoot->setControls(controls);
    }
    Ptr<RenderNode> addDigit(float at) { return add(material, numberRoot, at); }
    Ptr<RenderNode> add(const Ptr<PropertiesSet>& m, const Ptr<Node>& parent, float at) {
        auto d = ::digit<RenderNode>("model::RenderNode", m, parent, at);
        root->addRenderNode(d);
        return d;
    }
};

}  // namespace

// The saved record is checked from Python; what the file cannot show is
// that the damage argument carries over and the digits' material is left as
// it was while the number node gets a copy with the digit index.
TEST(NumberConverter, NumberNodeKeepsDamageArgumentAndCopiesTheMaterial) {
    Display display(3);
    auto other = display.add(display.material, display.holder, 7);
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

struct Failure {
    const char* name;
    std::function<void(Display&)> build;
    const char* message;
};

class NumberConverterFailure : public ::testing::TestWithParam<Failure> {};

TEST_P(NumberConverterFailure, ReportsItsMessage) {
    Display display(3);
    GetParam().build(display);
    try {
        numberNodeConverter(*display.root);
        ADD_FAILURE() << "converted";
    } catch (const qz::ExtException& e) {
        EXPECT_STREQ(e.what(), GetParam().message);
    }
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
                    d.add(d.material, below, 0);
                },
                "TmpNumberRoot must be childfree."},
        Failure{"DigitWithTwoParents",
                [](Display& d) { d.addDigit(0)->addParentEntry(d.numberRoot); },
                "Number of control nodes must be == 1."},
        Failure{"IndexPastItsDigit",
                [](Display& d) {
                    for (int i = 0; i < 3; ++i) d.addDigit(float(i));
                    static_cast<RenderNode&>(*d.root->getRenderNodes()[0]).getIndices().indices[2] = 3;
                },
                "Can't merge digits."}),
    [](const ::testing::TestParamInfo<Failure>& info) { return std::string(info.param.name); });

