// Scene-graph optimisation: the tree edits, the four passes and the
// iteration that runs them over a whole model.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestObjects.h"
#include "PropertiesSet.h"
#include "nodes/ArgAnimatedBone.h"
#include "nodes/ArgAnimationNode.h"
#include "nodes/ArgVisibilityNode.h"
#include "nodes/Bone.h"
#include "nodes/Connector.h"
#include "nodes/LodNode.h"
#include "nodes/RenderNode.h"
#include "nodes/RootNode.h"
#include "nodes/TransformNode.h"
#include "qz/ExtException.h"
#include "utils/OptimizeTransformations.h"
#include "utils/PreOrder.h"

using namespace model;

namespace {

using testobjects::make;

Ptr<Node> plain(const std::string& name) { return make<Node>("model::Node", name); }

Ptr<TransformNode> transform(const std::string& name, const Matrix44d& m) {
    auto t = make<TransformNode>("model::TransformNode", name);
    t->setMatrix(m);
    return t;
}

Matrix44d translation(double x, double y, double z) {
    Matrix44d m;
    m(3, 0) = x;
    m(3, 1) = y;
    m(3, 2) = z;
    return m;
}

// A quarter turn about z (x goes to y), then a shift.
Matrix44d turnAndShift() {
    Matrix44d m;
    m(0, 0) = 0;
    m(0, 1) = 1;
    m(1, 0) = -1;
    m(1, 1) = 0;
    m(3, 0) = 10;
    m(3, 1) = 20;
    m(3, 2) = 30;
    return m;
}

Ptr<PropertiesSet> meshMaterial() {
    Ptr<PropertiesSet> m(new PropertiesSet());
    m->getVertexFormat()[POSITION0] = 3;
    m->getVertexFormat()[NORMAL0] = 3;
    return m;
}

// One triangle with positions (1,0,0), (0,1,0), (0,0,1) and normals +x.
Ptr<RenderNode> mesh(const std::string& name, const Ptr<Node>& parent) {
    auto r = make<RenderNode>("model::RenderNode");
    r->setName(name);
    r->setMaterial(meshMaterial());
    Vertices v;
    v.setAttribute(POSITION0, 3, {1, 0, 0, 0, 1, 0, 0, 0, 1});
    v.setAttribute(NORMAL0, 3, {1, 0, 0, 1, 0, 0, 1, 0, 0});
    Indices i;
    i.indices = {0, 1, 2};
    EXPECT_TRUE(r->setGeometry(v, i));
    r->setParent(0, parent);
    return r;
}

std::vector<float> positionsOf(const RenderNode& r) { return r.getVertices().getAttribute(POSITION0).data; }

std::vector<std::string> childNames(const Node& n) {
    std::vector<std::string> out;
    for (const auto& c : n.getChildren()) out.push_back(c->getName());
    return out;
}

// "name(child child ...)" of the whole tree, the shape a test compares.
std::string shape(const Node& n) {
    std::string s = n.getName();
    if (!n.hasChildren()) return s;
    s += "(";
    bool first = true;
    for (const auto& c : n.getChildren()) {
        if (!first) s += " ";
        first = false;
        s += shape(*c);
    }
    return s + ")";
}

struct Model {
    Ptr<RootNode> root = make<RootNode>("model::RootNode");
    Ptr<Node> top = plain("root");
    Model() { root->setTopNode(top); }
    const Node& currentTop() const { return *root->getTopNode(); }
};

void expectMatrixNear(const Matrix44d& actual, const Matrix44d& expected) {
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(actual.m[i], expected.m[i], 1e-9) << "element " << i;
}

}  // namespace

// ---------------------------------------------------------------------------
// Tree edits
// ---------------------------------------------------------------------------

TEST(OptimizeTreeEdits, RemoveNodeWithoutParentChangesNothing) {
    Model model;
    auto child = plain("child");
    model.top->addChild(child);
    utils::RemovedList removed;
    const auto helpers = utils::bindNodeHelpers(*model.root, removed);
    EXPECT_FALSE(utils::removeNode(helpers, model.top));
    EXPECT_FALSE(utils::removeNode(helpers, Ptr<Node>()));
    EXPECT_TRUE(removed.empty());
    EXPECT_EQ(shape(*model.top), "root(child)");
}

