// The split into transform and visibility trees, the order of the flattened
// lists and the attachment indices of connectors, pinned byte for byte; and
// the model left exactly as it was by a save.

#include <gtest/gtest.h>

#include <functional>
#include <sstream>

#include "StaticProperty.h"
#include "Writer20TestSupport.h"
#include "nodes/ArgVisibilityNode.h"
#include "nodes/Connector.h"

using namespace model;
using namespace writer20test;

namespace {

Ptr<Node> node(const std::string& name, const std::vector<Ptr<Node>>& children = {}) {
    auto n = make<Node>("model::Node", name);
    for (const auto& c : children) n->addChild(c);
    return n;
}

Ptr<Node> vis(const std::string& name, const std::vector<Ptr<Node>>& children = {}) {
    auto n = make<ArgVisibilityNode>("model::ArgVisibilityNode", name);
    for (const auto& c : children) n->addChild(c);
    return n;
}

Ptr<Connector> connector(const std::string& name, const Ptr<Node>& parent) {
    auto c = make<Connector>("model::Connector", name);
    c->setParent(0, parent);
    return c;
}

// A plain record (any NODE without properties), or a visibility record
// without entries.
Tav20& plainNode(Tav20& f, const std::string& name) { return f.plain("NODE", name); }
Tav20& visNode(Tav20& f, const std::string& name) { return f.header("ANVS", name).u32(0); }

}  // namespace

TEST(Writer20Trees, NodeCarryingAConnectorComesFirstAndTheConnectorPointsAtIt) {
    auto c = node("c");
    auto top = node("top", {node("a"), node("b", {c})});
    auto root = rootWith(top);
    auto plug = connector("plug", c);
    auto type = make<StringProperty>("model::Property<const char*>");
    type->setName("type");
    type->setValue("seat");
    plug->addProperty(type);
    root->addConnector(plug);

    Tav20 f;
    f.trees().u32(4);
    for (const char* name : {"c", "top", "a", "b"}) plainNode(f, name);
    f.topo(0).topo(1, {2, 3}).topo(2).topo(3, {0});
    plainNode(f.u32(1), "").topo(0);
    f.header("CNCT", "plug").u32(1).tag("STRG").str("type").str("seat");
    f.u32(0).u32(0);  // transform node 0 ("c"); no visibility node above: the visibility root
    EXPECT_TRUE(sameBytes(writeModel(*root), f.file()));
}

TEST(Writer20Trees, ModelWithoutConnectorsEndsAfterTheVisibilityBlock) {
    auto root = rootWith(node("top", {vis("v", {node("x")})}));
    Tav20 f;
    f.trees().u32(2);
    plainNode(f, "top");
    plainNode(f, "x");
    f.topo(0, {1}).topo(1);
    f.u32(2);
    plainNode(f, "");
    visNode(f, "v");
    f.topo(0, {1}).topo(1);
    EXPECT_TRUE(sameBytes(writeModel(*root), f.file()));
}

TEST(Writer20Trees, VisibilityNodesMoveOutAndTheirChildrenTakeTheirPlaceInOrder) {
    // top -> [a, v1 -> [b, v2 -> [c]], d] splits into top -> [a, b, c, d]
    // and the visibility root -> [v1, v2].
    auto root = rootWith(node("top", {node("a"), vis("v1", {node("b"), vis("v2", {node("c")})}), node("d")}));
    Tav20 f;
    f.trees().u32(5);
    for (const char* name : {"top", "a", "b", "c", "d"}) plainNode(f, name);
    f.topo(0, {1, 2, 3, 4}).topo(1).topo(2).topo(3).topo(4);
    f.u32(3);
    plainNode(f, "");
    visNode(f, "v1");
    visNode(f, "v2");
    f.topo(0, {1, 2}).topo(1).topo(2);
    EXPECT_TRUE(sameBytes(writeModel(*root), f.file()));
}

TEST(Writer20Trees, ChildlessVisibilityNodesAtEitherEndLeaveCountsAndOrderRight) {
    // Visibility nodes first and last among their siblings, one left empty
    // under r, and the visibility root filled in the walk's order: a
    // parent's visibility children at once, its other children afterwards,
    // the later siblings first.
    auto root = rootWith(
        node("top", {vis("v0"), node("p", {vis("v1", {node("q")})}), node("r", {vis("v2")}), vis("v3")}));
    Tav20 f;
    f.trees().u32(4);
    for (const char* name : {"top", "p", "q", "r"}) plainNode(f, name);
    f.topo(0, {1, 3}).topo(1, {2}).topo(2).topo(3);
    f.u32(5);
    plainNode(f, "");
    for (const char* name : {"v0", "v3", "v2", "v1"}) visNode(f, name);
    f.topo(0, {1, 2, 3, 4}).topo(1).topo(2).topo(3).topo(4);
    EXPECT_TRUE(sameBytes(writeModel(*root), f.file()));
}

