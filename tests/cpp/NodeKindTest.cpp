// Node kinds: registry names and types, per-class hooks, parent lists,
// geometry baking and the per-parent boxes of render nodes.

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "AnimatedProperty.h"
#include "ClassRegistry.h"
#include "INodeVisitor.h"
#include "PropertiesSet.h"
#include "StaticProperty.h"
#include "nodes/ArgAnimatedBone.h"
#include "nodes/ArgAnimationNode.h"
#include "nodes/ArgVisibilityNode.h"
#include "nodes/BillboardNode.h"
#include "nodes/Bone.h"
#include "nodes/Connector.h"
#include "nodes/FakeOmniLightsNode.h"
#include "nodes/FakeSpotLightsNode.h"
#include "nodes/LightNode.h"
#include "nodes/LodNode.h"
#include "nodes/NumberNode.h"
#include "nodes/RenderNode.h"
#include "nodes/RootNode.h"
#include "nodes/SegmentsNode.h"
#include "nodes/ShellNode.h"
#include "nodes/ShellSkinNode.h"
#include "nodes/SkinNode.h"
#include "nodes/TmpNumberRoot.h"

using namespace model;

namespace {

ClassRegistry& registry() { return ClassRegistry::instance(); }


Matrix44d translation(double x, double y, double z) {
    Matrix44d m;
    m(3, 0) = x;
    m(3, 1) = y;
    m(3, 2) = z;
    return m;
}

std::vector<uint32_t> arguments(const Node& node) {
    std::vector<uint32_t> out;
    node.forEachArgument([&out](uint32_t a) { out.push_back(a); });
    return out;
}
std::vector<uint32_t> arguments(const BaseNode& node) {
    std::vector<uint32_t> out;
    node.forEachArgument([&out](uint32_t a) { out.push_back(a); });
    return out;
}

// Records which visit a node's accept reached.
struct SlotRecorder : INodeVisitor {
    std::string hit;
    void visit(const RootNode&) override { hit = "RootNode"; }
    void visit(const Connector&) override { hit = "Connector"; }
    void visit(const LightNode&) override { hit = "LightNode"; }
    void visit(const NumberNode&) override { hit = "NumberNode"; }
    void visit(const SkinNode&) override { hit = "SkinNode"; }
    void visit(const RenderNode&) override { hit = "RenderNode"; }
    void visit(const AnimatedFakeSpotLightsNode&) override { hit = "AnimatedFakeSpotLightsNode"; }
    void visit(const FakeSpotLightsNode&) override { hit = "FakeSpotLightsNode"; }
    void visit(const AnimatedFakeOmniLightsNode&) override { hit = "AnimatedFakeOmniLightsNode"; }
    void visit(const FakeOmniLightsNode&) override { hit = "FakeOmniLightsNode"; }
    void visit(const SegmentsNode&) override { hit = "SegmentsNode"; }
    void visit(const ShellSkinNode&) override { hit = "ShellSkinNode"; }
    void visit(const ShellNode&) override { hit = "ShellNode"; }
    void visit(const LodNode&) override { hit = "LodNode"; }
    void visit(const Bone&) override { hit = "Bone"; }
    void visit(const BillboardNode&) override { hit = "BillboardNode"; }
    void visit(const ArgVisibilityNode&) override { hit = "ArgVisibilityNode"; }
    void visit(const ArgAnimatedBone&) override { hit = "ArgAnimatedBone"; }
    void visit(const ArgAnimationNode&) override { hit = "ArgAnimationNode"; }
    void visit(const TransformNode&) override { hit = "TransformNode"; }
    void visit(const Node&) override { hit = "Node"; }
};

struct NodeClass {
    const char* name;
    NodeType type;
    const char* visit;
};

const NodeClass kNodeClasses[] = {
    {"model::FakeOmniLightsNode", NodeType::FakeOmniLightsNode, "FakeOmniLightsNode"},
    {"model::AnimatedFakeOmniLightsNode", NodeType::AnimatedFakeOmniLightsNode, "AnimatedFakeOmniLightsNode"},
    {"model::AnimatedFakeSpotLightsNode", NodeType::AnimatedFakeSpotLightsNode, "AnimatedFakeSpotLightsNode"},
    {"model::FakeSpotLightsNode", NodeType::FakeSpotLightsNode, "FakeSpotLightsNode"},
    {"model::NumberNode", NodeType::NumberNode, "NumberNode"},
    {"model::RootNode", NodeType::RootNode, "RootNode"},
    {"model::Node", NodeType::Node, "Node"},
    {"model::RenderNode", NodeType::RenderNode, "RenderNode"},
    {"model::LightNode", NodeType::LightNode, "LightNode"},
    {"model::TransformNode", NodeType::TransformNode, "TransformNode"},
    {"model::BillboardNode", NodeType::BillboardNode, "BillboardNode"},
    {"model::SkinNode", NodeType::SkinNode, "SkinNode"},
    {"model::ShellNode", NodeType::ShellNode, "ShellNode"},
    {"model::ShellSkinNode", NodeType::ShellSkinNode, "ShellSkinNode"},
    {"model::SegmentsNode", NodeType::SegmentsNode, "SegmentsNode"},
    {"model::LodNode", NodeType::LodNode, "LodNode"},
    {"model::ArgVisibilityNode", NodeType::ArgVisibilityNode, "ArgVisibilityNode"},
    {"model::ArgAnimationNode", NodeType::ArgAnimationNode, "ArgAnimationNode"},
    {"model::ArgScaleNode", NodeType::ArgAnimationNode, "ArgAnimationNode"},
    {"model::ArgRotationNode", NodeType::ArgAnimationNode, "ArgAnimationNode"},
    {"model::ArgPositionNode", NodeType::ArgAnimationNode, "ArgAnimationNode"},
    {"model::Connector", NodeType::Connector, "Connector"},
    {"model::Bone", NodeType::Bone, "Bone"},
    {"model::ArgAnimatedBone", NodeType::ArgAnimatedBone, "ArgAnimatedBone"},
    {"model::TmpNumberRoot", NodeType::TmpNumberRoot, "Node"},
};

}  // namespace

