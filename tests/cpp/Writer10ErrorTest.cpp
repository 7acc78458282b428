// Models the format 10 writer must refuse, with the message each refusal
// gives; a refused model leaves the caller's buffer untouched.

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

#include "Writer10TestSupport.h"
#include "nodes/ArgAnimationNode.h"
#include "nodes/Connector.h"
#include "nodes/FakeOmniLightsNode.h"
#include "nodes/FakeSpotLightsNode.h"
#include "nodes/LightNode.h"
#include "nodes/NumberNode.h"
#include "nodes/RenderNode.h"
#include "nodes/SegmentsNode.h"
#include "nodes/ShellNode.h"
#include "nodes/SkinNode.h"
#include "qz/ExtException.h"

using namespace model;
using namespace writer10test;

namespace {

// Writes root into a buffer holding a marker; returns the error text of the
// qz::ExtException raised, and checks that the buffer was not touched.
std::string extError(const RootNode& root) {
    std::vector<uint8_t> out{0xAB};
    try {
        ClassWriter10().write(root, out);
    } catch (const qz::ExtException& e) {
        EXPECT_EQ(out, std::vector<uint8_t>{0xAB});
        return e.what();
    }
    return "<no error>";
}

std::string rangeError(const RootNode& root) {
    std::vector<uint8_t> out{0xAB};
    try {
        ClassWriter10().write(root, out);
    } catch (const std::out_of_range& e) {
        EXPECT_EQ(out, std::vector<uint8_t>{0xAB});
        return e.what();
    }
    return "<no error>";
}

}  // namespace

struct HandleCase {
    const char* channel;
    std::function<void(ArgAnimationNode&)> fill;
};

class Writer10Handle : public testing::TestWithParam<HandleCase> {};

TEST_P(Writer10Handle, UnsetChannelArgumentFailsTheSave) {
    auto anim = make<ArgAnimationNode>("model::ArgAnimationNode", "door");
    // A valid channel of each kind first: only the broken one may fail.
    anim->setPositionAnimations({{1, {}}});
    anim->setRotationAnimations({{2, {}}});
    anim->setScaleAnimations({{3, {}, {}}});
    GetParam().fill(*anim);
    auto top = make<Node>("model::Node", "root");
    top->addChild(anim);
    EXPECT_EQ(extError(*rootWithTop(top)), std::string("Node 'door' has invalid ") + GetParam().channel + " handle.");
}

INSTANTIATE_TEST_SUITE_P(Writer10Channels, Writer10Handle,
    testing::Values(
        HandleCase{"position", [](ArgAnimationNode& n) { n.setPositionAnimations({{1, {}}, {kNoArgument, {}}}); }},
        HandleCase{"rotation", [](ArgAnimationNode& n) { n.setRotationAnimations({{kNoArgument, {{0.0, {0, 0, 0, 1}}}}}); }},
        HandleCase{"scale", [](ArgAnimationNode& n) { n.setScaleAnimations({{kNoArgument, {}, {{0.0, {1, 1, 1}}}}}); }}));

TEST(Writer10Errors, RenderNodesWithoutMaterialAreUnknownPropertiesSets) {
    auto top = make<Node>("model::Node", "root");
    std::vector<Ptr<BaseRenderNode>> nodes{
        make<RenderNode>("model::RenderNode", "mesh"), make<SkinNode>("model::SkinNode", "skin"),
        make<NumberNode>("model::NumberNode", "digits"), make<FakeOmniLightsNode>("model::FakeOmniLightsNode", "omni"),
        make<FakeSpotLightsNode>("model::FakeSpotLightsNode", "spot")};
    for (const Ptr<BaseRenderNode>& node : nodes) {
        if (node->getNumParents() > 0) node->setParent(0, top);
        auto root = rootWithTop(top);
        // A node with a known material first, so the material list is not empty.
        auto good = make<RenderNode>("model::RenderNode", "good");
        good->setParent(0, top);
        good->setMaterial(material("def_material", ""));
        root->addRenderNode(good);
        root->addRenderNode(node);
        EXPECT_EQ(extError(*root), "Unknown properties set. Node: " + node->getName() + ".");
    }
}

TEST(Writer10Errors, ShellsWithoutControlNodeAreRefused) {
    const std::vector<Ptr<BaseShellNode>> shells{make<ShellNode>("model::ShellNode", "hull"),
                                                 make<SegmentsNode>("model::SegmentsNode", "rails")};
    for (const Ptr<BaseShellNode>& shell : shells) {
        auto root = rootWithTop();
        root->addShellNode(shell);
        EXPECT_EQ(extError(*root), "Control node isn't set. BaseShellNode: " + shell->getName() + ".");
    }
}