TEST(OptimizeTreeEdits, RemoveNodeLetsChildrenTakeItsPlaceInOrder) {
    Model model;
    auto mid = plain("mid");
    model.top->addChild(plain("before"));
    model.top->addChild(mid);
    model.top->addChild(plain("after"));
    for (const char* n : {"a", "b", "c"}) mid->addChild(plain(n));
    utils::RemovedList removed;
    EXPECT_TRUE(utils::removeNode(utils::bindNodeHelpers(*model.root, removed), mid));
    EXPECT_EQ(shape(*model.top), "root(before a b c after)");
    ASSERT_EQ(removed.size(), 1u);
    EXPECT_EQ(removed[0], mid);
    EXPECT_FALSE(mid->getParent());
}

TEST(OptimizeTreeEdits, ReplaceNodeOfTopMakesNewTopAndMovesLinks) {
    Model model;
    model.top->addChild(plain("x"));
    auto r = mesh("r", model.top);
    model.root->addRenderNode(r);
    auto fresh = plain("fresh");
    utils::RemovedList removed;
    utils::replaceNode(utils::bindNodeHelpers(*model.root, removed), model.top, fresh);
    EXPECT_EQ(model.root->getTopNode(), fresh);
    EXPECT_EQ(shape(*fresh), "fresh(x)");
    EXPECT_EQ(r->getParent(0), fresh);
    EXPECT_EQ(removed, utils::RemovedList{model.top});
}

TEST(OptimizeTreeEdits, ReplaceNodeRefusesNullsAndNodesFromItsOwnSubtree) {
    Model model;
    auto a = plain("a");
    auto below = plain("below");
    model.top->addChild(a);
    a->addChild(below);
    auto r = mesh("r", a);
    model.root->addRenderNode(r);
    utils::RemovedList removed;
    const auto helpers = utils::bindNodeHelpers(*model.root, removed);
    EXPECT_THROW(utils::replaceNode(helpers, a, below), qz::ExtException);
    EXPECT_THROW(utils::replaceNode(helpers, a, a), qz::ExtException);
    EXPECT_THROW(utils::replaceNode(helpers, a, Ptr<Node>()), qz::ExtException);
    EXPECT_THROW(utils::replaceNode(helpers, Ptr<Node>(), a), qz::ExtException);
    // Nothing half-done: the links and the tree are as before.
    EXPECT_EQ(r->getParent(0), a);
    EXPECT_EQ(shape(*model.top), "root(a(below))");
    EXPECT_TRUE(removed.empty());
}

// ---------------------------------------------------------------------------
// replaceEmptyNodes
// ---------------------------------------------------------------------------

TEST(OptimizeReplaceEmpty, EachEmptyKindGetsItsReplacementAndOthersStay) {
    Model model;
    auto identityAnim = make<ArgAnimationNode>("model::ArgAnimationNode", "identityAnim");
    auto keyed = make<ArgAnimationNode>("model::ArgAnimationNode", "keyed");
    keyed->setPositionAnimations({{1, {{0.0, {0, 0, 0}}}}});
    auto noEntries = make<ArgVisibilityNode>("model::ArgVisibilityNode", "noEntries");
    auto noRanges = make<ArgVisibilityNode>("model::ArgVisibilityNode", "noRanges");
    noRanges->setEntries({{1, {}}, {2, {}}});
    auto someRange = make<ArgVisibilityNode>("model::ArgVisibilityNode", "someRange");
    someRange->setEntries({{1, {}}, {2, {{0.0, 1.0}}}});
    auto almostIdentity = transform("almostIdentity", translation(5e-6, 0, 0));
    auto moved = transform("moved", translation(2e-5, 0, 0));
    auto bone = make<ArgAnimatedBone>("model::ArgAnimatedBone", "bone");
    bone->setBaseMatrix(translation(0, 3, 0));
    Matrix44d boneMatrix = translation(9, 9, 9);
    bone->setBoneMatrix(boneMatrix);
    for (const Ptr<Node>& n : std::vector<Ptr<Node>>{identityAnim, keyed, noEntries, noRanges, someRange,
                                                    almostIdentity, moved, bone})
        model.top->addChild(n);

    utils::RemovedList removed;
    EXPECT_EQ(utils::replaceEmptyNodes(model.top, utils::bindNodeHelpers(*model.root, removed)), 5u);
    std::vector<NodeType> types;
    for (const auto& c : model.top->getChildren()) types.push_back(c->getType());
    EXPECT_EQ(types, (std::vector<NodeType>{NodeType::Node, NodeType::ArgAnimationNode, NodeType::Node,
                                            NodeType::Node, NodeType::ArgVisibilityNode, NodeType::Node,
                                            NodeType::TransformNode, NodeType::Bone}));
    EXPECT_EQ(childNames(*model.top), (std::vector<std::string>{"identityAnim", "keyed", "noEntries", "noRanges",
                                                                 "someRange", "almostIdentity", "moved", "bone"}));
    const auto& newBone = static_cast<const Bone&>(*model.top->getLastChild());
    expectMatrixNear(newBone.getMatrix(), translation(0, 3, 0));
    expectMatrixNear(newBone.getBoneMatrix(), boneMatrix);
    // Removed in collection order.
    ASSERT_EQ(removed.size(), 5u);
    EXPECT_EQ(removed[0], identityAnim);
    EXPECT_EQ(removed[4], bone);
}