// A factory left null, or one making the wrong class, would give a null or
// a node answering with another type or visitor slot.
TEST(NodeKindRegistry, EveryNodeNameMakesItsClass) {
    for (const NodeClass& c : kNodeClasses) {
        SCOPED_TRACE(c.name);
        Ptr<INode> node = registry().createAs<INode>(c.name);
        ASSERT_TRUE(node);
        EXPECT_EQ(node->getType(), c.type);
        SlotRecorder recorder;
        node->accept(recorder);
        EXPECT_EQ(recorder.hit, c.visit);
        const INode& constNode = *node;
        recorder.hit.clear();
        constNode.accept(recorder);
        EXPECT_EQ(recorder.hit, c.visit);
    }
}

// A clone made under an alias name, or one that loses the version, would
// write another class or version.
TEST(NodeKindClone, KeepsClassAndVersion) {
    for (const char* name : {"model::RootNode", "model::LightNode", "model::FakeSpotLightsNode",
                             "model::AnimatedFakeSpotLightsNode", "model::RenderNode", "model::Connector"}) {
        SCOPED_TRACE(name);
        auto node = ClassRegistry::make<BaseNode>(name);
        node->setVersion(node->getVersion() + 7);
        auto copy = qz::dynamicPtrCast<BaseNode>(node->clone());
        ASSERT_TRUE(copy);
        EXPECT_EQ(copy->getType(), node->getType());
        EXPECT_EQ(copy->getVersion(), node->getVersion());
    }

    auto scale = ClassRegistry::make<ArgAnimationNode>("model::ArgScaleNode");
    scale->setPositionAnimations({PositionAnimation{4, {PositionKey{0.0, {1, 2, 3}}}}});
    auto scaleCopy = qz::dynamicPtrCast<ArgAnimationNode>(scale->clone());
    ASSERT_TRUE(scaleCopy);
    EXPECT_EQ(scaleCopy->getPositionAnimations(), scale->getPositionAnimations());
}

TEST(NodeKindClone, RenderNodeCopySharesParentsAndMaterial) {
    auto render = ClassRegistry::make<RenderNode>("model::RenderNode");
    auto parent = ClassRegistry::make<Node>("model::Node");
    render->setParent(0, parent);
    render->setMaterial(Ptr<BaseMaterial>(new PropertiesSet()));
    auto copy = qz::dynamicPtrCast<RenderNode>(render->clone());
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->getParent(0), parent);
    EXPECT_EQ(copy->getMaterial(), render->getMaterial());
}

