// The pre-order list the graph passes share is built by walking several
// subtrees side by side; it must still list every node once, in the order of
// a plain walk, whatever the tree's shape, and after the marks of a pass as a
// fresh walk of the changed tree would.

#include <random>

#include "ModelTestSupport.h"
#include "utils/PreOrder.h"

using namespace model;

namespace {

std::vector<const Node*> plainWalk(const Ptr<Node>& top) {
    std::vector<const Node*> out;
    Node::traverse(static_cast<const Node*>(top.get()), [&out](const Node* n) { return out.push_back(n), true; });
    return out;
}

std::vector<const Node*> listed(const utils::PreOrder& order) {
    std::vector<const Node*> out;
    order.scan([&out](std::size_t, const Node& n, NodeType type) { out.push_back(type == n.getType() ? &n : nullptr); });
    return out;
}

struct Shape {
    int count, spread, chainAtTop;
};

class PreOrderShapes : public ::testing::TestWithParam<Shape> {};

}  // namespace

// Random trees from long single-child chains to wide levels; `spread`
// chooses how far back the parent of each new node may be. Every third node
// but the top is then taken out, its children taking its place, and every
// seventh is replaced by a new node.
TEST_P(PreOrderShapes, ListsEveryNodeOnceInThePlainWalksOrderBeforeAndAfterMarks) {
    const Shape s = GetParam();
    std::mt19937 rng(s.count + s.spread);
    std::vector<Ptr<Node>> nodes{modeltest::node()};
    for (int i = 0; i < s.chainAtTop + s.count; ++i) {
        const std::size_t back = i < s.chainAtTop ? 1 : std::min<std::size_t>(nodes.size(), 1 + rng() % s.spread);
        const Ptr<Node> parent = nodes[nodes.size() - back];
        nodes.push_back(rng() % 3 ? modeltest::node() : modeltest::transform("", Matrix44d()));
        parent->addChild(nodes.back());
    }
    utils::PreOrder order(nodes.front());
    EXPECT_EQ(listed(order), plainWalk(nodes.front()));
    for (std::size_t i = 1; i < order.size(); ++i) {
        Ptr<Node> n(order.node(i));
        if (i % 3 != 0 && i % 7 != 0) continue;
        Ptr<Node> fresh = i % 3 == 0 ? Ptr<Node>() : modeltest::node();
        while (Node* c = n->firstChildNode()) {
            if (fresh) fresh->addChild(Ptr<Node>(c));
            else n->parentNode()->insertChildBefore(Ptr<Node>(c), n);
        }
        if (fresh) n->parentNode()->insertChildBefore(fresh, n);
        n->detach();
        if (fresh) order.replace(i, fresh.get());
        else order.remove(i);
    }
    order.settle();
    EXPECT_EQ(listed(order), plainWalk(nodes.front()));
}

INSTANTIATE_TEST_SUITE_P(Trees, PreOrderShapes,
                         ::testing::Values(Shape{0, 1, 0},          // the top alone
                                           Shape{0, 1, 30},         // one chain
                                           Shape{2, 8, 1},          // one node taken out
                                           Shape{5, 8, 2},          // fewer subtrees than walks
                                           Shape{2000, 2, 0},       // deep
                                           Shape{2000, 40, 0},      // mixed
                                           Shape{2000, 2000, 3}));  // wide below a short chain
