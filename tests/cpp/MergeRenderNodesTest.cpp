// Render-node merging: what may be merged and what the merged node holds.

#include "StaticProperty.h"
#include "ModelTestSupport.h"
#include "qz/tasks/ThreadPool.h"
#include "utils/MergeRenderNodes.h"

using namespace model;
using namespace modeltest;

namespace {

struct Scene : Model {
    Ptr<Node> child(const Ptr<Node>& parent, const char* cls, const std::string& name) {
        Ptr<Node> n = make<Node>(cls, name);
        parent->addChild(n);
        return n;
    }
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const auto& n : root->getRenderNodes()) out.push_back(n->getName());
        return out;
    }
    const RenderNode& mesh(std::size_t i) const { return dynamic_cast<const RenderNode&>(*root->getRenderNodes()[i]); }
};

// A triangle at height z under parent, vertices (x, y, z, w = 0).
Ptr<RenderNode> triangle(const std::string& name, const Ptr<Node>& parent, const Ptr<BaseMaterial>& m, float z) {
    return meshNode(name, parent, m, points({0, 0, z, 1, 0, z, 0, 1, z}), indexList({0, 1, 2}));
}

Ptr<PropertiesSet> plainMaterial(const std::string& name = "paint") { return materialFor(points({0, 0, 0}), name); }

struct ApartCase {
    const char* what;
    void (*spoil)(Scene&, RenderNode& a, RenderNode& b);
    utils::MergeRefusal reason;
};

void PrintTo(const ApartCase& c, std::ostream* os) { *os << c.what; }

class MergeRenderNodesApart : public ::testing::TestWithParam<ApartCase> {};

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
    ASSERT_EQ(s.names(), std::vector<std::string>{"a"});
    const RenderNode& merged = s.mesh(0);
    ASSERT_EQ(merged.getNumParents(), 3u);
    EXPECT_EQ(merged.getParent(0), left);
    EXPECT_EQ(merged.getParent(1), right);
    EXPECT_EQ(merged.getParent(2), left);
    EXPECT_EQ(merged.getDamageArgument(0), 7u);
    EXPECT_EQ(merged.getDamageArgument(2), kNoArgument);
    std::vector<float> w;
    const auto& pos = merged.getVertices().getAttribute(POSITION0).data;
    for (std::size_t i = 3; i < pos.size(); i += 4) w.push_back(pos[i]);
    EXPECT_EQ(w, (std::vector<float>{0, 0, 0, 1, 1, 1, 2, 2, 2, 0, 0, 0}));
    // Each entry's box is that of its own vertices.
    EXPECT_EQ(merged.getParentBox(1).minimum[2], 2.0f);
    EXPECT_EQ(merged.getParentBox(0).maximum[2], 4.0f);
}

// Line lists merge as triangle lists do: the second's indices follow the
// first's vertices.
TEST(MergeRenderNodes, LineListsOfOneMaterialMerge) {
    Scene s;
    auto m = plainMaterial();
    for (const char* name : {"a", "b"}) {
        auto n = triangle(name, s.top, m, 1);
        n->getIndices() = indexList({0, 1, 1, 2}, primitive_kind::kLineList);
        s.root->addRenderNode(n);
    }
    utils::mergeRenderNodes(*s.root);
    ASSERT_EQ(s.names(), std::vector<std::string>{"a"});
    EXPECT_EQ(s.mesh(0).getIndices().indices, (std::vector<std::uint32_t>{0, 1, 1, 2, 3, 4, 4, 5}));
}

TEST_P(MergeRenderNodesApart, NodesThatMustStayApartAreNotMerged) {
    Scene s;
    auto m = plainMaterial();
    auto a = triangle("a", s.top, m, 1);
    auto b = triangle("b", s.top, m, 2);
    GetParam().spoil(s, *a, *b);
    EXPECT_EQ(utils::canMergeRenderNodes(*b, *a), GetParam().reason);
    s.root->addRenderNode(a);
    s.root->addRenderNode(b);
    utils::mergeRenderNodes(*s.root);
    EXPECT_EQ(s.names(), (std::vector<std::string>{"a", "b"}));
}

