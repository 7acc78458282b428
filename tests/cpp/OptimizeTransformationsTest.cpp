// Scene-graph optimisation on hand-made models whose result can be worked
// out by hand; random models are compared with a reference run in
// OptimizeAttachmentIndexTest.

#include <array>
#include <bit>
#include <cmath>
#include <limits>
#include <random>

#include "ModelTestSupport.h"
#include "qz/tasks/ThreadPool.h"
#include "utils/OptimizeTransformations.h"
#include "utils/TreeEdits.h"

using namespace model;
using namespace modeltest;

namespace {

// One triangle with positions (1,0,0), (0,1,0), (0,0,1) and normals +x.
Ptr<RenderNode> mesh(const Model& model, const Ptr<Node>& parent) {
    Vertices v;
    v.setAttribute(POSITION0, 3, {1, 0, 0, 0, 1, 0, 0, 0, 1});
    v.setAttribute(NORMAL0, 3, {1, 0, 0, 1, 0, 0, 1, 0, 0});
    auto r = meshNode("r", parent, materialFor(v), v, indexList({0, 1, 2}));
    model.root->addRenderNode(r);
    return r;
}

std::vector<float> positionsOf(const RenderNode& r) { return r.getVertices().getAttribute(POSITION0).data; }

std::string treeOf(const Model& model) { return shape(*model.root->getTopNode()); }

// A mesh under the model's top whose rows hold the given directions as both
// normals and tangents (positions at the origin), baked by m.
Ptr<RenderNode> bakedDirections(const Model& model, const std::vector<float>& directions, const Matrix44d& m) {
    Vertices v;
    v.setAttribute(POSITION0, 3, std::vector<float>(directions.size(), 0.0f));
    v.setAttribute(NORMAL0, 3, directions);
    v.setAttribute(TANGENT0, 3, directions);
    auto mesh = meshNode("baked", model.top, materialFor(v), v, indexList({0, 1, 2}));
    EXPECT_TRUE(mesh->transformGeometry(0, m));
    return mesh;
}

}  // namespace

// A node replaced by itself or by a node below it would leave the tree a
// cycle: refused before anything changes.
TEST(TreeEdits, ReplacementByTheNodeOrANodeBelowItIsRefusedAndChangesNothing) {
    Model model;
    auto a = node("a"), b = node("b"), c = node("c");
    model.top->addChild(a);
    a->addChild(b);
    b->addChild(c);
    utils::RemovedList removed;
    const utils::NodeHelpers helpers = utils::bindNodeHelpers(*model.root, removed);
    for (const Ptr<Node>& by : {a, b, c})
        EXPECT_EQ(messageOf([&] { utils::replaceNode(helpers, a, by); }),
                  "Can't replace a node by itself or a node below it.")
            << by->getName();
    EXPECT_EQ(shape(*model.top), "root(a(b(c)))");
    EXPECT_TRUE(removed.empty());
}

TEST(OptimizeReplaceEmpty, EachEmptyKindGetsItsReplacementAndOthersStay) {
    Model model;
    auto keyed = make<ArgAnimationNode>("model::ArgAnimationNode", "keyed");
    keyed->setPositionAnimations({{1, {{0.0, {0, 0, 0}}}}});
    auto scaled = make<ArgAnimationNode>("model::ArgAnimationNode", "scaled");
    scaled->setScaleAnimations({ScaleAnimation{1, {}, {{0.0, {2, 2, 2}}}}});
    auto noRanges = make<ArgVisibilityNode>("model::ArgVisibilityNode", "noRanges");
    noRanges->setEntries({{1, {}}, {2, {}}});
    auto someRange = make<ArgVisibilityNode>("model::ArgVisibilityNode", "someRange");
    someRange->setEntries({{1, {}}, {2, {{0.0, 1.0}}}});
    auto bone = make<ArgAnimatedBone>("model::ArgAnimatedBone", "bone");
    bone->setBaseMatrix(translation(0, 3, 0));
    for (const Ptr<Node>& n : std::vector<Ptr<Node>>{make<ArgAnimationNode>("model::ArgAnimationNode", "identityAnim"),
                                                    keyed, scaled, make<ArgVisibilityNode>("model::ArgVisibilityNode", "noEntries"),
                                                    noRanges, someRange, transform("almostIdentity", translation(5e-6, 0, 0)),
                                                    transform("moved", translation(2e-5, 0, 0)), bone})
        model.top->addChild(n);

    utils::RemovedList removed;
    EXPECT_EQ(utils::replaceEmptyNodes(model.top, utils::bindNodeHelpers(*model.root, removed)), 5u);
    std::vector<NodeType> types;
    for (const auto& c : model.top->getChildren()) types.push_back(c->getType());
    EXPECT_EQ(types, (std::vector<NodeType>{NodeType::Node, NodeType::ArgAnimationNode, NodeType::ArgAnimationNode, NodeType::Node,
                                            NodeType::Node, NodeType::ArgVisibilityNode, NodeType::Node,
                                            NodeType::TransformNode, NodeType::Bone}));
    EXPECT_EQ(shape(*model.top), "root(identityAnim keyed scaled noEntries noRanges someRange almostIdentity moved bone)");
    const auto& newBone = static_cast<const Bone&>(*model.top->getLastChild());
    EXPECT_TRUE((newBone.getMatrix() * translation(0, -3, 0)).isIdentity());
    ASSERT_EQ(removed.size(), 5u);
    EXPECT_EQ(removed[4], bone);
}

