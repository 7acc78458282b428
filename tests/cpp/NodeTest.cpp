#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "AnimatedProperty.h"
#include "BaseNode.h"
#include "ClassRegistry.h"
#include "Node.h"
#include "StaticProperty.h"

namespace model {
namespace {

ClassRegistry& registry() { return ClassRegistry::instance(); }

NodePtr makeNode(const std::string& name = "") {
    NodePtr n = ClassRegistry::make<Node>("model::Node");
    n->setName(name);
    return n;
}

template <class P>
Ptr<P> makeProperty(const char* className, const std::string& name) {
    auto p = ClassRegistry::make<P>(className);
    p->setName(name);
    return p;
}

std::vector<std::string> propertyNames(const PropertyList& list) {
    std::vector<std::string> names;
    for (const auto& p : list) names.push_back(p->getName());
    return names;
}

// A tree node with its own matrix, standing in for the transform kinds.
class MatrixNode final : public Node {
public:
    explicit MatrixNode(const Matrix44d& m) : own(m) {}
    void multiplyLocalMatrix(const IModelArguments&, Matrix44d& m) const override { m = m * own; }
    Matrix44d own;
};

// A tree node that hides everything below it while hidden is set.
class HidingNode final : public Node {
public:
    bool hidden = true;
    bool isVisibleHere(const IModelArguments& args) const override {
        return !hidden && args.getArgument(0) == 0.0f;
    }
};

// A base node with no parents of its own, standing in for the concrete kinds.
class PlainBaseNode final : public BaseNode {
public:
    NodeType getType() const override { return NodeType::Connector; }
    void accept(INodeVisitor&) override {}
    void accept(INodeVisitor&) const override {}
};

Matrix44d translation(double x, double y, double z) {
    Matrix44d m;
    m(3, 0) = x;
    m(3, 1) = y;
    m(3, 2) = z;
    return m;
}

Matrix44d scale(double s) {
    Matrix44d m;
    m(0, 0) = m(1, 1) = m(2, 2) = s;
    return m;
}

TEST(NodeTest, SetVersionTwiceLeavesOneVersionProperty) {
    NodePtr n = makeNode("n");
    n->addProperty(makeProperty<FloatProperty>("model::Property<float>", "before"));
    n->setVersion(3);
    const PropertyPtr first = findProperty(n->getProperties(), "__VERSION__");
    n->setVersion(3);
    EXPECT_EQ(propertyNames(n->getProperties()), (std::vector<std::string>{"before", "__VERSION__"}));
    EXPECT_EQ(findProperty(n->getProperties(), "__VERSION__"), first);  // unchanged object
    EXPECT_EQ(n->getVersion(), 3u);
    auto held = qz::dynamicPtrCast<UIntProperty>(first);
    ASSERT_TRUE(held);
    EXPECT_EQ(held->getValue(), 3u);
}

TEST(NodeTest, ChangingTheVersionReplacesTheVersionPropertyInPlaceWithoutTouchingCopies) {
    NodePtr n = makeNode("n");
    EXPECT_EQ(n->getVersion(), 0u);
    n->setVersion(1);
    n->addProperty(makeProperty<FloatProperty>("model::Property<float>", "after"));
    NodePtr copy = qz::dynamicPtrCast<Node>(n->clone());
    n->setVersion(2);
    EXPECT_EQ(propertyNames(n->getProperties()), (std::vector<std::string>{"__VERSION__", "after"}));
    EXPECT_EQ(n->getVersion(), 2u);
    EXPECT_EQ(copy->getVersion(), 1u);
}

TEST(NodeTest, AccumulateMatrixAppliesTheNodeFirstThenEachAncestor) {
    Ptr<MatrixNode> top(new MatrixNode(translation(1, 0, 0)));
    NodePtr mid = makeNode("mid");
    Ptr<MatrixNode> leaf(new MatrixNode(scale(2)));
    top->addChild(mid);
    mid->addChild(leaf);
    Matrix44d m;
    leaf->accumulateMatrix(DummyArguments(), m);
    // Scale first, then translate: (1,0,0) -> (2,0,0) -> (3,0,0).
    const auto p = m.transformPoint(1, 0, 0);
    EXPECT_DOUBLE_EQ(p[0], 3.0);
    EXPECT_DOUBLE_EQ(p[1], 0.0);
}

TEST(NodeTest, VisibilityIsClearedByAnyHidingAncestorOnly) {
    Ptr<HidingNode> hider(new HidingNode());
    NodePtr mid = makeNode(), leaf = makeNode(), outside = makeNode();
    hider->addChild(mid);
    mid->addChild(leaf);
    EXPECT_FALSE(leaf->isVisible(DummyArguments()));
    EXPECT_TRUE(outside->isVisible(DummyArguments()));
    hider->hidden = false;
    EXPECT_TRUE(leaf->isVisible(DummyArguments()));
}

TEST(NodeTest, UpwardWalksOfADeepChainUseNoRecursion) {
    Ptr<HidingNode> top(new HidingNode());
    Node* deepest = top.get();
    for (int i = 0; i < 100000; ++i) {
        NodePtr n = makeNode();
        deepest->addChild(n);
        deepest = n.get();
    }
    EXPECT_FALSE(deepest->isVisible(DummyArguments()));
    Matrix44d m;
    deepest->accumulateMatrix(DummyArguments(), m);
    EXPECT_TRUE(m.isIdentity(0.0));
}

TEST(NodeTest, ForEachArgumentReportsSetArgumentsOfDrivenPropertiesInOrder) {
    NodePtr n = makeNode();
    auto arg = makeProperty<ArgumentProperty>("model::ArgumentProperty", "a");
    arg->setArgument(5);
    auto anim = makeProperty<AnimatedFloatProperty>("model::AnimatedProperty<float>", "b");
    anim->setArgument(7);
    auto unset = makeProperty<AnimatedVec3fProperty>("model::AnimatedProperty<osg::Vec3f>", "c");
    auto plain = makeProperty<UIntProperty>("model::Property<unsigned int>", "d");
    plain->setValue(9);
    for (PropertyPtr p : {PropertyPtr(plain), PropertyPtr(arg), PropertyPtr(unset), PropertyPtr(anim)})
        n->addProperty(p);
    std::vector<std::uint32_t> seen;
    n->forEachArgument([&](std::uint32_t a) { seen.push_back(a); });
    EXPECT_EQ(seen, (std::vector<std::uint32_t>{5, 7}));
}

TEST(NodeTest, BaseNodeWithoutParentsRefusesEveryParentIndex) {
    Ptr<PlainBaseNode> b(new PlainBaseNode());
    EXPECT_EQ(b->getNumParents(), 0u);
    for (std::size_t i : {std::size_t(0), std::size_t(1), std::size_t(-1)}) {
        EXPECT_THROW(b->getParent(i), std::out_of_range);
        EXPECT_THROW(b->setParent(i, makeNode()), std::out_of_range);
    }
    EXPECT_FALSE(b->transformGeometry(0, Matrix44d()));
    EXPECT_EQ(b->getVersion(), 0u);
    b->setName("conn");
    b->setName(static_cast<const char*>(nullptr));
    EXPECT_EQ(b->getName(), "");
}

TEST(NodeTest, BaseNodePropertiesKeepUniqueNamesAndReportArguments) {
    Ptr<PlainBaseNode> b(new PlainBaseNode());
    auto first = makeProperty<FloatProperty>("model::Property<float>", "range");
    auto other = makeProperty<ArgumentProperty>("model::ArgumentProperty", "arg");
    other->setArgument(11);
    auto second = makeProperty<FloatProperty>("model::Property<float>", "range");
    b->addProperty(first);
    b->addProperty(other);
    b->addProperty(second);
    b->addProperty(PropertyPtr());
    ASSERT_EQ(b->getProperties().size(), 2u);
    EXPECT_EQ(b->getProperties()[0], second);
    std::vector<std::uint32_t> seen;
    b->forEachArgument([&](std::uint32_t a) { seen.push_back(a); });
    EXPECT_EQ(seen, std::vector<std::uint32_t>{11});
}

TEST(NodeTest, CloneOfAClassTheRegistryCantMakeGivesNull) {
    Ptr<PlainBaseNode> b(new PlainBaseNode());
    const std::size_t before = registry().aliveCount();
    EXPECT_FALSE(b->clone());
    EXPECT_EQ(registry().aliveCount(), before);
}

TEST(NodeTest, MatrixProductAppliesTheLeftFactorFirst) {
    const Matrix44d m = scale(2) * translation(1, 0, 0);
    const auto p = m.transformPoint(1, 1, 1);
    EXPECT_DOUBLE_EQ(p[0], 3.0);
    EXPECT_DOUBLE_EQ(p[1], 2.0);
    const Matrix44d r = translation(1, 0, 0) * scale(2);
    EXPECT_DOUBLE_EQ(r.transformPoint(1, 1, 1)[0], 4.0);
}

TEST(NodeTest, IdentityTestAllowsTheFloatTolerancePerElement) {
    for (int i : {0, 3, 12, 15}) {
        Matrix44d near, far;
        near.m[i] += 0.9e-5;
        far.m[i] += 1.1e-5;
        EXPECT_TRUE(near.isIdentity()) << i;
        EXPECT_FALSE(far.isIdentity()) << i;
    }
}

}  // namespace
}  // namespace model