// The run's form (one pre-order list carried from pass to pass) must leave
// what the two passes on fresh walks leave: a chain of empty nodes whose
// links climb past every removed stand-in, and an empty node under a LOD
// node, whose stand-in the dummy pass keeps; and a list that describes the
// tree it left.
TEST(OptimizeReplaceEmpty, ListFormLeavesWhatFreshWalksLeave) {
    struct Built {
        Model model;
        Ptr<RenderNode> low, lodMesh;
    };
    auto build = [] {
        Built b;
        auto outer = transform("outer", Matrix44d());
        auto inner = make<ArgVisibilityNode>("model::ArgVisibilityNode", "inner");
        auto keyless = make<ArgAnimationNode>("model::ArgAnimationNode", "keyless");
        keyless->setBaseMatrix(translation(1, 0, 0));
        auto lod = make<LodNode>("model::LodNode", "lod");
        auto underLod = transform("underLod", Matrix44d());
        b.model.top->addChild(outer);
        outer->addChild(inner);
        inner->addChild(keyless);
        keyless->addChild(transform("leaf", translation(0, 1, 0)));
        b.model.top->addChild(lod);
        lod->addChild(underLod);
        underLod->addChild(transform("lodLeaf", translation(0, 0, 1)));
        b.low = mesh("low", inner);
        b.lodMesh = mesh("lodMesh", underLod);
        b.model.root->addRenderNode(b.low);
        b.model.root->addRenderNode(b.lodMesh);
        return b;
    };

    Built apart = build();
    utils::RemovedList removedApart;
    const auto helpersApart = utils::bindNodeHelpers(*apart.model.root, removedApart);
    EXPECT_EQ(utils::replaceEmptyNodes(apart.model.top, helpersApart), 4u);
    EXPECT_EQ(utils::removeDummyNodes(apart.model.top, helpersApart), 2u);

    Built listed = build();
    utils::RemovedList removedListed;
    const auto helpersListed = utils::bindNodeHelpers(*listed.model.root, removedListed);
    utils::PreOrder order(listed.model.top);
    EXPECT_EQ(utils::replaceEmptyNodes(order, helpersListed), 4u);
    EXPECT_EQ(utils::removeDummyNodes(order, helpersListed), 2u);

    EXPECT_EQ(shape(*listed.model.top), "root(keyless(leaf) lod(underLod(lodLeaf)))");
    EXPECT_EQ(shape(*listed.model.top), shape(*apart.model.top));
    EXPECT_EQ(listed.model.top->getFirstChild()->getType(), NodeType::TransformNode);
    EXPECT_EQ(listed.low->getParent(0), listed.model.top);
    EXPECT_EQ(apart.low->getParent(0), apart.model.top);
    const Ptr<Node> standIn = listed.model.top->getLastChild()->getFirstChild();
    EXPECT_EQ(standIn->getType(), NodeType::Node);
    EXPECT_EQ(listed.lodMesh->getParent(0), standIn);
    // The list describes the tree it left.
    std::vector<const Node*> inList, walked;
    order.scan([&inList](std::size_t, const Node& n, NodeType) { inList.push_back(&n); });
    Node::traverse(static_cast<const Node*>(listed.model.top.get()), [&walked](const Node* n) {
        walked.push_back(n);
        return true;
    });
    EXPECT_EQ(inList, walked);
}

// ---------------------------------------------------------------------------
// The whole optimisation
// ---------------------------------------------------------------------------

TEST(OptimizeTransformations, RemovedNodesAreRenamedDeleted) {
    Model model;
    auto t = transform("T", Matrix44d());
    auto kept = make<LodNode>("model::LodNode", "lod");
    model.top->addChild(t);
    model.top->addChild(kept);
    kept->addChild(plain("level0"));
    model.root->addRenderNode(mesh("r", t));
    optimizeTransformations(*model.root);
    EXPECT_EQ(t->getName(), "_DELETED_");
    EXPECT_EQ(shape(model.currentTop()), "root(lod(level0))");
}