// A keyless animation node becomes the transform its base values make: the
// scale along its orientation, then the rotation, then the move. Each row
// turns a different axis, so every term of the quaternion's matrix shows.
TEST(OptimizeReplaceEmpty, KeylessAnimationBecomesTheTransformOfItsBaseValues) {
    const double h = std::sqrt(0.5);
    struct Case {
        const char* name;
        Quatd rotation, scaleOrientation;
        Vec3d scale, position;
        Matrix44d expected;
    };
    Matrix44d stretchedY;
    stretchedY(1, 1) = 2;
    const Case cases[] = {
        {"turnAboutZ", {0, 0, h, h}, kIdentityQuat, {1, 1, 1}, {1, 2, 3}, quarterTurn(0, 1, 1, translation(1, 2, 3))},
        {"turnAboutX", {h, 0, 0, h}, kIdentityQuat, {1, 1, 1}, {0, 0, 0}, quarterTurn(1, 2)},
        {"turnAboutY", {0, h, 0, h}, kIdentityQuat, {1, 1, 1}, {-4, 0, 0}, quarterTurn(2, 0, 1, translation(-4, 0, 0))},
        {"scaleAlongTurnedX", kIdentityQuat, {0, 0, h, h}, {2, 1, 1}, {0, 0, 0}, stretchedY},
    };
    for (const Case& c : cases) {
        Model model;
        auto anim = make<ArgAnimationNode>("model::ArgAnimationNode", c.name);
        anim->setBaseRotation(c.rotation);
        anim->setBaseScaleOrientation(c.scaleOrientation);
        anim->setBaseScale(c.scale);
        anim->setBasePosition(c.position);
        model.top->addChild(anim);
        utils::RemovedList removed;
        utils::replaceEmptyNodes(model.top, utils::bindNodeHelpers(*model.root, removed));
        ASSERT_EQ(model.top->getChildren().front()->getType(), NodeType::TransformNode) << c.name;
        const Matrix44d& got = static_cast<const TransformNode&>(*model.top->getChildren().front()).getMatrix();
        for (int i = 0; i < 16; ++i) EXPECT_NEAR(got(i / 4, i % 4), c.expected(i / 4, i % 4), 1e-12) << c.name << " " << i;
    }
}

