// Models the format 10 writer must refuse, with the message each refusal
// gives; a refused model leaves the caller's buffer untouched.

#include <functional>
#include <stdexcept>

#include "ModelTestSupport.h"
#include "qz/ExtException.h"

using namespace model;
using namespace modeltest;

namespace {

// Adds the node under test to a root whose top node "root" is given.
using Build = std::function<void(RootNode&, const Ptr<Node>& top)>;
struct ErrorCase {
    const char* fault;
    Build build;
    std::string message;  // "" when the model must be written
};
// Names the row in test listings (its bytes would show addresses).
void PrintTo(const ErrorCase& c, std::ostream* out) { *out << c.fault; }

class Writer10Errors : public testing::TestWithParam<ErrorCase> {};

TEST_P(Writer10Errors, RefusedModelsGiveTheirMessage) {
    Model model;
    GetParam().build(*model.root, model.top);
    std::vector<uint8_t> out{0xAB};
    std::string message;
    try {
        ClassWriter10().write(*model.root, out);
    } catch (const qz::ExtException& e) {
        message = e.what();
    } catch (const std::out_of_range& e) {
        message = std::string("out_of_range: ") + e.what();
    }
    EXPECT_EQ(message, GetParam().message) << GetParam().fault;
    EXPECT_TRUE(message.empty() || out == std::vector<uint8_t>{0xAB}) << GetParam().fault;
}

// Under the top node, render nodes with a material unless told otherwise.
template <class T>
Ptr<T> placed(const Ptr<Node>& top, const char* cls, const char* name, bool withMaterial = true) {
    auto node = under<T>(top, cls, name);
    if constexpr (std::is_base_of_v<BaseRenderNode, T>)
        if (withMaterial) node->setMaterial(material("def_material", ""));
    return node;
}

Build channel(std::function<void(ArgAnimationNode&)> broken) {
    return [broken](RootNode&, const Ptr<Node>& top) {
        auto anim = make<ArgAnimationNode>("model::ArgAnimationNode", "door");
        anim->setPositionAnimations({{1, {}}});  // a valid channel of each kind first
        anim->setRotationAnimations({{2, {}}});
        anim->setScaleAnimations({{3, {}, {}}});
        broken(*anim);
        top->addChild(anim);
    };
}

template <class T>
Build animatedLights(const char* cls, uint32_t argument, size_t floats, size_t lights) {
    return [=](RootNode& root, const Ptr<Node>& top) {
        auto node = placed<T>(top, cls, "f");
        node->setArgument(argument);
        node->setAnimationData(std::vector<float>(floats, 0.5f));
        node->setLights(std::vector<typename std::decay_t<decltype(node->getLights())>::value_type>(lights));
        root.addRenderNode(node);
    };
}

const std::string kOmniArgument = "Argument of animated fake omni lights must be valid. Node id: ";
using Omni = AnimatedFakeOmniLightsNode;
const char* const kOmni = "model::AnimatedFakeOmniLightsNode";
const char* const kSpot = "model::AnimatedFakeSpotLightsNode";
using Spot = AnimatedFakeSpotLightsNode;

INSTANTIATE_TEST_SUITE_P(Writer10, Writer10Errors, testing::Values(
    ErrorCase{"position", channel([](auto& n) { n.setPositionAnimations({{1, {}}, {kNoArgument, {}}}); }),
              "Node 'door' has invalid position handle."},
    ErrorCase{"rotation", channel([](auto& n) { n.setRotationAnimations({{kNoArgument, {{0.0, {0, 0, 0, 1}}}}}); }),
              "Node 'door' has invalid rotation handle."},
    ErrorCase{"scale", channel([](auto& n) { n.setScaleAnimations({{kNoArgument, {}, {{0.0, {1, 1, 1}}}}}); }),
              "Node 'door' has invalid scale handle."},
    ErrorCase{"no material", [](RootNode& r, const Ptr<Node>& top) {
                  r.addRenderNode(placed<RenderNode>(top, "model::RenderNode", "good"));  // the material list is not empty
                  r.addRenderNode(placed<RenderNode>(top, "model::RenderNode", "n", false));
              }, "Unknown properties set. Node: n."},
    ErrorCase{"shell", [](RootNode& r, auto&) { r.addShellNode(make<ShellNode>("model::ShellNode", "hull")); },
              "Control node isn't set. BaseShellNode: hull."},
    ErrorCase{"omni argument", animatedLights<Omni>(kOmni, kNoArgument, 128, 1), kOmniArgument + "model::AnimatedFakeOmniLightsNode."},
    ErrorCase{"spot argument", animatedLights<Spot>(kSpot, kNoArgument, 128, 1), kOmniArgument + "model::AnimatedFakeSpotLightsNode."},
    ErrorCase{"short curve", animatedLights<Omni>(kOmni, 4, 127, 1), "Invalid data size. Node id: model::AnimatedFakeOmniLightsNode."},
    ErrorCase{"long curve", animatedLights<Spot>(kSpot, 4, 256, 1), "Invalid data size. Node id: model::AnimatedFakeSpotLightsNode."},
    ErrorCase{"empty set", animatedLights<Spot>(kSpot, 4, 0, 0), ""},
    ErrorCase{"two lights", animatedLights<Omni>(kOmni, 4, 256, 2), ""},
    ErrorCase{"number controls", [](RootNode& r, const Ptr<Node>& top) {
                  auto number = placed<NumberNode>(top, "model::NumberNode", "digits");
                  number->addParentEntry(top);
                  number->addControlEntry({{3, 0.5f, -1, 0.0f}});
                  r.addRenderNode(number);
              }, "out_of_range: invalid vector subscript"},
    ErrorCase{"no parent", [](RootNode& r, auto&) { r.addConnector(make<Connector>("model::Connector", "o")); },
              "out_of_range: invalid unordered_map<K, T> key"},
    ErrorCase{"vertex data", [](RootNode& r, const Ptr<Node>& top) {
                  auto hull = placed<ShellNode>(top, "model::ShellNode", "hull");
                  Vertices broken;
                  broken.setAttribute(POSITION0, 3, std::vector<float>(10, 1.0f));
                  hull->setVertices(broken);
                  r.addShellNode(hull);
              }, "Vertex data is invalid."},
    ErrorCase{"null light", [](RootNode& r, auto&) { r.getLights().push_back(Ptr<LightNode>()); },
              "Null node in the LIGHT_NODES list of the root node."}));

}  // namespace