TEST(OptimizeTransformations, TransformMovesBelowVisibilityNodeIntoGeometry) {
    Model model;
    auto t = transform("T", turnAndShift());
    auto vis = make<ArgVisibilityNode>("model::ArgVisibilityNode", "vis");
    vis->setEntries({{4, {{0.0, 0.5}}}});
    model.top->addChild(t);
    t->addChild(vis);
    auto r = mesh("r", vis);
    model.root->addRenderNode(r);
    optimizeTransformations(*model.root);
    EXPECT_EQ(shape(model.currentTop()), "root(vis)");
    EXPECT_EQ(r->getParent(0), vis);
    EXPECT_EQ(positionsOf(*r), (std::vector<float>{10, 21, 30, 9, 20, 30, 10, 20, 31}));
}

TEST(OptimizeTransformations, RefusedGeometryKeepsTransformAndItsChildren) {
    Model model;
    const Matrix44d m = translation(3, 0, 0);
    auto t = transform("T", m);
    auto inner = transform("inner", translation(0, 1, 0));
    auto bone = make<Bone>("model::Bone", "bone");
    model.top->addChild(t);
    t->addChild(inner);
    inner->addChild(bone);
    auto connector = make<Connector>("model::Connector");
    connector->setParent(0, t);
    model.root->addConnector(connector);
    auto r = mesh("r", t);
    model.root->addRenderNode(r);
    model.root->addRenderNode(mesh("onBone", bone));

    optimizeTransformations(*model.root);
    // The mesh took the matrix and left; the connector can't, so T keeps
    // its matrix and its child keeps its own.
    EXPECT_EQ(shape(model.currentTop()), "root(T(inner(bone)))");
    EXPECT_EQ(connector->getParent(0), t);
    EXPECT_EQ(r->getParent(0), model.top);
    EXPECT_EQ(positionsOf(*r), (std::vector<float>{4, 0, 0, 3, 1, 0, 3, 0, 1}));
    expectMatrixNear(t->getMatrix(), m);
    expectMatrixNear(inner->getMatrix(), translation(0, 1, 0));
}

TEST(OptimizeTransformations, GeometryBelowARefusingTransformIsBakedAllTheWay) {
    Model model;
    auto t = transform("T", translation(3, 0, 0));
    auto inner = transform("inner", translation(0, 1, 0));
    model.top->addChild(t);
    t->addChild(inner);
    auto connector = make<Connector>("model::Connector");
    connector->setParent(0, t);
    model.root->addConnector(connector);
    auto r = mesh("r", inner);
    model.root->addRenderNode(r);

    optimizeTransformations(*model.root);
    EXPECT_EQ(shape(model.currentTop()), "root(T)");
    EXPECT_EQ(r->getParent(0), model.top);
    EXPECT_EQ(positionsOf(*r), (std::vector<float>{4, 1, 0, 3, 2, 0, 3, 1, 1}));
}

TEST(OptimizeTransformations, RenderNodeListedTwiceIsBakedOnce) {
    Model model;
    auto t = transform("T", translation(0, 0, 1));
    model.top->addChild(t);
    auto r = mesh("r", t);
    model.root->addRenderNode(r);
    model.root->addRenderNode(r);
    optimizeTransformations(*model.root);
    EXPECT_EQ(positionsOf(*r), (std::vector<float>{1, 0, 1, 0, 1, 1, 0, 0, 2}));
}

TEST(OptimizeTransformations, EmptyTopNodeIsReplacedAndModelTopChanges) {
    Model model;
    auto topTransform = transform("top", Matrix44d());
    model.root->setTopNode(topTransform);
    auto r = mesh("r", topTransform);
    model.root->addRenderNode(r);
    optimizeTransformations(*model.root);
    const Ptr<Node>& top = model.root->getTopNode();
    ASSERT_TRUE(top);
    EXPECT_EQ(top->getType(), NodeType::Node);
    EXPECT_EQ(top->getName(), "top");
    EXPECT_EQ(r->getParent(0), top);
    EXPECT_EQ(topTransform->getName(), "_DELETED_");
}

TEST(OptimizeTransformations, DeadChainsGoWithinOneIteration) {
    Model model;
    Ptr<Node> at = model.top;
    for (int i = 0; i < 6; ++i) {
        auto vis = make<ArgVisibilityNode>("model::ArgVisibilityNode", "v" + std::to_string(i));
        vis->setEntries({{1, {{0.0, 1.0}}}});
        at->addChild(vis);
        at = vis;
    }
    EXPECT_EQ(optimizeTransformations(*model.root), 2u);
    EXPECT_FALSE(model.top->hasChildren());
}

TEST(OptimizeTransformations, RootWithoutTopNodeRunsNoIteration) {
    auto root = make<RootNode>("model::RootNode");
    EXPECT_EQ(optimizeTransformations(*root), 0u);
}
