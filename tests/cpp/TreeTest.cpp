// The node tree: sibling links kept consistent by every edit, the tree's
// references handed over on moves, no cycles, walks and releases of deep or
// wide trees that use no recursion, and the one version property of a node.

#include "ModelTestSupport.h"
#include "StaticProperty.h"
#include "qz/ExtException.h"

namespace model {
namespace {

using modeltest::node;

// The children's names, after checking that every link of the child chain
// agrees with its neighbours.
std::string childNames(const NodePtr& parent) {
    std::string s;
    Node* prev = nullptr;
    for (Node* c = parent->firstChildNode(); c; prev = c, c = c->nextSiblingNode()) {
        EXPECT_EQ(c->parentNode(), parent.get()) << c->getName();
        EXPECT_EQ(c->prevSiblingNode(), prev) << c->getName();
        s += c->getName();
    }
    EXPECT_EQ(parent->lastChildNode(), prev);
    return s;
}

std::size_t alive() { return ClassRegistry::instance().aliveCount(); }

class TreeRemovePosition : public ::testing::TestWithParam<std::string> {};

// Each position in "abc", and the only child of "b".
TEST_P(TreeRemovePosition, RemovingJoinsTheNeighboursAndClearsTheChildsLinks) {
    NodePtr top = node("top");
    for (char c : GetParam()) top->addChild(node(std::string(1, c)));
    NodePtr victim = top->getFirstChild();
    while (victim->getName() != "b") victim = victim->getNextSibling();
    victim->addChild(node("x"));
    ASSERT_TRUE(top->removeChild(victim));
    std::string expected = GetParam();
    expected.erase(expected.find('b'), 1);
    EXPECT_EQ(childNames(top), expected);
    EXPECT_FALSE(victim->getParent() || victim->getNextSibling() || victim->getPrevSibling());
    EXPECT_EQ(childNames(victim), "x");
}

INSTANTIATE_TEST_SUITE_P(Tree, TreeRemovePosition, ::testing::Values("bac", "abc", "acb", "b"));

TEST(TreeTest, RemovingOrInsertingBeforeANodeOfAnotherParentChangesNothing) {
    NodePtr top = node("top"), other = node("other"), stranger = node("s");
    top->addChild(node("a"));
    other->addChild(stranger);
    EXPECT_FALSE(top->removeChild(stranger));
    EXPECT_FALSE(top->removeChild(NodePtr()));
    EXPECT_FALSE(top->removeChild(top));
    EXPECT_THROW(top->insertChildBefore(node("x"), stranger), qz::ExtException);
    EXPECT_EQ(childNames(top), "a");
    EXPECT_EQ(childNames(other), "s");
}

// Moving a node, or taking it out with detachTaking, hands the tree's own
// reference over: the node lives exactly as long as someone holds it.
TEST(TreeTest, MovingOrTakingOutANodeHandsTheTreesReferenceOver) {
    const std::size_t before = alive();
    NodePtr a = node("a"), b = node("b");
    Node* moved = nullptr;
    {
        NodePtr c = node("c");
        a->addChild(node("x"));
        a->addChild(c);
        a->addChild(node("y"));
        moved = c.get();
        b->addChild(c);
        a->insertChildBefore(c, a->getFirstChild());
        EXPECT_EQ(moved->refCount(), 2u);
        EXPECT_EQ(childNames(a), "cxy");
    }
    EXPECT_EQ(moved->refCount(), 1u);
    NodePtr taken = moved->detachTaking();
    EXPECT_EQ(taken.get(), moved);
    EXPECT_EQ(moved->refCount(), 1u);
    EXPECT_EQ(childNames(a), "xy");
    EXPECT_FALSE(moved->detachTaking());
    taken.reset();
    EXPECT_EQ(alive(), before + 4);
}

TEST(TreeTest, AddingANodeBelowItselfIsRefusedSoNoCycleForms) {
    NodePtr top = node("top"), mid = node("mid"), leaf = node("leaf");
    top->addChild(mid);
    mid->addChild(leaf);
    EXPECT_THROW(leaf->addChild(top), qz::ExtException);
    EXPECT_THROW(mid->addChild(mid), qz::ExtException);
    EXPECT_THROW(mid->insertChildBefore(top, leaf), qz::ExtException);
    EXPECT_THROW(mid->addChild(NodePtr()), qz::ExtException);
    EXPECT_EQ(childNames(top), "mid");
    EXPECT_EQ(childNames(mid), "leaf");
}

TEST(TreeTest, DeepAndWideTreesAreTraversedCopiedAndReleasedWithoutExhaustingTheStack) {
    constexpr std::size_t kDepth = 100000;
    const std::size_t before = alive();
    {
        NodePtr top = node("top");
        Node* deepest = top.get();
        for (std::size_t i = 1; i < kDepth; ++i) {
            NodePtr n = node();
            deepest->addChild(n);
            deepest = n.get();
        }
        std::size_t visited = 0;
        Node::traverse(top, [&](Node*) { return ++visited, true; });
        EXPECT_EQ(visited, kDepth);
        EXPECT_EQ(Node::getAncestors(deepest).size(), kDepth);
        NodeCopies copies;
        NodePtr copy = copyTree(top.get(), &copies);
        EXPECT_EQ(copies.size(), kDepth);
        EXPECT_EQ(Node::getAncestors(copies.at(deepest).get()).back(), copy);
        EXPECT_EQ(alive(), before + 2 * kDepth);
        NodePtr wide = node("wide");
        for (std::size_t i = 0; i < kDepth; ++i) wide->addChild(node());
    }
    EXPECT_EQ(alive(), before);
}

TEST(TreeTest, SetVersionTwiceLeavesOneVersionPropertyInPlaceWithoutTouchingCopies) {
    NodePtr n = modeltest::node("n");
    n->addProperty(modeltest::property<FloatProperty>("before"));
    n->setVersion(3);
    NodePtr copy = qz::dynamicPtrCast<Node>(n->clone());
    n->setVersion(4);
    ASSERT_EQ(n->getProperties().size(), 2u);
    EXPECT_EQ(n->getProperties()[1]->getName(), "__VERSION__");
    EXPECT_EQ(n->getVersion(), 4u);
    EXPECT_EQ(copy->getVersion(), 3u);
}

}  // namespace
}  // namespace model
