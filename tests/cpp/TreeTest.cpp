#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ClassRegistry.h"
#include "Node.h"
#include "StaticProperty.h"

namespace model {
namespace {

NodePtr makeNode(const std::string& name) {
    NodePtr n = ClassRegistry::make<Node>("model::Node");
    n->setName(name);
    return n;
}

std::string childNames(const NodePtr& parent) {
    std::string s;
    for (const NodePtr& c : parent->getChildren()) s += c->getName();
    return s;
}

// Every link of parent's child chain agrees with its neighbours.
void expectConsistent(const NodePtr& parent) {
    Node* prev = nullptr;
    for (Node* c = parent->firstChildNode(); c; c = c->nextSiblingNode()) {
        EXPECT_EQ(c->parentNode(), parent.get()) << c->getName();
        EXPECT_EQ(c->prevSiblingNode(), prev) << c->getName();
        prev = c;
    }
    EXPECT_EQ(parent->lastChildNode(), prev);
}

std::size_t alive() { return ClassRegistry::instance().aliveCount(); }

TEST(TreeTest, RemovingTheOnlyChildLeavesNoChildLinks) {
    NodePtr top = makeNode("top");
    NodePtr child = makeNode("c");
    child->addChild(makeNode("grandchild"));
    top->addChild(child);
    EXPECT_TRUE(top->removeChild(child));
    EXPECT_FALSE(top->getFirstChild());
    EXPECT_FALSE(top->getLastChild());
    EXPECT_FALSE(child->getParent());
    EXPECT_FALSE(child->getNextSibling());
    EXPECT_FALSE(child->getPrevSibling());
    EXPECT_EQ(childNames(child), "grandchild");  // the child keeps its own children
}

class TreeRemovePosition : public ::testing::TestWithParam<int> {};

TEST_P(TreeRemovePosition, RemovingJoinsTheNeighboursAndClearsTheChildsLinks) {
    NodePtr top = makeNode("top");
    std::vector<NodePtr> kids = {makeNode("a"), makeNode("b"), makeNode("c")};
    for (auto& k : kids) top->addChild(k);
    const NodePtr victim = kids[GetParam()];
    ASSERT_TRUE(top->removeChild(victim));
    std::string expected = "abc";
    expected.erase(GetParam(), 1);
    EXPECT_EQ(childNames(top), expected);
    expectConsistent(top);
    EXPECT_FALSE(victim->getParent());
    EXPECT_FALSE(victim->getNextSibling());
    EXPECT_FALSE(victim->getPrevSibling());
}

INSTANTIATE_TEST_SUITE_P(Tree, TreeRemovePosition, ::testing::Values(0, 1, 2));

TEST(TreeTest, RemovingANodeThatIsNotAChildChangesNothing) {
    NodePtr top = makeNode("top");
    NodePtr other = makeNode("other");
    NodePtr a = makeNode("a");
    top->addChild(a);
    NodePtr stranger = makeNode("s");
    other->addChild(stranger);
    EXPECT_FALSE(top->removeChild(stranger));
    EXPECT_FALSE(top->removeChild(NodePtr()));
    EXPECT_FALSE(top->removeChild(top));
    EXPECT_EQ(childNames(top), "a");
    EXPECT_EQ(stranger->getParent(), other);
}

TEST(TreeTest, InsertBeforePutsTheChildJustBeforeThePosition) {
    NodePtr top = makeNode("top");
    NodePtr a = makeNode("a"), c = makeNode("c");
    top->addChild(a);
    top->addChild(c);
    top->insertChildBefore(makeNode("b"), c);
    top->insertChildBefore(makeNode("0"), a);
    EXPECT_EQ(childNames(top), "0abc");
    expectConsistent(top);
    // Moving an existing child before another one of the same parent.
    top->insertChildBefore(c, a);
    EXPECT_EQ(childNames(top), "0cab");
    expectConsistent(top);
    // Before itself: nothing moves.
    top->insertChildBefore(a, a);
    EXPECT_EQ(childNames(top), "0cab");
    // A null position appends.
    top->insertChildBefore(makeNode("z"), NodePtr());
    EXPECT_EQ(childNames(top), "0cabz");
}

TEST(TreeTest, InsertBeforeAPositionOfAnotherParentIsRefusedAndChangesNothing) {
    NodePtr top = makeNode("top"), other = makeNode("other");
    NodePtr foreign = makeNode("f");
    other->addChild(foreign);
    NodePtr child = makeNode("x");
    EXPECT_THROW(top->insertChildBefore(child, foreign), qz::ExtException);
    EXPECT_FALSE(child->getParent());
    EXPECT_EQ(childNames(other), "f");
    EXPECT_EQ(childNames(top), "");
}

TEST(TreeTest, AddingAChildMovesItFromItsPreviousParent) {
    NodePtr first = makeNode("first"), second = makeNode("second");
    NodePtr a = makeNode("a"), b = makeNode("b"), c = makeNode("c");
    first->addChild(a);
    first->addChild(b);
    first->addChild(c);
    second->addChild(b);
    EXPECT_EQ(childNames(first), "ac");
    EXPECT_EQ(childNames(second), "b");
    EXPECT_EQ(b->getParent(), second);
    expectConsistent(first);
    expectConsistent(second);
    // Re-adding to the same parent moves the child to the end.
    first->addChild(a);
    EXPECT_EQ(childNames(first), "ca");
    expectConsistent(first);
}

// Moving a node, or taking it out with detachTaking, hands the tree's own
// reference over: the node's count is the same before and after, and the
// node lives exactly as long as someone holds it.
TEST(TreeTest, MovingOrTakingOutANodeHandsTheTreesReferenceOver) {
    const std::size_t before = alive();
    NodePtr a = makeNode("a"), b = makeNode("b");
    Node* moved = nullptr;
    {
        NodePtr c = makeNode("c");
        a->addChild(makeNode("x"));
        a->addChild(c);
        a->addChild(makeNode("y"));
        moved = c.get();
        EXPECT_EQ(moved->refCount(), 2u);
        b->addChild(c);
        b->insertChildBefore(makeNode("first"), c);
        a->insertChildBefore(c, a->getFirstChild());
        EXPECT_EQ(moved->refCount(), 2u);
        EXPECT_EQ(childNames(a), "cxy");
        EXPECT_EQ(childNames(b), "first");
        expectConsistent(a);
        expectConsistent(b);
    }
    // Only the tree holds c now; the reference taken out is the last one.
    EXPECT_EQ(moved->refCount(), 1u);
    NodePtr taken = moved->detachTaking();
    EXPECT_EQ(taken.get(), moved);
    EXPECT_EQ(moved->refCount(), 1u);
    EXPECT_EQ(moved->parentNode(), nullptr);
    EXPECT_EQ(childNames(a), "xy");
    expectConsistent(a);
    EXPECT_FALSE(moved->detachTaking());
    const std::size_t withC = alive();
    taken.reset();
    EXPECT_EQ(alive(), withC - 1);
    a.reset();
    b.reset();
    EXPECT_EQ(alive(), before);
}

TEST(TreeTest, AddingANodeBelowItselfIsRefusedSoNoCycleForms) {
    NodePtr top = makeNode("top"), mid = makeNode("mid"), leaf = makeNode("leaf");
    top->addChild(mid);
    mid->addChild(leaf);
    EXPECT_THROW(leaf->addChild(top), qz::ExtException);
    EXPECT_THROW(leaf->addChild(mid), qz::ExtException);
    EXPECT_THROW(mid->addChild(mid), qz::ExtException);
    EXPECT_THROW(mid->insertChildBefore(top, leaf), qz::ExtException);
    EXPECT_THROW(mid->addChild(NodePtr()), qz::ExtException);
    EXPECT_EQ(childNames(top), "mid");
    EXPECT_EQ(childNames(mid), "leaf");
    EXPECT_FALSE(top->getParent());
}

// top -> (a -> (a1, a2), b -> (b1))
struct SmallTree {
    NodePtr top = makeNode("top");
    NodePtr a = makeNode("a"), a1 = makeNode("a1"), a2 = makeNode("a2");
    NodePtr b = makeNode("b"), b1 = makeNode("b1");
    SmallTree() {
        top->addChild(a);
        top->addChild(b);
        a->addChild(a1);
        a->addChild(a2);
        b->addChild(b1);
    }
};

TEST(TreeTest, TraverseVisitsDepthFirstPreOrderAndSkipsBelowAFalsePredicate) {
    SmallTree t;
    std::string order;
    Node::traverse(t.top, [&](Node* n) {
        order += n->getName() + " ";
        return true;
    });
    EXPECT_EQ(order, "top a a1 a2 b b1 ");

    order.clear();
    Node::traverse(t.top, [&](Node* n) {
        order += n->getName() + " ";
        return false;
    });
    EXPECT_EQ(order, "top ");

    order.clear();
    Node::traverse(t.top, [&](const NodePtr& n) {
        order += n->getName() + " ";
        return n != t.a;
    });
    EXPECT_EQ(order, "top a b b1 ");

    order.clear();
    const Node* constTop = t.top.get();
    Node::traverse(constTop, [&](const Node* n) {
        order += n->getName();
        return true;
    });
    EXPECT_EQ(order, "topaa1a2bb1");

    order.clear();
    Node::traverse(NodePtr(), [&](Node*) {
        order += "x";
        return true;
    });
    EXPECT_EQ(order, "");
}

TEST(TreeTest, CountedTraverseSurvivesAPredicateThatUnlinksTheNodesItVisits) {
    SmallTree t;
    std::string order;
    const std::size_t before = alive();
    Node::traverse(t.top, [&](const NodePtr& n) {
        order += n->getName() + " ";
        if (n->getName() == "a1" || n->getName() == "a2") n->getParent()->removeChild(n);
        return true;
    });
    EXPECT_EQ(order, "top a a1 a2 b b1 ");
    EXPECT_EQ(childNames(t.a), "");
    EXPECT_EQ(alive(), before);  // a1, a2 are still held by the fixture
}

TEST(TreeTest, AncestorsAreNearestFirstAndCommonAncestorIsTheNearestShared) {
    SmallTree t;
    const auto up = Node::getAncestors(t.a2.get());
    ASSERT_EQ(up.size(), 3u);
    EXPECT_EQ(up[0], t.a2);
    EXPECT_EQ(up[1], t.a);
    EXPECT_EQ(up[2], t.top);
    EXPECT_TRUE(Node::getAncestors(nullptr).empty());

    EXPECT_EQ(Node::commonAncestor(t.a1.get(), t.a2.get()), t.a);
    EXPECT_EQ(Node::commonAncestor(t.a1.get(), t.b1.get()), t.top);
    EXPECT_EQ(Node::commonAncestor(t.a.get(), t.a2.get()), t.a);
    EXPECT_EQ(Node::commonAncestor(t.a2.get(), t.a.get()), t.a);
    EXPECT_EQ(Node::commonAncestor(t.b1.get(), t.b1.get()), t.b1);
    NodePtr loner = makeNode("loner");
    EXPECT_FALSE(Node::commonAncestor(t.a1.get(), loner.get()));
    EXPECT_FALSE(Node::commonAncestor(nullptr, t.a1.get()));
}

TEST(TreeTest, WalkUpStopsAtTheFirstFalseOrPastTheTop) {
    SmallTree t;
    std::string seen;
    Node* stop = Node::walkUp(t.a2.get(), [&](Node* n) {
        seen += n->getName() + " ";
        return n->getName() != "a";
    });
    EXPECT_EQ(stop, t.a.get());
    EXPECT_EQ(seen, "a2 a ");
    seen.clear();
    EXPECT_EQ(Node::walkUp(t.b1.get(), [&](Node* n) {
                  seen += n->getName() + " ";
                  return true;
              }),
              nullptr);
    EXPECT_EQ(seen, "b1 b top ");
}

TEST(TreeTest, ReleasingATreeOfThousandsOfNodesLeavesNoObjectAlive) {
    const std::size_t before = alive();
    {
        NodePtr top = makeNode("top");
        std::vector<NodePtr> level = {top};
        // Five levels of fan-out 5 plus properties on every node.
        for (int depth = 0; depth < 5; ++depth) {
            std::vector<NodePtr> next;
            for (const NodePtr& parent : level)
                for (int i = 0; i < 5; ++i) {
                    NodePtr n = makeNode("n");
                    n->setVersion(depth);
                    parent->addChild(n);
                    next.push_back(n);
                }
            level = std::move(next);
        }
        level.clear();
        EXPECT_GT(alive(), before + 3900);
    }
    EXPECT_EQ(alive(), before);
}

TEST(TreeTest, DeepChainIsTraversedCopiedAndReleasedWithoutExhaustingTheStack) {
    constexpr std::size_t kDepth = 100000;
    const std::size_t before = alive();
    {
        NodePtr top = makeNode("top");
        Node* deepest = top.get();
        for (std::size_t i = 1; i < kDepth; ++i) {
            NodePtr n = makeNode("");
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
        copies.clear();
        copy.reset();
        EXPECT_EQ(alive(), before + kDepth);

        // Adding a deep subtree under a deep node checks ancestry without
        // walking the subtree.
        NodePtr other = makeNode("other");
        deepest->addChild(other);
        EXPECT_EQ(other->getParent().get(), deepest);
    }
    EXPECT_EQ(alive(), before);
}

TEST(TreeTest, LongSiblingChainIsReleasedWithoutExhaustingTheStack) {
    const std::size_t before = alive();
    {
        NodePtr top = makeNode("top");
        for (int i = 0; i < 100000; ++i) top->addChild(makeNode(""));
        EXPECT_EQ(top->getNumChildren(), 100000u);
    }
    EXPECT_EQ(alive(), before);
}

TEST(TreeTest, ChildHeldElsewhereSurvivesItsParentUnlinked) {
    const std::size_t before = alive();
    NodePtr a1, b;
    {
        SmallTree t;
        a1 = t.a1;
        b = t.b;
    }
    // a1 and b live on as separate tops, b still with its own child.
    EXPECT_EQ(alive(), before + 3);
    EXPECT_FALSE(a1->getParent());
    EXPECT_FALSE(a1->getNextSibling());
    EXPECT_FALSE(a1->getPrevSibling());
    EXPECT_FALSE(b->getParent());
    EXPECT_FALSE(b->getPrevSibling());
    EXPECT_EQ(childNames(b), "b1");
    // They can join a new tree without dragging old siblings along.
    NodePtr top = makeNode("new");
    top->addChild(a1);
    top->addChild(b);
    EXPECT_EQ(childNames(top), "a1b");
    expectConsistent(top);
}

TEST(TreeTest, CopyTreeRebuildsTheShapeWithNewNodesAndSharedProperties) {
    SmallTree t;
    t.a->setVersion(7);
    NodeCopies copies;
    NodePtr copy = copyTree(t.top.get(), &copies);
    ASSERT_EQ(copies.size(), 6u);
    EXPECT_EQ(copies.at(t.top.get()), copy);
    EXPECT_EQ(childNames(copy), "ab");
    const NodePtr ca = copies.at(t.a.get());
    EXPECT_EQ(childNames(ca), "a1a2");
    EXPECT_EQ(ca->getParent(), copy);
    EXPECT_EQ(ca->getVersion(), 7u);
    EXPECT_EQ(ca->getProperties()[0], t.a->getProperties()[0]);
    expectConsistent(copy);
    expectConsistent(ca);
    // The source tree is untouched.
    EXPECT_EQ(childNames(t.top), "ab");
    EXPECT_EQ(t.a->getParent(), t.top);
    EXPECT_FALSE(copyTree(nullptr));
}

TEST(TreeTest, CloneOfATreeNodeStartsOutsideAnyTree) {
    SmallTree t;
    t.a->setVersion(2);
    NodePtr copy = qz::dynamicPtrCast<Node>(t.a->clone());
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->getName(), "a");
    EXPECT_EQ(copy->getProperties(), t.a->getProperties());
    EXPECT_FALSE(copy->getParent());
    EXPECT_FALSE(copy->getFirstChild());
    EXPECT_FALSE(copy->getNextSibling());
    // Giving the copy children leaves the source's children alone.
    copy->addChild(makeNode("x"));
    EXPECT_EQ(childNames(t.a), "a1a2");
}

}  // namespace
}  // namespace model
