// Render-node merging: what may be merged, what the merged node holds, and
// the fake light sets.

#include <gtest/gtest.h>

#include <functional>

#include "ClassRegistry.h"
#include "StaticProperty.h"
#include "VertexPassTestSupport.h"
#include "nodes/ArgVisibilityNode.h"
#include "nodes/FakeOmniLightsNode.h"
#include "nodes/FakeSpotLightsNode.h"
#include "nodes/LodNode.h"
#include "nodes/NumberNode.h"
#include "nodes/TransformNode.h"
#include "qz/ExtException.h"
#include "utils/MergeEqualMaterials.h"
#include "utils/MergeRenderNodes.h"

using namespace model;
using namespace vertexpasstest;

namespace {

struct Scene {
    Ptr<Node> top = make<Node>("model::Node", "root");
    Ptr<RootNode> root = writer10test::rootWithTop(top);

    Ptr<Node> child(const Ptr<Node>& parent, const char* cls, const std::string& name) {
        Ptr<Node> n = ClassRegistry::make<Node>(cls);
        n->setName(name);
        parent->addChild(n);
        return n;
    }
};

// A triangle at height z under parent, vertices (x, y, z, w = 0).
Ptr<RenderNode> triangle(const std::string& name, const Ptr<Node>& parent, const Ptr<BaseMaterial>& m, float z) {
    return meshNode(name, parent, m, points({0, 0, z, 1, 0, z, 0, 1, z}), indexList({0, 1, 2}));
}

Ptr<PropertiesSet> plainMaterial() { return materialFor(points({0, 0, 0})); }

std::vector<std::string> names(const RootNode& root) {
    std::vector<std::string> out;
    for (const auto& n : root.getRenderNodes()) out.push_back(n ? n->getName() : "(null)");
    return out;
}

FakeOmniLight omniAt(double x) {
    FakeOmniLight l;
    l.position = {x, 0.0, 0.0};
    l.size = 1.0f;
    return l;
}

}  // namespace

TEST(MergeRenderNodes, MeshesUnderTwoParentsGetAnEntryEachAndTheFourthComponentSaysWhich) {
    Scene s;
    auto left = s.child(s.top, "model::TransformNode", "left");
    auto right = s.child(s.top, "model::TransformNode", "right");
    auto m = plainMaterial();
    auto a = triangle("a", left, m, 1);
    a->setDamageArgument(0, 7);
    s.root->addRenderNode(a);
    s.root->addRenderNode(triangle("b", right, m, 2));
    s.root->addRenderNode(triangle("c", left, m, 3));  // the same entry as a's, damage aside
    auto d = triangle("d", left, m, 4);
    d->setDamageArgument(0, 7);
    s.root->addRenderNode(d);
    utils::mergeRenderNodes(*s.root);
    ASSERT_EQ(s.root->getRenderNodes().size(), 1u);
    const auto& merged = dynamic_cast<const RenderNode&>(*s.root->getRenderNodes()[0]);
    ASSERT_EQ(merged.getNumParents(), 3u);
    EXPECT_EQ(merged.getParent(0), left);
    EXPECT_EQ(merged.getDamageArgument(0), 7u);
    EXPECT_EQ(merged.getParent(1), right);
    EXPECT_EQ(merged.getParent(2), left);
    EXPECT_EQ(merged.getDamageArgument(2), kNoArgument);
    std::vector<float> w;
    const auto pos = attributeData(merged.getVertices(), POSITION0);
    for (std::size_t i = 3; i < pos.size(); i += 4) w.push_back(pos[i]);
    EXPECT_EQ(w, (std::vector<float>{0, 0, 0, 1, 1, 1, 2, 2, 2, 0, 0, 0}));
    // Each entry's box is that of its own vertices.
    EXPECT_EQ(merged.getParentBox(1).minimum[2], 2.0f);
    EXPECT_EQ(merged.getParentBox(0).maximum[2], 4.0f);
}