// Bones and billboards must keep their own matrix when a parent transform
// is merged downwards; transforms and animation nodes take it.
TEST(NodeKindOptimizer, MergeTransformOnlyForTransformsAndAnimations) {
    const Matrix44d m = translation(1, 2, 3);
    for (const char* name : {"model::TransformNode", "model::ArgAnimationNode", "model::Bone", "model::ArgAnimatedBone",
                             "model::BillboardNode"}) {
        SCOPED_TRACE(name);
        auto node = ClassRegistry::make<TransformNode>(name);
        node->setMatrix(translation(0, 0, 10));
        node->mergeTransform(m);
        const bool merges = std::string(name) == "model::TransformNode" || std::string(name) == "model::ArgAnimationNode";
        EXPECT_EQ(node->getMatrix(), merges ? translation(1, 2, 13) : translation(0, 0, 10));
    }
}

TEST(NodeKindTakeTransform, TransformHandsOnOrAbsorbs) {
    TransformNode t;
    t.setMatrix(translation(1, 0, 0));
    EXPECT_EQ(t.takeTransform(translation(0, 2, 0), true), translation(1, 2, 0));
    EXPECT_EQ(t.getMatrix(), Matrix44d::identity());

    t.setMatrix(translation(1, 0, 0));
    EXPECT_EQ(t.takeTransform(translation(0, 2, 0), false), Matrix44d::identity());
    EXPECT_EQ(t.getMatrix(), translation(1, 2, 0));

    Node plain;
    EXPECT_EQ(plain.takeTransform(translation(4, 5, 6), true), translation(4, 5, 6));
}

// Animation nodes and bones always absorb, whatever the flag says.
TEST(NodeKindTakeTransform, AnimationAndBoneAlwaysAbsorb) {
    for (bool handOn : {true, false}) {
        ArgAnimationNode a;
        a.setBaseMatrix(translation(1, 0, 0));
        EXPECT_EQ(a.takeTransform(translation(0, 0, 3), handOn), Matrix44d::identity());
        EXPECT_EQ(a.getBaseMatrix(), translation(1, 0, 3));
        Bone b;
        EXPECT_EQ(b.takeTransform(translation(0, 0, 3), handOn), Matrix44d::identity());
        EXPECT_EQ(b.getMatrix(), translation(0, 0, 3));
    }
}

// --- saved types of animation nodes ---------------------------------------

namespace {

// Local to this file: another test file has a case type of the same name.
struct SavedTypeCase {
    bool position, rotation, scale;
    NodeType saved;
};

class NodeKindSavedType : public ::testing::TestWithParam<SavedTypeCase> {};

}  // namespace

TEST_P(NodeKindSavedType, FollowsFilledLists) {
    const SavedTypeCase c = GetParam();
    ArgAnimationNode node;
    if (c.position) node.setPositionAnimations({PositionAnimation{1, {}}});
    if (c.rotation) node.setRotationAnimations({RotationAnimation{2, {}}});
    if (c.scale) node.setScaleAnimations({ScaleAnimation{3, {}, {}}});
    EXPECT_EQ(node.getSavedType(), c.saved);
    EXPECT_EQ(node.getType(), NodeType::ArgAnimationNode);

    ArgAnimatedBone bone;
    if (c.position) bone.setPositionAnimations({PositionAnimation{1, {}}});
    if (c.rotation) bone.setRotationAnimations({RotationAnimation{2, {}}});
    EXPECT_EQ(bone.getSavedType(), NodeType::ArgAnimatedBone);
}

INSTANTIATE_TEST_SUITE_P(AllMixes, NodeKindSavedType,
                         ::testing::Values(SavedTypeCase{false, false, false, NodeType::ArgScaleNode},
                                           SavedTypeCase{false, false, true, NodeType::ArgScaleNode},
                                           SavedTypeCase{false, true, false, NodeType::ArgRotationNode},
                                           SavedTypeCase{false, true, true, NodeType::ArgAnimationNode},
                                           SavedTypeCase{true, true, false, NodeType::ArgAnimationNode},
                                           SavedTypeCase{true, true, true, NodeType::ArgAnimationNode},
                                           SavedTypeCase{true, false, false, NodeType::ArgPositionNode},
                                           SavedTypeCase{true, false, true, NodeType::ArgAnimationNode}));