// A transform that only moves a mesh leaves its directions as the general
// rule gives them, bit for bit: unchanged, except that a -0 component whose
// row sums +0 with another component's zero product becomes +0.
TEST(BakedDirections, MovedMeshKeepsNormalsAndTangentsBitForBit) {
    struct Row {
        std::array<float, 3> in, out;
    };
    const float tiny = std::numeric_limits<float>::denorm_min(), huge = 3e38f;
    std::vector<Row> rows{
        {{0.6f, 0.8f, 0}, {0.6f, 0.8f, 0}},
        {{-0.0f, 1, 0}, {0.0f, 1, 0}},
        {{1, -0.0f, 0}, {1, 0.0f, 0}},
        {{-0.0f, -0.0f, -1}, {-0.0f, -0.0f, -1}},
        {{tiny, 0, 1}, {tiny, 0, 1}},
        {{huge, -huge, 1}, {huge, -huge, 1}},
        {{0, 0, 0}, {0, 0, 0}},
    };
    std::mt19937 random(7);
    std::uniform_real_distribution<float> component(-1.0f, 1.0f);
    for (int k = 0; k < 64; ++k) {
        const std::array<float, 3> d{component(random), component(random), component(random)};
        rows.push_back({d, d});
    }
    std::vector<float> directions;
    for (const Row& r : rows) directions.insert(directions.end(), r.in.begin(), r.in.end());
    Model model;
    const auto mesh = bakedDirections(model, directions, translation(1, 2, 3));
    for (std::uint32_t code : {NORMAL0, TANGENT0}) {
        const std::vector<float>& got = mesh->getVertices().getAttribute(code).data;
        for (std::size_t r = 0; r < rows.size(); ++r)
            for (std::size_t a = 0; a < 3; ++a)
                EXPECT_EQ(std::bit_cast<std::uint32_t>(got[3 * r + a]), std::bit_cast<std::uint32_t>(rows[r].out[a]))
                    << "attribute " << code << " row " << r << " component " << a;
    }
    EXPECT_EQ(mesh->getVertices().getAttribute(POSITION0).data[0], 1.0f);
}

// A shear keeps the ones of the identity on its diagonal, yet turns
// directions: tangents go by the matrix, normals by its inverse transpose,
// and both keep their lengths.
TEST(BakedDirections, ShearedMeshTurnsNormalsAndTangentsAndKeepsTheirLengths) {
    std::mt19937 random(11);
    std::uniform_real_distribution<float> component(-1.0f, 1.0f);
    std::vector<float> directions(3 * 32);
    for (float& d : directions) d = component(random);
    Matrix44d shear = translation(1, 2, 3);
    shear(0, 1) = 0.5;  // x moves y along
    Model model;
    const auto mesh = bakedDirections(model, directions, shear);
    const std::vector<float>& normals = mesh->getVertices().getAttribute(NORMAL0).data;
    const std::vector<float>& tangents = mesh->getVertices().getAttribute(TANGENT0).data;
    for (std::size_t r = 0; r < directions.size() / 3; ++r) {
        const double x = directions[3 * r], y = directions[3 * r + 1], z = directions[3 * r + 2];
        const double length = std::sqrt(x * x + y * y + z * z);
        const std::array<double, 3> tangent{x, 0.5 * x + y, z}, normal{x - 0.5 * y, y, z};
        for (const auto& [got, want] : {std::pair{&tangents, tangent}, std::pair{&normals, normal}}) {
            const double scale = length / std::sqrt(want[0] * want[0] + want[1] * want[1] + want[2] * want[2]);
            for (std::size_t a = 0; a < 3; ++a)
                EXPECT_NEAR((*got)[3 * r + a], want[a] * scale, 1e-6 * length) << "row " << r << " component " << a;
        }
    }
}

TEST(OptimizeTransformations, TransformMovesBelowVisibilityNodeIntoGeometry) {
    Model model;
    // A quarter turn about z (x goes to y), then a shift.
    auto t = transform("T", quarterTurn(0, 1, 1, translation(10, 20, 30)));
    auto vis = make<ArgVisibilityNode>("model::ArgVisibilityNode", "vis");
    vis->setEntries({{4, {{0.0, 0.5}}}});
    model.top->addChild(t);
    t->addChild(vis);
    auto r = mesh(model, vis);
    optimizeTransformations(*model.root);
    EXPECT_EQ(treeOf(model), "root(vis)");
    EXPECT_EQ(r->getParent(0), vis);
    EXPECT_EQ(positionsOf(*r), (std::vector<float>{10, 21, 30, 9, 20, 30, 10, 20, 31}));
    EXPECT_EQ(t->getName(), "_DELETED_");
}

