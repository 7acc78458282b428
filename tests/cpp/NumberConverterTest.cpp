// Number-node conversion: digits under temporary number roots become number
// nodes that carry their digit index per vertex.

#include "ModelTestSupport.h"
#include "utils/NumberNodeConverter.h"

using namespace model;
using namespace modeltest;

namespace {

// A digit: one triangle at x offset `at`, hanging off parent.
template <class T = RenderNode>
Ptr<T> digit(const char* cls, const Ptr<PropertiesSet>& material, const Ptr<Node>& parent, float at) {
    auto r = make<T>(cls);
    r->setMaterial(material);
    r->setParent(0, parent);
    Vertices v;
    v.setAttribute(POSITION0, 3, {at, 0, 0, at + 1, 0, 0, at, 1, 0});
    r->replaceGeometry(v, indexList({0, 1, 2}));
    return r;
}

// Three controls on a number root "counter" below a transform of the top.
struct Display : Model {
    Ptr<TransformNode> holder = transform("", Matrix44d());
    Ptr<TmpNumberRoot> numberRoot = make<TmpNumberRoot>("model::TmpNumberRoot", "counter");
    Ptr<PropertiesSet> material = modeltest::material("def_material", "paint");

    Display() {
        material->getVertexFormat()[POSITION0] = 3;
        top->addChild(holder);
        holder->addChild(numberRoot);
        numberRoot->setControls({{10, 0.0f, -1, 0.0f}, {11, 0.5f, -1, 0.0f}, {12, 1.0f, -1, 0.0f}});
    }
    Ptr<RenderNode> addDigit(float at) { return add(material, numberRoot, at); }
    Ptr<RenderNode> add(const Ptr<PropertiesSet>& m, const Ptr<Node>& parent, float at) {
        auto d = digit("model::RenderNode", m, parent, at);
        root->addRenderNode(d);
        return d;
    }
};

}  // namespace

// The saved record is checked from Python; what the file cannot show is
// that the damage argument carries over and the digits' material is left as
// it was while the number node gets a copy with the digit index.
TEST(NumberConverter, NumberNodeKeepsDamageArgumentAndCopiesTheMaterial) {
    Display display;
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
    Display display;
    GetParam().build(display);
    EXPECT_EQ(messageOf([&] { numberNodeConverter(*display.root); }), GetParam().message);
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
                    auto below = node();
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