TEST(NodeKindAnimation, HasNoKeysLooksIntoEveryList) {
    ArgAnimationNode node;
    node.setPositionAnimations({PositionAnimation{1, {}}});
    node.setScaleAnimations({ScaleAnimation{3, {}, {}}});
    EXPECT_TRUE(node.hasNoKeys());
    node.setScaleAnimations({ScaleAnimation{3, {RotationKey{}}, {}}});
    EXPECT_FALSE(node.hasNoKeys());
}

TEST(NodeKindAnimation, ReportsPropertiesThenEveryEntryArgument) {
    ArgAnimationNode node;
    auto prop = ClassRegistry::make<AnimatedFloatProperty>("model::AnimatedProperty<float>");
    prop->setArgument(40);
    node.addProperty(prop);
    node.setPositionAnimations({PositionAnimation{1, {}}, PositionAnimation{2, {}}});
    node.setRotationAnimations({RotationAnimation{3, {}}});
    node.setScaleAnimations({ScaleAnimation{4, {}, {}}});
    EXPECT_EQ(arguments(node), (std::vector<uint32_t>{40, 1, 2, 3, 4}));
}

// --- visibility -----------------------------------------------------------

namespace {
struct FixedArguments : IModelArguments {
    std::map<uint32_t, float> values;
    float getArgument(uint32_t a) const override {
        auto it = values.find(a);
        return it == values.end() ? 0.0f : it->second;
    }
};
}  // namespace

TEST(NodeKindVisibility, RangesIncludeStartAndExcludeEnd) {
    ArgVisibilityNode node;
    // Range ends come from 32-bit inputs, as the argument values do.
    node.setEntries({VisibilityEntry{5, {VisibilityRange{0.0, 0.5}, VisibilityRange{0.7f, 1.0}}}});
    FixedArguments args;
    struct Probe {
        float value;
        bool visible;
    };
    for (Probe p : {Probe{0.7f, true}, Probe{0.5f, false}, Probe{0.0f, true}, Probe{0.6f, false},
                    Probe{1.0f, false}, Probe{-0.1f, false}}) {
        args.values[5] = p.value;
        EXPECT_EQ(node.isVisible(args), p.visible) << p.value;
    }
}

TEST(NodeKindVisibility, EntryWithoutRangesHidesAndHidesChildren) {
    auto vis = ClassRegistry::make<ArgVisibilityNode>("model::ArgVisibilityNode");
    auto child = ClassRegistry::make<TransformNode>("model::TransformNode");
    vis->addChild(child);
    FixedArguments args;
    EXPECT_TRUE(child->isVisible(args));
    vis->setEntries({VisibilityEntry{7, {VisibilityRange{-1.0, 1.0}}}, VisibilityEntry{8, {}}});
    EXPECT_FALSE(vis->isVisible(args));
    EXPECT_FALSE(child->isVisible(args));
    EXPECT_EQ(arguments(*vis), (std::vector<uint32_t>{7, 8}));
}

// --- parents of base nodes ------------------------------------------------