using enum utils::MergeRefusal;
INSTANTIATE_TEST_SUITE_P(
    Cases, MergeRenderNodesApart,
    ::testing::Values(
        ApartCase{"glass", [](Scene&, RenderNode& a, RenderNode&) { a.getMaterial()->setBlending(1); }, Blending},
        ApartCase{"other material", [](Scene&, RenderNode& a, RenderNode&) { a.setMaterial(plainMaterial("o")); }, Material},
        ApartCase{"properties",
                  [](Scene&, RenderNode& a, RenderNode&) { a.addProperty(make<IProperty>("model::Property<float>")); },
                  Properties},
        ApartCase{"one property of two differing",
                  [](Scene&, RenderNode& a, RenderNode& b) {
                      for (RenderNode* n : {&a, &b}) n->addProperty(property<FloatProperty>("same", 1.0f));
                      a.addProperty(property<FloatProperty>("speed", 1.0f));
                      b.addProperty(property<FloatProperty>("speed", 2.0f));
                  },
                  Properties},
        ApartCase{"kinds", [](Scene&, RenderNode& a, RenderNode&) { a.getIndices().primitiveKind = 1; }, PrimitiveKind},
        ApartCase{"strips",
                  [](Scene&, RenderNode& a, RenderNode& b) { a.getIndices().primitiveKind = b.getIndices().primitiveKind = 6; },
                  PrimitiveKind},
        ApartCase{"two parents", [](Scene& s, RenderNode& a, RenderNode&) { a.addParentEntry(s.top); }, ParentCount},
        ApartCase{"lod",
                  [](Scene& s, RenderNode& a, RenderNode& b) {
                      auto lod = s.child(s.top, "model::LodNode", "lod");
                      a.setParent(0, s.child(lod, "model::Node", "near"));
                      b.setParent(0, s.child(lod, "model::Node", "far"));
                  },
                  Parents},
        ApartCase{"visibility",
                  [](Scene& s, RenderNode& a, RenderNode&) {
                      a.setParent(0, s.child(s.child(s.top, "model::ArgVisibilityNode", "vis"), "model::Node", "shown"));
                  },
                  Parents},
        ApartCase{"no parent", [](Scene&, RenderNode& a, RenderNode&) { a.setParent(0, {}); }, Parents},
        ApartCase{"index past vertices", [](Scene&, RenderNode& a, RenderNode&) { a.getIndices().indices[2] = 3; }, Geometry},
        ApartCase{"three-component positions under two parents",
                  [](Scene& s, RenderNode& a, RenderNode& b) {
                      Vertices v;
                      v.setAttribute(POSITION0, 3, {0, 0, 0, 1, 0, 0, 0, 1, 0});
                      for (RenderNode* n : {&a, &b}) n->replaceGeometry(v, indexList({0, 1, 2}));
                      b.setParent(0, s.child(s.top, "model::Node", "elsewhere"));
                  },
                  Geometry}));

TEST(MergeRenderNodes, MeshesWithIndicesPastTheirVerticesStayAloneWhereverTheyStandInTheList) {
    qz::ThreadPool pool("MergeTest", 2, qz::ThreadInfo{});
    for (const utils::Workers& workers : {utils::Workers(), utils::Workers(pool)}) {
        Scene s;
        auto m = plainMaterial();
        // A node of another kind in front, so that list positions and the
        // positions among meshes differ; number nodes keep their per-parent
        // controls, so they stay as they are.
        auto number = under<NumberNode>(s.top, "model::NumberNode", "number");
        number->setMaterial(m);
        number->replaceGeometry(points({0, 0, 0, 1, 0, 0, 0, 1, 0}), indexList({0, 1, 2}));
        s.root->addRenderNode(number);
        for (const char* name : {"bad1", "a", "bad2", "c", "e"}) {
            auto t = triangle(name, s.top, m, 0);
            // Far past the three vertices, and just past them.
            if (name[0] == 'b') t->getIndices().indices[1] = name[3] == '1' ? 7 : 3;
            s.root->addRenderNode(t);
        }
        EXPECT_EQ(utils::mergeRenderNodes(*s.root, workers).mergedRenderGroups, 1u);
        EXPECT_EQ(s.names(), (std::vector<std::string>{"number", "bad1", "a", "bad2"}));
        EXPECT_EQ(s.mesh(2).getIndices().indices, (std::vector<std::uint32_t>{0, 1, 2, 3, 4, 5, 6, 7, 8}));
        EXPECT_EQ(s.mesh(3).getIndices().indices, (std::vector<std::uint32_t>{0, 3, 2}));
    }
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
    EXPECT_EQ(utils::mergeRenderNodes(*s.root).mergedRenderGroups, 3u);
    EXPECT_EQ(s.names(), (std::vector<std::string>{"t1", "t2", "t3"}));
    std::vector<Ptr<Node>> parents;
    for (const auto& n : s.root->getRenderNodes())
        for (std::size_t i = 0; i < n->getNumParents(); ++i) parents.push_back(n->getParent(i));
    EXPECT_EQ(parents, (std::vector<Ptr<Node>>{n1, n2, n3, vis2, n4, s.top}));
}

// Groups merged on workers give the file that one thread gives: members
// under four materials and three parents, a node listed twice, in an order
// that interleaves the groups.
TEST(MergeRenderNodes, GroupsMergedOnWorkersGiveTheFileOfOneThread) {
    const auto build = [] {
        auto s = std::make_unique<Scene>();
        std::vector<Ptr<Node>> parents{s->top, s->child(s->top, "model::TransformNode", "left"),
                                       s->child(s->top, "model::Node", "right")};
        std::vector<Ptr<BaseMaterial>> materials;
        for (int k = 0; k < 4; ++k) materials.push_back(plainMaterial("paint" + std::to_string(k)));
        for (int k = 0; k < 60; ++k)
            s->root->addRenderNode(triangle("t" + std::to_string(k), parents[k % 3], materials[k * 7 % 4], float(k)));
        s->root->addRenderNode(s->root->getRenderNodes()[5]);
        return s;
    };
    const auto one = build();
    const auto spread = build();
    utils::mergeRenderNodes(*one->root);
    qz::ThreadPool pool("MergeTest", 2, qz::ThreadInfo{});
    EXPECT_EQ(utils::mergeRenderNodes(*spread->root, utils::Workers(pool)).mergedRenderGroups, 4u);
    EXPECT_EQ(spread->names(), one->names());
    EXPECT_EQ(writeModel(*spread->root), writeModel(*one->root));
}