TEST(MergeRenderNodes, NodesThatMustStayApartAreNotMerged) {
    struct Case {
        const char* what;
        std::function<void(Scene&, Ptr<RenderNode>&, Ptr<RenderNode>&)> spoil;
        utils::MergeRefusal reason;
    };
    const std::vector<Case> cases = {
        {"glass", [](Scene&, Ptr<RenderNode>& a, Ptr<RenderNode>&) { a->getMaterial()->setBlending(1); },
         utils::MergeRefusal::Blending},
        {"other material",
         [](Scene&, Ptr<RenderNode>& a, Ptr<RenderNode>&) {
             auto m = plainMaterial();
             m->setName("other");
             a->setMaterial(m);
         },
         utils::MergeRefusal::Material},
        {"properties",
         [](Scene&, Ptr<RenderNode>& a, Ptr<RenderNode>&) {
             auto p = ClassRegistry::make<IProperty>("model::Property<float>");
             a->addProperty(p);
         },
         utils::MergeRefusal::Properties},
        {"kinds", [](Scene&, Ptr<RenderNode>& a, Ptr<RenderNode>&) { a->getIndices().primitiveKind = 1; },
         utils::MergeRefusal::PrimitiveKind},
        {"strips",
         [](Scene&, Ptr<RenderNode>& a, Ptr<RenderNode>& b) {
             a->getIndices().primitiveKind = 6;
             b->getIndices().primitiveKind = 6;
         },
         utils::MergeRefusal::PrimitiveKind},
        {"two parents", [](Scene& s, Ptr<RenderNode>& a, Ptr<RenderNode>&) { a->addParentEntry(s.top); },
         utils::MergeRefusal::ParentCount},
        {"lod",
         [](Scene& s, Ptr<RenderNode>& a, Ptr<RenderNode>& b) {
             auto lod = s.child(s.top, "model::LodNode", "lod");
             a->setParent(0, s.child(lod, "model::Node", "near"));
             b->setParent(0, s.child(lod, "model::Node", "far"));
         },
         utils::MergeRefusal::Parents},
        {"visibility",
         [](Scene& s, Ptr<RenderNode>& a, Ptr<RenderNode>&) {
             auto vis = s.child(s.top, "model::ArgVisibilityNode", "vis");
             a->setParent(0, s.child(vis, "model::Node", "shown"));
         },
         utils::MergeRefusal::Parents},
        {"no parent", [](Scene&, Ptr<RenderNode>& a, Ptr<RenderNode>&) { a->setParent(0, {}); },
         utils::MergeRefusal::Parents},
        {"index past vertices", [](Scene&, Ptr<RenderNode>& a, Ptr<RenderNode>&) { a->getIndices().indices[2] = 3; },
         utils::MergeRefusal::Geometry},
        {"three-component positions under two parents",
         [](Scene& s, Ptr<RenderNode>& a, Ptr<RenderNode>& b) {
             for (Ptr<RenderNode>* n : {&a, &b}) {
                 Vertices v;
                 v.setAttribute(POSITION0, 3, {0, 0, 0, 1, 0, 0, 0, 1, 0});
                 (*n)->replaceGeometry(v, indexList({0, 1, 2}));
             }
             b->setParent(0, s.child(s.top, "model::Node", "elsewhere"));
         },
         utils::MergeRefusal::Geometry},
    };
    for (const Case& c : cases) {
        Scene s;
        auto m = plainMaterial();
        auto a = triangle("a", s.top, m, 1);
        auto b = triangle("b", s.top, m, 2);
        c.spoil(s, a, b);
        EXPECT_EQ(utils::canMergeRenderNodes(*b, *a), c.reason) << c.what;
        s.root->addRenderNode(a);
        s.root->addRenderNode(b);
        utils::mergeRenderNodes(*s.root);
        EXPECT_EQ(names(*s.root), (std::vector<std::string>{"a", "b"})) << c.what;
    }
}

TEST(MergeRenderNodes, ThreeComponentPositionsMergeUnderOneEntry) {
    Scene s;
    Vertices v;
    v.setAttribute(POSITION0, 3, {0, 0, 0, 1, 0, 0, 0, 1, 0});
    auto m = materialFor(v);
    s.root->addRenderNode(meshNode("a", s.top, m, v, indexList({0, 1, 2})));
    s.root->addRenderNode(meshNode("b", s.top, m, v, indexList({2, 1, 0})));
    utils::mergeRenderNodes(*s.root);
    ASSERT_EQ(s.root->getRenderNodes().size(), 1u);
    const auto& merged = dynamic_cast<const RenderNode&>(*s.root->getRenderNodes()[0]);
    EXPECT_EQ(merged.getIndices().indices, (std::vector<std::uint32_t>{0, 1, 2, 5, 4, 3}));
}