TEST(NodeKindParents, NewNodesAndBadIndices) {
    struct Expect {
        const char* name;
        size_t parents;
    };
    for (Expect e : {Expect{"model::RenderNode", 1}, Expect{"model::NumberNode", 1}, Expect{"model::SkinNode", 0},
                     Expect{"model::Connector", 1}, Expect{"model::LightNode", 1}, Expect{"model::ShellNode", 1},
                     Expect{"model::SegmentsNode", 1}, Expect{"model::ShellSkinNode", 0},
                     Expect{"model::FakeOmniLightsNode", 1}, Expect{"model::FakeSpotLightsNode", 1},
                     Expect{"model::AnimatedFakeOmniLightsNode", 1}, Expect{"model::AnimatedFakeSpotLightsNode", 1},
                     Expect{"model::RootNode", 0}}) {
        SCOPED_TRACE(e.name);
        auto node = ClassRegistry::make<BaseNode>(e.name);
        ASSERT_EQ(node->getNumParents(), e.parents);
        for (size_t i = 0; i < e.parents; ++i) {
            EXPECT_FALSE(node->getParent(i));
            const auto parent = ClassRegistry::make<Node>("model::Node");
            node->setParent(i, parent);
            // The plain view names the same node without a reference of its own.
            const auto count = parent->refCount();
            EXPECT_EQ(node->parentNode(i), parent.get());
            EXPECT_EQ(parent->refCount(), count);
            node->setParent(i, Ptr<Node>());
            EXPECT_EQ(node->parentNode(i), nullptr);
        }
        if (std::string(e.name) == "model::RootNode") continue;
        EXPECT_THROW(node->getParent(e.parents), std::out_of_range);
        EXPECT_THROW(node->parentNode(e.parents), std::out_of_range);
        EXPECT_THROW(node->setParent(e.parents, ClassRegistry::make<Node>("model::Node")), std::out_of_range);
        // Classes that bake nothing (connectors, lights, skinned shells)
        // answer false for any index.
        const NodeType t = node->getType();
        if (t != NodeType::Connector && t != NodeType::LightNode && t != NodeType::ShellSkinNode) {
            EXPECT_THROW(node->transformGeometry(e.parents, Matrix44d()), std::out_of_range);
        }
    }
}

TEST(NodeKindParents, RenderEntryValuesAreCheckedPerIndex) {
    RenderNode r;
    EXPECT_EQ(r.getDamageArgument(0), kNoArgument);
    r.setDamageArgument(0, 12);
    EXPECT_EQ(r.getDamageArgument(0), 12u);
    EXPECT_THROW(r.getDamageArgument(1), std::out_of_range);
    EXPECT_THROW(r.setDamageArgument(1, 3), std::out_of_range);
    EXPECT_THROW(r.getParentBox(1), std::out_of_range);
    EXPECT_EQ(r.addParentEntry(Ptr<Node>(new Node()), 9), 1u);
    EXPECT_EQ(r.getDamageArgument(1), 9u);
}

// --- primitive counts -----------------------------------------------------

namespace {

struct PrimitiveCase {
    uint32_t kind;
    size_t indices;
    size_t primitives;
};

class NodeKindPrimitives : public ::testing::TestWithParam<PrimitiveCase> {};

}  // namespace

TEST_P(NodeKindPrimitives, CountByKind) {
    const PrimitiveCase c = GetParam();
    RenderNode r;
    r.getIndices().primitiveKind = c.kind;
    r.getIndices().indices.assign(c.indices, 0);
    EXPECT_EQ(r.getPrimitiveCount(), c.primitives);
}

// Kinds 2, 6 and 7 with too few indices must not wrap around below zero.
INSTANTIATE_TEST_SUITE_P(AllKinds, NodeKindPrimitives,
                         ::testing::Values(PrimitiveCase{5, 10, 3}, PrimitiveCase{3, 10, 0}, PrimitiveCase{0, 10, 10},
                                           PrimitiveCase{1, 10, 5}, PrimitiveCase{2, 10, 9}, PrimitiveCase{2, 0, 0},
                                           PrimitiveCase{4, 10, 0}, PrimitiveCase{6, 10, 8}, PrimitiveCase{7, 1, 0},
                                           PrimitiveCase{6, 0, 0}, PrimitiveCase{8, 10, 0},
                                           PrimitiveCase{0xFFFFFFFFu, 10, 0}));

// --- geometry of render nodes ---------------------------------------------

namespace {

// Positions with four components: (x, y, z, parent index).
Vertices positions4(const std::vector<float>& rows) {
    Vertices v;
    v.setAttribute(POSITION0, 4, rows);
    return v;
}

Ptr<BaseMaterial> materialFor(const Vertices& v) {
    auto m = Ptr<PropertiesSet>(new PropertiesSet());
    m->getVertexFormat() = v.getFormat();
    return m;
}

BoundingBox box(float a, float b, float c, float d, float e, float f) { return BoundingBox::fromValues(a, b, c, d, e, f); }

}  // namespace

