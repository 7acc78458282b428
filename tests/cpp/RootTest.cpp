// The root node: argument counting and boxes. Its save frame is held to the
// saved files by the module's tests of failing saves.

#include <cmath>

#include "AnimatedProperty.h"
#include "ModelTestSupport.h"
#include "StaticProperty.h"

using namespace model;
using namespace modeltest;

// Each source below uses its own argument (1 to 12) and argument 100; a
// count that misses a source, or counts 100 more than once, is wrong.
TEST(RootNodeHandles, CountsEverySourceOnce) {
    Model model;
    auto anim = make<ArgAnimationNode>("model::ArgAnimationNode");
    anim->setPositionAnimations({PositionAnimation{1, {}}, PositionAnimation{100, {}}});
    anim->setRotationAnimations({RotationAnimation{11, {}}});
    anim->setScaleAnimations({ScaleAnimation{12, {}, {}}});
    auto vis = make<ArgVisibilityNode>("model::ArgVisibilityNode");
    vis->setEntries({VisibilityEntry{2, {}}, VisibilityEntry{100, {}}});
    model.top->addChild(anim);
    anim->addChild(vis);
    auto render = make<RenderNode>("model::RenderNode");
    render->setDamageArgument(0, 3);
    auto material = Ptr<PropertiesSet>(new PropertiesSet());
    material->addUniform(property<AnimatedFloatProperty>("", 4u));
    render->setMaterial(material);
    model.root->addRenderNode(render);
    auto number = make<NumberNode>("model::NumberNode");
    number->addControlEntry({NumberControl{5, 0, -1, 0}, NumberControl{100, 0, 6, 0}});
    model.root->addRenderNode(number);
    auto lights = make<AnimatedFakeOmniLightsNode>("model::AnimatedFakeOmniLightsNode");
    lights->setArgument(7);
    model.root->addRenderNode(lights);
    auto light = make<LightNode>("model::LightNode");
    light->setBrightness(property<AnimatedFloatProperty>("", 8u));
    model.root->addLight(light);
    auto connector = make<Connector>("model::Connector");
    connector->addProperty(property<ArgumentProperty>("", 9u));
    model.root->addConnector(connector);
    auto skin = make<SkinNode>("model::SkinNode");
    skin->setDamageArgument(10);
    model.root->addRenderNode(skin);

    EXPECT_EQ(model.root->collectArguments(), (ArgumentSet{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 100}));
    EXPECT_EQ(model.root->calcNumHandles(), 13u);
}

// Parent 0 sits under a moved transform and an animation evaluated with
// every argument at 0, half way between its keys; parent 1 sits far away.
// Each entry's vertices are placed by their own parent, and an entry that
// holds none must not stretch the box.
TEST(RootNodeBoxes, ParentBoxesAreMovedAndEmptyOnesIgnored) {
    const struct {
        float secondEntry;  // the parent-entry index of the second vertex
        BoundingBox expected;
    } cases[] = {{0, box(10, 0, 0, 11, 2, 3)}, {1, box(10, 0, 0, 1001, 1002, 1003)}};
    for (const auto& c : cases) {
        Model model;
        auto moved = transform("moved", translation(10, 0, 0));
        auto anim = make<ArgAnimationNode>("model::ArgAnimationNode");
        anim->setPositionAnimations({PositionAnimation{3, {{-1, {0, 0, -4}}, {1, {0, 0, 4}}}}});
        auto far = transform("far", translation(1000, 1000, 1000));
        model.top->addChild(moved);
        moved->addChild(anim);
        model.top->addChild(far);
        auto render = under<RenderNode>(anim, "model::RenderNode", "");
        render->addParentEntry(far);
        render->replaceGeometry(positions4({0, 0, 0, 0, 1, 2, 3, c.secondEntry}), Indices());
        model.root->addRenderNode(render);
        model.root->calcBoundingBox();
        EXPECT_EQ(model.root->getBoundingBox(), c.expected) << c.secondEntry;
    }
}

// A two-sided triangle list gets a turned copy of every vertex, both
// normals reversed and everything else kept, and every triangle again with
// the opposite winding; once only, and only for two-sided triangle lists.
TEST(RootNodeBackFaces, TwoSidedTriangleListsGetTurnedCopiesOnce) {
    Model model;
    Vertices v = points({0, 0, 0, 1, 0, 0, 0, 1, 0});
    v.setAttribute(NORMAL0, 3, {0, 0, 1, 0, 0, 1, 0, 0, 1});
    v.setAttribute(NORMAL1, 3, {1, 0, 0, 0, 1, 0, 0, 0, 1});
    v.setAttribute(TEXCOORD0, 2, {0, 0, 1, 0, 0, 1});
    auto twoSided = materialFor(v, "twoSided");
    twoSided->setCulling(0);
    auto mesh = meshNode("mesh", model.top, twoSided, v, indexList({0, 1, 2}));
    auto lines = meshNode("lines", model.top, twoSided, v, indexList({0, 1, 1, 2}, primitive_kind::kLineList));
    auto culled = meshNode("culled", model.top, materialFor(v, "culled"), v, indexList({0, 1, 2}));
    for (const auto& n : {mesh, lines, culled}) model.root->addRenderNode(n);
    model.root->prepareMeshes();
    model.root->prepareMeshes();
    const Vertices& got = mesh->getVertices();
    const auto doubled = [&](std::uint32_t code, float sign) {
        std::vector<float> d = v.getAttribute(code).data;
        for (float x : v.getAttribute(code).data) d.push_back(sign * x);
        return d;
    };
    EXPECT_EQ(got.getAttribute(POSITION0).data, doubled(POSITION0, 1));
    EXPECT_EQ(got.getAttribute(NORMAL0).data, doubled(NORMAL0, -1));
    EXPECT_EQ(got.getAttribute(NORMAL1).data, doubled(NORMAL1, -1));
    EXPECT_EQ(got.getAttribute(TEXCOORD0).data, doubled(TEXCOORD0, 1));
    EXPECT_EQ(mesh->getIndices().indices, (std::vector<std::uint32_t>{0, 1, 2, 3, 5, 4}));
    EXPECT_TRUE(mesh->hasBackFaces());
    for (const auto& n : {lines, culled}) {
        EXPECT_EQ(n->getVertices().vertexCount(), 3u) << n->getName();
        EXPECT_FALSE(n->hasBackFaces()) << n->getName();
    }
}

// An animation node's base rotation applies first, its keyed rotation after
// it: for row vectors, the base-only matrix times the keyed-only one.
TEST(AnimationNodeRotation, BaseRotationAppliesBeforeTheKeyedOne) {
    const double h = std::sqrt(0.5);
    const Quatd quarterAboutZ{0, 0, h, h}, quarterAboutX{h, 0, 0, h};
    const auto node = [&](bool base, bool keyed) {
        auto n = make<ArgAnimationNode>("model::ArgAnimationNode");
        if (base) n->setBaseRotation(quarterAboutZ);
        n->setRotationAnimations({RotationAnimation{1, {{0.0, keyed ? quarterAboutX : kIdentityQuat}}}});
        return n;
    };
    const DummyArguments rest;
    const Matrix44d both = node(true, true)->evaluateMatrix(rest);
    const Matrix44d expected = node(true, false)->evaluateMatrix(rest) * node(false, true)->evaluateMatrix(rest);
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) EXPECT_NEAR(both(i, j), expected(i, j), 1e-12) << i << "," << j;
}

