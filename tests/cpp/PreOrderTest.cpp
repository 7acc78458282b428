// The pre-order list the graph passes share: built by walking several
// subtrees side by side, it must still list every node once, in the order of
// a plain walk, whatever the tree's shape; and the marks of a pass must leave
// it as a fresh walk of the changed tree would.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "ClassRegistry.h"
#include "nodes/TransformNode.h"
#include "utils/PreOrder.h"

using namespace model;

namespace {

Ptr<Node> node(const char* cls = "model::Node") {
    return ClassRegistry::make<Node>(cls);
}

std::vector<const Node*> plainWalk(const Ptr<Node>& top) {
    std::vector<const Node*> out;
    if (top)
        Node::traverse(static_cast<const Node*>(top.get()), [&out](const Node* n) {
            out.push_back(n);
            return true;
        });
    return out;
}

std::vector<const Node*> listed(const utils::PreOrder& order) {
    std::vector<const Node*> out;
    order.scan([&out](std::size_t, const Node& n, NodeType type) {
        EXPECT_EQ(type, n.getType());
        out.push_back(&n);
    });
    return out;
}

// Random trees from long single-child chains to wide levels; `spread`
// chooses how far back the parent of each new node may be.
Ptr<Node> randomTree(unsigned seed, int count, int spread, int chainAtTop) {
    std::mt19937 rng(seed);
    std::vector<Ptr<Node>> nodes{node()};
    for (int i = 0; i < chainAtTop; ++i) {
        nodes.push_back(node(i % 2 ? "model::TransformNode" : "model::Node"));
        nodes[nodes.size() - 2]->addChild(nodes.back());
    }
    for (int i = 0; i < count; ++i) {
        const std::size_t back = std::min<std::size_t>(nodes.size(), 1 + rng() % spread);
        const Ptr<Node> parent = nodes[nodes.size() - back];
        nodes.push_back(node(rng() % 3 ? "model::Node" : "model::TransformNode"));
        parent->addChild(nodes.back());
    }
    return nodes.front();
}

struct Shape {
    int count, spread, chainAtTop;
};

class PreOrderShapes : public ::testing::TestWithParam<Shape> {};

TEST_P(PreOrderShapes, ListsEveryNodeOnceInThePlainWalksOrder) {
    const Shape s = GetParam();
    for (unsigned seed = 1; seed <= 5; ++seed) {
        const Ptr<Node> top = randomTree(seed, s.count, s.spread, s.chainAtTop);
        EXPECT_EQ(listed(utils::PreOrder(top)), plainWalk(top)) << "seed " << seed;
    }
}

INSTANTIATE_TEST_SUITE_P(Trees, PreOrderShapes,
                         ::testing::Values(Shape{0, 1, 0},      // the top alone
                                           Shape{0, 1, 30},     // one chain
                                           Shape{5, 8, 2},      // fewer subtrees than walks
                                           Shape{2000, 2, 0},   // deep
                                           Shape{2000, 40, 0},  // mixed
                                           Shape{2000, 2000, 3}));  // wide below a short chain

TEST(PreOrder, EmptyForANullTop) {
    const utils::PreOrder order{Ptr<Node>()};
    EXPECT_TRUE(order.empty());
    EXPECT_FALSE(order.top());
}

TEST(PreOrder, MarkedRemovalsAndReplacementsLeaveWhatAFreshWalkFinds) {
    const Ptr<Node> top = randomTree(7, 300, 6, 0);
    utils::PreOrder order(top);
    // Take out every third node but the top, its children taking its place,
    // and put a new node in the place of every seventh.
    for (std::size_t i = 1; i < order.size(); ++i) {
        Ptr<Node> n(order.node(i));
        if (i % 3 == 0) {
            while (Node* c = n->firstChildNode()) n->parentNode()->insertChildBefore(Ptr<Node>(c), n);
            n->detach();
            order.remove(i);
        } else if (i % 7 == 0) {
            Ptr<Node> fresh = node("model::TransformNode");
            while (Node* c = n->firstChildNode()) fresh->addChild(Ptr<Node>(c));
            n->parentNode()->insertChildBefore(fresh, n);
            n->detach();
            order.replace(i, fresh.get());
        }
    }
    order.settle();
    EXPECT_EQ(listed(order), plainWalk(top));
}

TEST(PreOrder, ATopThatLeftIsAllThatRemains) {
    const Ptr<Node> top = randomTree(3, 50, 4, 0);
    const Ptr<Node> newTop = node();
    utils::PreOrder order(top);
    while (Node* c = top->firstChildNode()) newTop->addChild(Ptr<Node>(c));
    order.replace(0, newTop.get());
    order.settle();
    EXPECT_EQ(listed(order), std::vector<const Node*>{top.get()});
    EXPECT_EQ(order.top(), top);
}

}  // namespace