// Boxes that went stale after a change of the vertex data would make the
// bounding box of the model wrong.
TEST(NodeKindRenderBoxes, FollowEveryChangeOfVertexData) {
    RenderNode r;
    r.addParentEntry(Ptr<Node>(new Node()));
    r.addParentEntry(Ptr<Node>(new Node()));
    // Parent indices 0, 1 (0.6 rounds up), 1.4 (rounds down), and 7 (no such entry).
    const Vertices v = positions4({0, 0, 0, 0, 1, 1, 1, 0.0f,  //
                                   5, 5, 5, 0.6f, 6, 7, 8, 1.4f,  //
                                   100, 100, 100, 7});
    r.setMaterial(materialFor(v));
    ASSERT_TRUE(r.setGeometry(v, Indices()));
    EXPECT_EQ(r.getParentBox(0), box(0, 0, 0, 1, 1, 1));
    EXPECT_EQ(r.getParentBox(1), box(5, 5, 5, 6, 7, 8));
    EXPECT_FALSE(r.getParentBox(2).isValid());

    ASSERT_TRUE(r.transformGeometry(1, translation(10, 0, 0)));
    EXPECT_EQ(r.getParentBox(0), box(0, 0, 0, 1, 1, 1));
    EXPECT_EQ(r.getParentBox(1), box(15, 5, 5, 16, 7, 8));

    r.editGeometry([](Vertices& vertices, Indices&) { vertices.getAttribute(POSITION0).data[0] = -3; });
    EXPECT_EQ(r.getParentBox(0), box(-3, 0, 0, 1, 1, 1));

    r.replaceGeometry(positions4({2, 2, 2, 2}), Indices());
    EXPECT_FALSE(r.getParentBox(0).isValid());
    EXPECT_EQ(r.getParentBox(2), box(2, 2, 2, 2, 2, 2));
}

// editAttributes skips the box pass for edits that leave the positions
// alone, but an edit that swaps, resizes or drops the positions' list must
// still refresh the boxes.
TEST(NodeKindRenderBoxes, AttributeEditThatReplacesPositionsStillRefreshesBoxes) {
    RenderNode r;
    r.addParentEntry(Ptr<Node>(new Node()));
    const Vertices v = positions4({0, 0, 0, 0, 1, 1, 1, 0});
    r.setMaterial(materialFor(v));
    ASSERT_TRUE(r.setGeometry(v, Indices()));

    r.editAttributes([](Vertices& vertices, Indices&) { vertices.setAttribute(TEXCOORD0, 2, {0, 0, 1, 1}); });
    EXPECT_EQ(r.getParentBox(0), box(0, 0, 0, 1, 1, 1));

    r.editAttributes([](Vertices& vertices, Indices&) {
        vertices.setAttribute(POSITION0, 4, {4, 4, 4, 0, 5, 6, 7, 0});
    });
    EXPECT_EQ(r.getParentBox(0), box(4, 4, 4, 5, 6, 7));

    r.editAttributes([](Vertices& vertices, Indices&) { vertices.getAttribute(POSITION0).data.resize(4); });
    EXPECT_EQ(r.getParentBox(0), box(4, 4, 4, 4, 4, 4));

    r.editAttributes([](Vertices& vertices, Indices&) { vertices.eraseAttribute(POSITION0); });
    EXPECT_FALSE(r.getParentBox(0).isValid());
}

TEST(NodeKindRenderBoxes, ThreeComponentPositionsBelongToEveryParent) {
    RenderNode r;
    r.addParentEntry(Ptr<Node>(new Node()));
    Vertices v;
    v.setAttribute(POSITION0, 3, {1, 2, 3, -1, 0, 4});
    r.replaceGeometry(v, Indices());
    EXPECT_EQ(r.getParentBox(0), box(-1, 0, 3, 1, 2, 4));
    EXPECT_EQ(r.getParentBox(1), box(-1, 0, 3, 1, 2, 4));
    // A new entry gets its box at once.
    r.addParentEntry(Ptr<Node>());
    EXPECT_EQ(r.getParentBox(2), box(-1, 0, 3, 1, 2, 4));
}

TEST(NodeKindRenderGeometry, SetterRefusesDataNotMatchingTheMaterial) {
    RenderNode r;
    const Vertices v = positions4({0, 0, 0, 0});
    EXPECT_FALSE(r.setGeometry(v, Indices()));  // no material yet
    Vertices other;
    other.setAttribute(POSITION0, 3, {1, 1, 1});
    r.setMaterial(materialFor(other));
    Indices indices;
    indices.indices = {0, 0, 0};
    EXPECT_FALSE(r.setGeometry(v, indices));
    EXPECT_EQ(r.getVertices().vertexCount(), 0u);
    EXPECT_TRUE(r.getIndices().indices.empty());
    EXPECT_TRUE(r.setGeometry(other, indices));
    EXPECT_EQ(r.getIndices().indices.size(), 3u);
}