struct FakeCase {
    bool spot;
    uint32_t argument;
    size_t floats;
    size_t lights;
    const char* message;
};

class Writer10AnimatedFakeLights : public testing::TestWithParam<FakeCase> {};

TEST_P(Writer10AnimatedFakeLights, ArgumentAndCurveSizeAreChecked) {
    const FakeCase c = GetParam();
    auto top = make<Node>("model::Node", "root");
    Ptr<BaseRenderNode> node;
    if (c.spot) {
        auto spot = make<AnimatedFakeSpotLightsNode>("model::AnimatedFakeSpotLightsNode", "s");
        spot->setArgument(c.argument);
        spot->setAnimationData(std::vector<float>(c.floats, 0.5f));
        spot->setLights(std::vector<FakeSpotLight>(c.lights));
        node = spot;
    } else {
        auto omni = make<AnimatedFakeOmniLightsNode>("model::AnimatedFakeOmniLightsNode", "o");
        omni->setArgument(c.argument);
        omni->setAnimationData(std::vector<float>(c.floats, 0.5f));
        omni->setLights(std::vector<FakeOmniLight>(c.lights));
        node = omni;
    }
    node->setParent(0, top);
    node->setMaterial(material("animated_fake_omni_lights2", ""));
    auto root = rootWithTop(top);
    root->addRenderNode(node);
    if (c.message) EXPECT_EQ(extError(*root), c.message);
    else EXPECT_NO_THROW(writeModel(*root));
}

INSTANTIATE_TEST_SUITE_P(Writer10Cases, Writer10AnimatedFakeLights,
    testing::Values(
        FakeCase{false, kNoArgument, 128, 1,
                 "Argument of animated fake omni lights must be valid. Node id: model::AnimatedFakeOmniLightsNode."},
        FakeCase{true, kNoArgument, 128, 1,
                 "Argument of animated fake omni lights must be valid. Node id: model::AnimatedFakeSpotLightsNode."},
        FakeCase{false, 4, 127, 1, "Invalid data size. Node id: model::AnimatedFakeOmniLightsNode."},
        FakeCase{true, 4, 256, 1, "Invalid data size. Node id: model::AnimatedFakeSpotLightsNode."},
        FakeCase{false, 4, 128, 0, "Invalid data size. Node id: model::AnimatedFakeOmniLightsNode."},
        FakeCase{true, 4, 0, 0, nullptr}, FakeCase{false, 4, 256, 2, nullptr}));

TEST(Writer10Errors, NumberNodeWithFewerControlListsThanParentsIsOutOfRange) {
    auto top = make<Node>("model::Node", "root");
    auto number = make<NumberNode>("model::NumberNode", "digits");
    number->setParent(0, top);
    number->addParentEntry(top);
    number->setMaterial(material("def_material", ""));
    number->addControlEntry({{3, 0.5f, -1, 0.0f}});
    auto root = rootWithTop(top);
    root->addRenderNode(number);
    EXPECT_EQ(rangeError(*root), "invalid vector subscript");
}

TEST(Writer10Errors, ParentsOutsideTheTreeAreUnknownKeys) {
    auto stray = make<Node>("model::Node", "stray");
    auto hook = make<Connector>("model::Connector", "hook");
    hook->setParent(0, stray);
    auto root = rootWithTop();
    root->addConnector(hook);
    EXPECT_EQ(rangeError(*root), "invalid unordered_map<K, T> key");

    auto orphan = make<Connector>("model::Connector", "orphan");  // no parent at all
    auto root2 = rootWithTop();
    root2->addConnector(orphan);
    EXPECT_EQ(rangeError(*root2), "invalid unordered_map<K, T> key");
}

TEST(Writer10Errors, InvalidVertexDataStopsTheSave) {
    auto top = make<Node>("model::Node", "root");
    auto hull = make<ShellNode>("model::ShellNode", "hull");
    hull->setParent(0, top);
    Vertices broken;
    broken.setAttribute(POSITION0, 3, std::vector<float>(10, 1.0f));
    hull->setVertices(broken);
    auto root = rootWithTop(top);
    root->addShellNode(hull);
    EXPECT_EQ(extError(*root), "Vertex data is invalid.");
}

TEST(Writer10Errors, NullListEntryIsAClearError) {
    auto root = rootWithTop();
    root->getLights().push_back(Ptr<LightNode>());
    EXPECT_EQ(extError(*root), "Null node in the LIGHT_NODES list of the root node.");
}