TEST(MergeRenderNodes, GroupsFormInListOrderAndTakeTheFirstMembersPlace) {
    Scene s;
    auto m1 = plainMaterial();
    auto m2 = plainMaterial();
    m2->setName("second");
    auto number = make<NumberNode>("model::NumberNode", "number");
    number->setParent(0, s.top);
    number->setMaterial(m1);
    number->replaceGeometry(points({0, 0, 0, 1, 0, 0, 0, 1, 0}), indexList({0, 1, 2}));
    s.root->addRenderNode(triangle("x1", s.top, m2, 0));
    s.root->addRenderNode(triangle("a1", s.top, m1, 0));
    s.root->addRenderNode(number);
    s.root->addRenderNode(triangle("x2", s.top, m2, 0));
    s.root->addRenderNode(triangle("a2", s.top, m1, 0));
    const auto stats = utils::mergeRenderNodes(*s.root);
    EXPECT_EQ(stats.mergedRenderGroups, 2u);
    // Number nodes keep their per-parent controls, so they stay as they are.
    EXPECT_EQ(names(*s.root), (std::vector<std::string>{"x1", "a1", "number"}));
    EXPECT_EQ(s.root->getRenderNodes()[2], number);
}

TEST(MergeRenderNodes, MeshesWithIndicesPastTheirVerticesStayAloneWhereverTheyStandInTheList) {
    Scene s;
    auto m = plainMaterial();
    // A node of another kind in front, so that list positions and the
    // positions among meshes differ.
    auto number = make<NumberNode>("model::NumberNode", "number");
    number->setParent(0, s.top);
    number->setMaterial(m);
    number->replaceGeometry(points({0, 0, 0, 1, 0, 0, 0, 1, 0}), indexList({0, 1, 2}));
    s.root->addRenderNode(number);
    for (const char* name : {"bad1", "a", "bad2", "c", "e"}) {
        auto t = triangle(name, s.top, m, 0);
        if (name[0] == 'b') t->getIndices().indices[1] = 7;
        s.root->addRenderNode(t);
    }
    const auto stats = utils::mergeRenderNodes(*s.root);
    EXPECT_EQ(stats.mergedRenderGroups, 1u);
    EXPECT_EQ(names(*s.root), (std::vector<std::string>{"number", "bad1", "a", "bad2"}));
    const auto& merged = dynamic_cast<const RenderNode&>(*s.root->getRenderNodes()[2]);
    EXPECT_EQ(merged.getIndices().indices, (std::vector<std::uint32_t>{0, 1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(dynamic_cast<const RenderNode&>(*s.root->getRenderNodes()[3]).getIndices().indices,
              (std::vector<std::uint32_t>{0, 7, 2}));
}

TEST(MergeRenderNodes, MeshesMergeAcrossTheListWithinOneVisibilityScopeOnly) {
    Scene s;
    auto m = plainMaterial();
    auto vis1 = s.child(s.top, "model::ArgVisibilityNode", "vis1");
    auto n1 = s.child(vis1, "model::Node", "n1");
    auto n2 = s.child(vis1, "model::TransformNode", "n2");
    auto vis2 = s.child(s.top, "model::ArgVisibilityNode", "vis2");
    auto n3 = s.child(vis2, "model::Node", "n3");
    auto n4 = s.child(s.top, "model::Node", "n4");
    // Interleaved so that every node meets groups it must not join first.
    for (const auto& [name, parent] : std::vector<std::pair<std::string, Ptr<Node>>>{
             {"t1", n1}, {"t2", n3}, {"t3", n4}, {"t4", n2}, {"t5", s.top}, {"t6", vis2}})
        s.root->addRenderNode(triangle(name, parent, m, 0));
    const auto stats = utils::mergeRenderNodes(*s.root);
    EXPECT_EQ(stats.mergedRenderGroups, 3u);
    EXPECT_EQ(names(*s.root), (std::vector<std::string>{"t1", "t2", "t3"}));
    std::vector<const Node*> parents;
    for (const auto& n : s.root->getRenderNodes())
        for (std::size_t i = 0; i < n->getNumParents(); ++i) parents.push_back(n->getParent(i).get());
    EXPECT_EQ(parents, (std::vector<const Node*>{n1.get(), n2.get(), n3.get(), vis2.get(), n4.get(), s.top.get()}));
}

TEST(MergeEqualMaterials, EqualContentSharesTheFirstObjectAndOtherNamesOrBlendingsStayApart) {
    Scene s;
    auto a = plainMaterial();
    a->setName("a");
    auto b = plainMaterial();
    b->setName("b");
    auto a2 = plainMaterial();
    a2->setName("a");
    auto b2 = plainMaterial();
    b2->setName("b");
    auto glassA = plainMaterial();
    glassA->setName("a");
    glassA->setBlending(1);
    const std::vector<Ptr<PropertiesSet>> held{a, b, a2, glassA, b2};
    std::vector<Ptr<RenderNode>> nodes;
    for (std::size_t i = 0; i < held.size(); ++i) {
        nodes.push_back(triangle("t" + std::to_string(i), s.top, held[i], float(i)));
        s.root->addRenderNode(nodes.back());
    }
    EXPECT_TRUE(utils::mergeEqualMaterials(*s.root));
    const std::vector<Ptr<BaseMaterial>> expected{a, b, a, glassA, b};
    for (std::size_t i = 0; i < nodes.size(); ++i) EXPECT_EQ(nodes[i]->getMaterial(), expected[i]) << i;
    EXPECT_FALSE(utils::mergeEqualMaterials(*s.root));
}

TEST(MergeRenderNodes, EmptyNodesGoFirstButLightSetsOnlyWithoutLights) {
    Scene s;
    auto m = plainMaterial();
    auto empty = triangle("empty", s.top, m, 0);
    empty->getIndices().indices = {0, 1};
    auto points3 = triangle("pointsKind3", s.top, m, 0);
    points3->getIndices().primitiveKind = 3;
    auto dark = make<FakeOmniLightsNode>("model::FakeOmniLightsNode", "dark");
    auto lit = make<FakeOmniLightsNode>("model::FakeOmniLightsNode", "lit");
    lit->setLights({omniAt(1)});
    lit->setMaterial(m);
    lit->setParent(0, s.top);
    auto spotDark = make<FakeSpotLightsNode>("model::FakeSpotLightsNode", "spotDark");
    for (const Ptr<BaseRenderNode>& n : std::vector<Ptr<BaseRenderNode>>{empty, points3, dark, lit, spotDark})
        s.root->addRenderNode(n);
    const auto stats = utils::mergeRenderNodes(*s.root);
    EXPECT_EQ(stats.removedEmpty, 4u);
    EXPECT_EQ(names(*s.root), (std::vector<std::string>{"lit"}));
}

TEST(MergeRenderNodes, NodesWithEqualMaterialsShareOneEvenWhenTheyCannotMerge) {
    Scene s;
    auto m = plainMaterial();
    auto vis = s.child(s.top, "model::ArgVisibilityNode", "vis");
    auto a = triangle("a", s.top, m, 0);
    auto b = triangle("b", vis, m->copySet(), 0);  // can't merge: b hides on its own
    s.root->addRenderNode(a);
    s.root->addRenderNode(b);
    ASSERT_NE(a->getMaterial(), b->getMaterial());
    utils::mergeRenderNodes(*s.root);
    EXPECT_EQ(a->getMaterial(), b->getMaterial());
    EXPECT_EQ(names(*s.root), (std::vector<std::string>{"a", "b"}));
}

TEST(MergeRenderNodes, MeshWithoutMaterialFails) {
    Scene s;
    s.root->addRenderNode(triangle("bare", s.top, {}, 0));
    try {
        utils::mergeRenderNodes(*s.root);
        FAIL() << "no exception";
    } catch (const qz::ExtException& e) {
        EXPECT_STREQ(e.what(), "Material of render node isn't set.");
    }
}

TEST(MergeRenderNodes, OmniSetsMergeWithParentsRewritten) {
    Scene s;
    auto left = s.child(s.top, "model::Node", "left");
    auto right = s.child(s.top, "model::Node", "right");
    auto m = plainMaterial();
    auto makeSet = [&](const std::string& name, const Ptr<Node>& parent, std::vector<FakeOmniLight> lights) {
        auto set = make<FakeOmniLightsNode>("model::FakeOmniLightsNode", name);
        set->setParent(0, parent);
        set->setMaterial(m);
        set->setLights(std::move(lights));
        s.root->addRenderNode(set);
        return set;
    };
    makeSet("one", left, {omniAt(1), omniAt(2)});
    makeSet("two", right, {omniAt(3)});
    makeSet("three", left, {omniAt(4)});
    auto animated = make<AnimatedFakeOmniLightsNode>("model::AnimatedFakeOmniLightsNode", "animated");
    animated->setParent(0, left);
    animated->setMaterial(m);
    animated->setLights({omniAt(5)});
    s.root->addRenderNode(animated);

    const auto stats = utils::mergeRenderNodes(*s.root);
    EXPECT_EQ(stats.mergedLightGroups, 1u);
    EXPECT_EQ(names(*s.root), (std::vector<std::string>{"one", "animated"}));
    const auto& merged = dynamic_cast<const FakeOmniLightsNode&>(*s.root->getRenderNodes()[0]);
    EXPECT_EQ(merged.getType(), NodeType::FakeOmniLightsNode);
    EXPECT_EQ(merged.getParents(), (std::vector<Ptr<Node>>{left, right}));
    std::vector<std::pair<double, std::uint32_t>> lights;
    for (const auto& l : merged.getLights()) lights.emplace_back(l.position[0], l.parentIndex);
    EXPECT_EQ(lights, (std::vector<std::pair<double, std::uint32_t>>{{1, 0}, {2, 0}, {3, 1}, {4, 0}}));
    EXPECT_EQ(merged.getMaterial(), m);
}

TEST(MergeRenderNodes, SpotSetsKeepEveryDirectionAndTheFirstVersion) {
    Scene s;
    auto m = plainMaterial();
    auto makeSet = [&](const std::string& name, osg::Vec3f direction, double x) {
        auto set = make<FakeSpotLightsNode>("model::FakeSpotLightsNode", name);
        set->setParent(0, s.top);
        set->setDirection(0, direction);
        set->setMaterial(m);
        FakeSpotLight l;
        l.position = {x, 0.0, 0.0};
        set->setLights({l});
        s.root->addRenderNode(set);
        return set;
    };
    makeSet("up", {0, 0, 1}, 1);
    makeSet("down", {0, 0, -1}, 2);
    makeSet("up again", {0, 0, 1}, 3);
    utils::mergeRenderNodes(*s.root);
    ASSERT_EQ(s.root->getRenderNodes().size(), 1u);
    const auto& merged = dynamic_cast<const FakeSpotLightsNode&>(*s.root->getRenderNodes()[0]);
    EXPECT_EQ(merged.getVersion(), 1u);
    ASSERT_EQ(merged.getNumParents(), 2u);
    EXPECT_EQ(merged.getDirection(0), osg::Vec3f(0, 0, 1));
    EXPECT_EQ(merged.getDirection(1), osg::Vec3f(0, 0, -1));
    std::vector<std::uint32_t> parents;
    for (const auto& l : merged.getLights()) parents.push_back(l.parentIndex);
    EXPECT_EQ(parents, (std::vector<std::uint32_t>{0, 1, 0}));
}

TEST(MergeRenderNodes, ParentTest) {
    Scene s;
    auto a = s.child(s.top, "model::TransformNode", "a");
    auto a1 = s.child(a, "model::Node", "a1");
    auto vis = s.child(s.top, "model::ArgVisibilityNode", "vis");
    auto v1 = s.child(vis, "model::Node", "v1");
    auto v2 = s.child(vis, "model::Node", "v2");
    auto lod = s.child(s.top, "model::LodNode", "lod");
    auto l1 = s.child(lod, "model::Node", "l1");
    auto deep = s.child(l1, "model::Node", "deep");
    auto stray = make<Node>("model::Node", "stray");
    struct Case {
        Ptr<Node> x, y;
        bool ok;
    };
    for (const Case& c : std::vector<Case>{{a, a1, true},
                                           {a1, s.top, true},
                                           {v1, v2, true},     // the visibility node is shared
                                           {v1, a, false},     // only one side hides
                                           {vis, a, false},    // a parent that is itself a visibility node
                                           {l1, deep, true},   // meet below the LOD node
                                           {l1, l1, true},
                                           {lod, lod, false},  // meet at the LOD node
                                           {l1, a, true},
                                           {stray, a, false},
                                           {nullptr, a, false}})
        EXPECT_EQ(utils::parentsCanShareNode(c.x.get(), c.y.get()), c.ok)
            << (c.x ? c.x->getName() : "null") << " / " << c.y->getName();
}