TEST(Writer20Trees, VisibilityTopNodeGetsAPlainNodeAbove) {
    auto root = rootWith(vis("v", {node("a")}));
    Tav20 f;
    f.trees().u32(2);
    plainNode(f, "");  // the new top node, unnamed
    plainNode(f, "a");
    f.topo(0, {1}).topo(1);
    f.u32(2);
    plainNode(f, "");
    visNode(f, "v");
    f.topo(0, {1}).topo(1);
    EXPECT_EQ(f.pool, std::string("\0a\0v\0", 5));
    EXPECT_TRUE(sameBytes(writeModel(*root), f.file()));
}

TEST(Writer20Trees, ConnectorOnAVisibilityNodeHangsFromAStandInOnTheTransformSide) {
    auto v = vis("v", {node("x")});
    auto root = rootWith(node("top", {v}));
    root->addConnector(connector("on_vis", v));

    // v gets a plain child standing for the connector; after the split it
    // sits beside x under top and comes first as the connector's carrier.
    Tav20 f;
    f.trees().u32(3);
    plainNode(f, "");
    plainNode(f, "top");
    plainNode(f, "x");
    f.topo(0).topo(1, {2, 0}).topo(2);
    f.u32(2);
    plainNode(f, "");
    visNode(f, "v");
    f.topo(0, {1}).topo(1);
    f.plain("CNCT", "on_vis").u32(0).u32(1);
    EXPECT_TRUE(sameBytes(writeModel(*root), f.file()));
}

TEST(Writer20Trees, ConnectorsFindTheNearestVisibilityNodeAbove) {
    auto deep = node("deep");
    auto inner = vis("inner", {node("mid", {deep})});
    auto side = node("side");
    auto root = rootWith(node("top", {vis("outer", {inner}), side}));
    root->addConnector(connector("c1", deep));
    root->addConnector(connector("c2", side));
    root->addConnector(connector("c3", deep));

    // Transform: deep and side first (walk order: mid/deep come before side),
    // then top, mid. Visibility: root, outer, inner.
    Tav20 f;
    f.trees().u32(4);
    for (const char* name : {"deep", "side", "top", "mid"}) plainNode(f, name);
    f.topo(0).topo(1).topo(2, {3, 1}).topo(3, {0});
    f.u32(3);
    plainNode(f, "");
    visNode(f, "outer");
    visNode(f, "inner");
    f.topo(0, {1, 2}).topo(1).topo(2);
    f.plain("CNCT", "c1").u32(0).u32(2);
    f.plain("CNCT", "c2").u32(1).u32(0);
    f.plain("CNCT", "c3").u32(0).u32(2);
    EXPECT_TRUE(sameBytes(writeModel(*root), f.file()));
}

namespace {

// Everything a save could disturb: shape, classes, names, properties and
// entries of the tree; the connectors and their parents; the object count.
std::string snapshot(const RootNode& root) {
    std::ostringstream out;
    std::function<void(const Node*, int)> walk = [&](const Node* n, int depth) {
        out << std::string(depth, ' ') << getNodeTypeName(n->getType()) << " '" << n->getName() << "' props "
            << n->getProperties().size();
        for (const auto& p : n->getProperties()) out << ' ' << p.get();
        if (auto v = dynamic_cast<const ArgVisibilityNode*>(n)) out << " entries " << v->getEntries().size();
        out << " parent " << n->parentNode() << '\n';
        for (const Node* c = n->firstChildNode(); c; c = c->nextSiblingNode()) walk(c, depth + 1);
    };
    walk(root.getTopNode().get(), 0);
    for (const auto& c : root.getConnectors())
        out << "connector '" << c->getName() << "' on " << c->getParent(0).get() << '\n';
    out << "alive " << ClassRegistry::instance().aliveCount() << '\n';
    return out.str();
}

}  // namespace

TEST(Writer20Trees, SaveLeavesTheModelAsItWas) {
    auto v = vis("v", {node("x"), vis("w", {node("y")})});
    v->addProperty(make<FloatProperty>("model::Property<float>"));
    auto top = vis("topvis", {node("a"), v});
    auto root = rootWith(top);
    root->addConnector(connector("c1", v));
    root->addConnector(connector("c2", top));
    root->addConnector(connector("c3", top->getFirstChild()));

    const std::string before = snapshot(*root);
    const std::vector<uint8_t> first = writeModel(*root);
    EXPECT_EQ(snapshot(*root), before);
    EXPECT_EQ(writeModel(*root), first);  // and a second save sees the same model
    EXPECT_EQ(snapshot(*root), before);
}
