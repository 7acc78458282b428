// Models the format 2.0 writer must refuse, with the message each refusal
// gives; a refused model leaves the caller's buffer untouched and no copied
// node alive.

#include <gtest/gtest.h>

#include <functional>

#include "StaticProperty.h"
#include "Writer20TestSupport.h"
#include "nodes/ArgAnimationNode.h"
#include "nodes/ArgVisibilityNode.h"
#include "nodes/BillboardNode.h"
#include "nodes/Connector.h"
#include "nodes/LodNode.h"
#include "nodes/TmpNumberRoot.h"
#include "qz/ExtException.h"

using namespace model;
using namespace writer20test;

namespace {

struct ErrorCase {
    const char* name;
    std::function<Ptr<RootNode>()> model;
    const char* message;
};

Ptr<Connector> connector(const std::string& name, const Ptr<Node>& parent) {
    auto c = make<Connector>("model::Connector", name);
    if (parent) c->setParent(0, parent);
    return c;
}

Ptr<RootNode> underTop(const Ptr<Node>& child) {
    auto top = make<Node>("model::Node", "top");
    top->addChild(child);
    return rootWith(top);
}

Ptr<RootNode> animated(const std::function<void(ArgAnimationNode&)>& fill) {
    auto anim = make<ArgAnimationNode>("model::ArgAnimationNode", "door");
    fill(*anim);
    return underTop(anim);
}

Ptr<RootNode> connectorOn(const Ptr<Node>& parent, const Ptr<Node>& tree) {
    auto root = rootWith(tree);
    root->addConnector(connector("plug", parent));
    return root;
}

const ErrorCase kCases[] = {
    {"LodInTree", [] { return underTop(make<LodNode>("model::LodNode", "lod")); }, "Unsupported node."},
    {"BillboardInTree", [] { return underTop(make<BillboardNode>("model::BillboardNode", "bb")); },
     "Unsupported node."},
    {"LodDeepBelowVisibility",
     [] {
         auto v = make<ArgVisibilityNode>("model::ArgVisibilityNode", "v");
         v->addChild(make<LodNode>("model::LodNode", "lod"));
         return underTop(v);
     },
     "Unsupported node."},
    {"NodeTypeWithoutTag", [] { return underTop(make<TmpNumberRoot>("model::TmpNumberRoot", "tmp")); },
     "Unknown node id."},
    {"PositionChannelWithoutArgument",
     [] { return animated([](ArgAnimationNode& n) { n.setPositionAnimations({{kNoArgument, {}}}); }); },
     "Node 'door' has invalid position handle."},
    {"RotationChannelWithoutArgument",
     [] { return animated([](ArgAnimationNode& n) { n.setRotationAnimations({{kNoArgument, {}}}); }); },
     "Node 'door' has invalid rotation handle."},
    {"ScaleChannelWithoutArgument",
     [] {
         return animated([](ArgAnimationNode& n) { n.setScaleAnimations({{1, {}, {}}, {kNoArgument, {}, {}}}); });
     },
     "Node 'door' has invalid scale handle."},
    {"ConnectorOnLod",
     [] {
         auto lod = make<LodNode>("model::LodNode", "lod");
         return connectorOn(lod, [&] {
             auto top = make<Node>("model::Node", "top");
             top->addChild(lod);
             return top;
         }());
     },
     "Remove connectors from lods."},
    {"ConnectorOnLodTop",
     [] {
         auto lod = make<LodNode>("model::LodNode", "lod");
         return connectorOn(lod, lod);
     },
     "Remove connectors from lods."},
    {"ConnectorOutsideTheTree",
     [] { return connectorOn(make<Node>("model::Node", "elsewhere"), make<Node>("model::Node", "top")); },
     "Unknown node."},
    {"ConnectorWithoutTopNode",
     [] {
         auto root = make<RootNode>("model::RootNode");
         root->addConnector(connector("plug", make<Node>("model::Node", "n")));
         return root;
     },
     "Unknown node."},
    {"ConnectorWithoutParent",
     [] { return connectorOn(nullptr, make<Node>("model::Node", "top")); }, "Connector 'plug' has no parent."},
    {"NullConnector",
     [] {
         auto root = rootWith(make<Node>("model::Node", "top"));
         root->getConnectors().push_back(nullptr);
         return root;
     },
     "Null connector in the connector list of the root node."},
    {"NullPropertyOnANode",
     [] {
         auto top = make<Node>("model::Node", "top");
         top->getProperties().push_back(nullptr);
         return rootWith(top);
     },
     "Null property in node 'top'."},
    {"NullPropertyOnAConnector",
     [] {
         auto top = make<Node>("model::Node", "top");
         auto root = connectorOn(top, top);
         root->getConnectors()[0]->getProperties().push_back(nullptr);
         return root;
     },
     "Null property in node 'plug'."},
};

}  // namespace

class Writer20Error : public testing::TestWithParam<ErrorCase> {};

TEST_P(Writer20Error, RefusedWithItsMessageAndNothingKept) {
    const Ptr<RootNode> root = GetParam().model();
    const size_t alive = ClassRegistry::instance().aliveCount();
    ClassWriter20 writer;
    std::vector<uint8_t> out{0xAB};
    try {
        writer.write(*root, out);
        ADD_FAILURE() << "no error";
    } catch (const qz::ExtException& e) {
        EXPECT_EQ(std::string(e.what()), GetParam().message);
    }
    EXPECT_EQ(out, std::vector<uint8_t>{0xAB});
    // The writer still exists: a failed save must not keep the copied trees.
    EXPECT_EQ(ClassRegistry::instance().aliveCount(), alive);
}

INSTANTIATE_TEST_SUITE_P(Writer20, Writer20Error, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<ErrorCase>& info) { return info.param.name; });

TEST(Writer20Error, UnsupportedVersionStillRefusedBeforeAnyFileIsMade) {
    auto root = rootWith(make<Node>("model::Node", "top"));
    try {
        root->save("/nonexistent-dir-for-writer20/x.tav", 11);
        ADD_FAILURE() << "no error";
    } catch (const qz::ExtException& e) {
        EXPECT_EQ(std::string(e.what()), "Unsupported version 11");
    }
}