TEST(NodeKindRenderGeometry, TransformTouchesOnlyTheParentsVerticesAndTurnsNormals) {
    RenderNode r;
    r.addParentEntry(Ptr<Node>());
    Vertices v = positions4({1, 0, 0, 0, 1, 0, 0, 1});
    v.setAttribute(NORMAL0, 3, {1, 0, 0, 1, 0, 0});
    v.setAttribute(TEXCOORD0, 2, {0.25f, 0.5f, 0.25f, 0.5f});
    r.replaceGeometry(v, Indices());
    // x goes to 3y, y to -x, then a move along z: a turn with a stretch.
    Matrix44d m;
    m(0, 0) = 0;
    m(0, 1) = 3;
    m(1, 0) = -1;
    m(1, 1) = 0;
    m(3, 2) = 5;
    ASSERT_TRUE(r.transformGeometry(1, m));
    EXPECT_EQ(r.getVertices().getAttribute(POSITION0).data, (std::vector<float>{1, 0, 0, 0, 0, 3, 5, 1}));
    const auto& n = r.getVertices().getAttribute(NORMAL0).data;
    EXPECT_EQ(n[0], 1);  // vertex 0 belongs to parent 0: untouched
    // The surface x = const turns into y = const: its normal is +y, not the
    // stretched 3y a plain direction transform would give.
    EXPECT_NEAR(n[3], 0, 1e-6);
    EXPECT_NEAR(n[4], 1, 1e-6);
    EXPECT_NEAR(n[5], 0, 1e-6);
    EXPECT_EQ(r.getVertices().getAttribute(TEXCOORD0).data[2], 0.25f);
}

TEST(NodeKindSkins, ControlEntryBakesEveryVertexAndBoneEntriesRefuse) {
    SkinNode skin;
    skin.setNumParents(2);
    // Fourth components holding packed bone indices whose top byte is 64 and
    // 255: as floats they read 2.0 and a large negative number.
    const float top64 = std::bit_cast<float>(0x40030201u);
    const float top255 = std::bit_cast<float>(0xFF030201u);
    skin.replaceGeometry(positions4({0, 0, 0, top64, 1, 2, 3, top255}), Indices());
    skin.setBoundingBox(box(0, 0, 0, 1, 2, 3));

    EXPECT_FALSE(skin.transformGeometry(1, translation(5, 5, 5)));
    EXPECT_EQ(skin.getVertices().getAttribute(POSITION0).data[0], 0.0f);

    ASSERT_TRUE(skin.transformGeometry(0, translation(10, 0, 0)));
    const std::vector<float>& p = skin.getVertices().getAttribute(POSITION0).data;
    EXPECT_EQ(p[0], 10.0f);
    EXPECT_EQ(p[4], 11.0f);
    EXPECT_EQ(std::bit_cast<std::uint32_t>(p[3]), 0x40030201u);
    EXPECT_EQ(std::bit_cast<std::uint32_t>(p[7]), 0xFF030201u);
    EXPECT_EQ(skin.getBoundingBox(), box(10, 0, 0, 11, 2, 3));
    EXPECT_THROW(skin.transformGeometry(2, translation(1, 0, 0)), std::out_of_range);
}

TEST(NodeKindShells, ShellAndSegmentsBakeEveryPoint) {
    ShellNode shell;
    Vertices v;
    v.setAttribute(POSITION0, 3, {1, 2, 3, 4, 5, 6});
    shell.setVertices(v);
    EXPECT_TRUE(shell.isEmpty());
    shell.getIndices().indices = {0, 1, 1};
    EXPECT_FALSE(shell.isEmpty());
    ASSERT_TRUE(shell.transformGeometry(0, translation(1, 1, 1)));
    EXPECT_EQ(shell.getVertices().getAttribute(POSITION0).data, (std::vector<float>{2, 3, 4, 5, 6, 7}));

    SegmentsNode segments;
    EXPECT_TRUE(segments.isEmpty());
    segments.setSegments({Segment{osg::Vec3f(0, 0, 0), osg::Vec3f(1, 2, 3)}});
    ASSERT_TRUE(segments.transformGeometry(0, translation(0, 0, -3)));
    EXPECT_EQ(segments.getSegments()[0].start, osg::Vec3f(0, 0, -3));
    EXPECT_EQ(segments.getSegments()[0].end, osg::Vec3f(1, 2, 0));
}