// The mesh takes the matrix and leaves; the connector can't, so T keeps its
// matrix, its child keeps its own, and geometry below T is baked all the way.
TEST(OptimizeTransformations, RefusedGeometryKeepsTransformAndItsChildren) {
    Model model;
    auto t = transform("T", translation(3, 0, 0));
    auto inner = transform("inner", translation(0, 1, 0));
    auto innerMost = transform("innerMost", translation(0, 0, 1));
    auto bone = make<Bone>("model::Bone", "bone");
    model.top->addChild(t);
    t->addChild(inner);
    inner->addChild(bone);
    t->addChild(innerMost);
    auto connector = under<Connector>(t, "model::Connector", "");
    model.root->addConnector(connector);
    auto r = mesh(model, t);
    auto deep = mesh(model, innerMost);
    mesh(model, bone);

    optimizeTransformations(*model.root);
    EXPECT_EQ(treeOf(model), "root(T(inner(bone)))");
    EXPECT_EQ(connector->getParent(0), t);
    EXPECT_EQ(r->getParent(0), model.top);
    EXPECT_EQ(positionsOf(*r), (std::vector<float>{4, 0, 0, 3, 1, 0, 3, 0, 1}));
    EXPECT_EQ(deep->getParent(0), model.top);
    EXPECT_EQ(positionsOf(*deep), (std::vector<float>{4, 0, 1, 3, 1, 1, 3, 0, 2}));
    EXPECT_TRUE((t->getMatrix() * translation(-3, 0, 0)).isIdentity());
    EXPECT_TRUE((inner->getMatrix() * translation(0, -1, 0)).isIdentity());
}

TEST(OptimizeTransformations, RenderNodeListedTwiceIsBakedOnce) {
    Model model;
    auto t = transform("T", translation(0, 0, 1));
    model.top->addChild(t);
    auto r = mesh(model, t);
    model.root->addRenderNode(r);
    optimizeTransformations(*model.root);
    EXPECT_EQ(positionsOf(*r), (std::vector<float>{1, 0, 1, 0, 1, 1, 0, 0, 2}));
}

// The pass decides on the tree first and bakes the geometry after, nodes on
// the workers. A node of two parents whose positions all belong to both
// takes the quarter turn of T1 and then T2's matrix (T1's merged into it),
// in that order: the other order puts the corner elsewhere. Sixty-four
// nodes under transforms of their own are each baked, once.
TEST(OptimizeTransformations, BakesOfOneNodeKeepTheirOrderAndEveryNodeIsBakedOnWorkers) {
    qz::ThreadPool pool("OptimizeTest", 2, qz::ThreadInfo{});
    for (const utils::Workers& workers : {utils::Workers(), utils::Workers(pool)}) {
        Model model;
        auto t1 = transform("T1", quarterTurn(0, 1));
        auto t2 = transform("T2", translation(10, 0, 0));
        model.top->addChild(t1);
        t1->addChild(t2);
        auto twice = mesh(model, t1);
        twice->addParentEntry(t2);
        std::vector<Ptr<RenderNode>> singles;
        for (int k = 0; k < 64; ++k) {
            auto t = transform("t" + std::to_string(k), translation(0, 0, 100.0 * (k + 1)));
            model.top->addChild(t);
            singles.push_back(mesh(model, t));
        }
        optimizeTransformations(*model.root, workers);

        auto expected = mesh(Model(), model.top);
        expected->transformGeometry(0, quarterTurn(0, 1));
        expected->transformGeometry(0, t2->getMatrix());
        EXPECT_EQ(positionsOf(*twice), positionsOf(*expected));
        EXPECT_EQ(positionsOf(*twice)[0], -1.0f);  // (1,0,0): turned, moved by 10, turned again
        for (int k = 0; k < 64; ++k) {
            const float z = 100.0f * float(k + 1);
            EXPECT_EQ(positionsOf(*singles[std::size_t(k)]), (std::vector<float>{1, 0, z, 0, 1, z, 0, 0, z + 1})) << k;
        }
    }
}

TEST(OptimizeTransformations, EmptyTopNodeIsReplacedAndModelTopChanges) {
    Model model;
    auto topTransform = transform("top", Matrix44d());
    model.root->setTopNode(topTransform);
    auto r = mesh(model, topTransform);
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
    EXPECT_EQ(optimizeTransformations(*make<RootNode>("model::RootNode")), 0u);
}