// --- fake lights ----------------------------------------------------------

TEST(NodeKindFakeLights, TransformMovesOnlyLightsOfThatParent) {
    FakeOmniLightsNode omni;
    omni.setNumParents(2);
    FakeOmniLight a, b;
    a.position = {1, 0, 0};
    b.position = {1, 0, 0};
    b.parentIndex = 1;
    omni.setLights({a, b});
    Matrix44d m = translation(0, 4, 0);
    m(3, 3) = 2;  // the homogeneous coordinate divides the result
    ASSERT_TRUE(omni.transformGeometry(1, m));
    EXPECT_EQ(omni.getLights()[0].position, (std::array<double, 3>{1, 0, 0}));
    EXPECT_EQ(omni.getLights()[1].position, (std::array<double, 3>{0.5, 2, 0}));
    EXPECT_EQ(omni.getParentBox(1), box(0.5f, 2, 0, 0.5f, 2, 0));
}

// A spot direction left in its old parent's space would point the wrong
// way once the transform has been baked into the positions.
TEST(NodeKindFakeLights, SpotDirectionTurnsWithItsParent) {
    FakeSpotLightsNode spot;
    EXPECT_EQ(spot.getVersion(), 1u);
    spot.setDirection(0, osg::Vec3f(0, 0, 2));
    FakeSpotLight light;
    spot.setLights({light});
    Matrix44d quarterTurnAboutX;
    quarterTurnAboutX(1, 1) = 0;
    quarterTurnAboutX(1, 2) = 1;
    quarterTurnAboutX(2, 1) = -1;
    quarterTurnAboutX(2, 2) = 0;
    ASSERT_TRUE(spot.transformGeometry(0, quarterTurnAboutX));
    EXPECT_NEAR(spot.getDirection(0).y(), -2, 1e-6);
    EXPECT_NEAR(spot.getDirection(0).z(), 0, 1e-6);
    EXPECT_THROW(spot.getDirection(1), std::out_of_range);
}

// --- lights and number nodes ----------------------------------------------

TEST(NodeKindLight, AnimatedParameterReportsItsArgumentAndNullIsRefused) {
    LightNode light;
    auto animated = ClassRegistry::make<AnimatedFloatProperty>("model::AnimatedProperty<float>");
    animated->setArgument(21);
    animated->addKey(0, 2.0f);
    animated->addKey(1, 9.0f);
    animated->addKey(2, 4.0f);
    light.setDistance(animated);
    EXPECT_EQ(arguments(light), std::vector<uint32_t>{21});
    EXPECT_EQ(light.getDistance(), 9.0f);
    EXPECT_THROW(light.setBrightness(PropertyPtr()), qz::ExtException);
    EXPECT_TRUE(light.getBrightness());
}

TEST(NodeKindNumber, ReportsControlArgumentsButNotNone) {
    NumberNode number;
    number.setDamageArgument(0, 50);
    number.addControlEntry({NumberControl{1, 0, -1, 0}, NumberControl{-1, 0, 2, 0}});
    EXPECT_EQ(arguments(number), (std::vector<uint32_t>{50, 1, 2}));
}

TEST(NodeKindRender, ReportsMaterialUniformsAndDamageArguments) {
    RenderNode r;
    auto material = Ptr<PropertiesSet>(new PropertiesSet());
    auto uniform = ClassRegistry::make<AnimatedFloatProperty>("model::AnimatedProperty<float>");
    uniform->setArgument(30);
    material->addUniform(uniform);
    r.setMaterial(material);
    r.setDamageArgument(0, 31);
    auto own = ClassRegistry::make<ArgumentProperty>("model::ArgumentProperty");
    own->setArgument(32);
    r.addProperty(own);
    EXPECT_EQ(arguments(r), (std::vector<uint32_t>{32, 30, 31}));
}
