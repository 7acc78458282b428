// The attachment index of the optimisation run: its answers against the root
// node's own scans, on hand-made cases and on random models run through the
// whole optimisation both ways.

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

#include "ClassRegistry.h"
#include "PropertiesSet.h"
#include "nodes/ArgAnimatedBone.h"
#include "nodes/ArgAnimationNode.h"
#include "nodes/ArgVisibilityNode.h"
#include "nodes/BillboardNode.h"
#include "nodes/Bone.h"
#include "nodes/Connector.h"
#include "nodes/LightNode.h"
#include "nodes/LodNode.h"
#include "nodes/RenderNode.h"
#include "nodes/RootNode.h"
#include "nodes/TransformNode.h"
#include "utils/AttachmentIndex.h"
#include "utils/OptimizeTransformations.h"

using namespace model;

namespace {


Ptr<Node> plain(const std::string& name) {
    auto n = ClassRegistry::make<Node>("model::Node");
    n->setName(name);
    return n;
}

Ptr<RenderNode> renderOn(const std::vector<Ptr<Node>>& parents) {
    auto r = ClassRegistry::make<RenderNode>("model::RenderNode");
    std::vector<RenderParentEntry> entries;
    for (const auto& p : parents) entries.push_back(RenderParentEntry{p, kNoArgument, BoundingBox()});
    r->setParentEntries(entries);
    return r;
}

AttachedList expected(std::initializer_list<std::pair<Ptr<BaseNode>, std::size_t>> pairs) { return AttachedList(pairs); }

}  // namespace

TEST(OptimizeAttachmentIndex, AnswersInBaseNodeOrderAfterLinksMoveAround) {
    auto a = plain("a");
    auto b = plain("b");
    auto connector = ClassRegistry::make<Connector>("model::Connector");
    connector->setParent(0, a);
    auto r1 = renderOn({a, b, a});
    auto r2 = renderOn({a});
    utils::AttachmentIndex index({connector, r1, r2});
    const AttachedList all = expected({{connector, 0}, {r1, 0}, {r1, 2}, {r2, 0}});
    EXPECT_EQ(index.getAttached(a.get()), all);
    EXPECT_EQ(index.countAttached(a.get()), 4u);

    // Away and back again, in the opposite order: the answer keeps the
    // base-node order, and nothing is listed twice.
    index.setParent(*r1, 0, b);
    index.setParent(*connector, 0, b);
    EXPECT_EQ(index.getAttached(b.get()), expected({{connector, 0}, {r1, 0}, {r1, 1}}));
    index.setParent(*r1, 0, a);
    index.setParent(*connector, 0, a);
    EXPECT_EQ(index.getAttached(a.get()), all);
    EXPECT_EQ(index.getAttached(b.get()), expected({{r1, 1}}));
    EXPECT_EQ(r1->getParent(0), a);
    EXPECT_EQ(connector->getParent(0), a);
}

TEST(OptimizeAttachmentIndex, ReplaceParentMovesEveryLinkAndReportsWhetherAnyExisted) {
    auto a = plain("a");
    auto b = plain("b");
    auto unused = plain("unused");
    auto r1 = renderOn({a, b});
    auto r2 = renderOn({b, a});
    utils::AttachmentIndex index({r1, r2});
    EXPECT_FALSE(index.replaceParent(unused.get(), a));
    EXPECT_TRUE(index.replaceParent(a.get(), a));
    EXPECT_EQ(index.countAttached(a.get()), 2u);
    EXPECT_TRUE(index.replaceParent(a.get(), b));
    EXPECT_FALSE(index.hasAttached(a.get()));
    EXPECT_EQ(index.getAttached(b.get()), expected({{r1, 0}, {r1, 1}, {r2, 0}, {r2, 1}}));
    for (const auto& r : {r1, r2})
        for (std::size_t i = 0; i < 2; ++i) EXPECT_EQ(r->getParent(i), b);
    // Links to null leave the index.
    EXPECT_TRUE(index.replaceParent(b.get(), Ptr<Node>()));
    EXPECT_FALSE(index.hasAttached(b.get()));
    EXPECT_FALSE(r2->getParent(1));
}

// Built from the root node itself, the index must read its lists in
// getAllBaseNodes order (connectors, lights, shells, render nodes), whatever
// order they were added in, and know every base node for setParent.
TEST(OptimizeAttachmentIndex, BuiltFromTheRootListsAnswersInGetAllBaseNodesOrder) {
    auto a = plain("a");
    auto root = ClassRegistry::make<RootNode>("model::RootNode");
    root->setTopNode(a);
    auto r = renderOn({a, a});
    root->addRenderNode(r);
    auto light = ClassRegistry::make<LightNode>("model::LightNode");
    light->setParent(0, a);
    root->addLight(light);
    auto connector = ClassRegistry::make<Connector>("model::Connector");
    connector->setParent(0, a);
    root->addConnector(connector);

    utils::AttachmentIndex index(*root);
    EXPECT_EQ(index.getAttached(a.get()), root->getAttached(a.get()));
    EXPECT_EQ(index.getAttached(a.get()), expected({{connector, 0}, {light, 0}, {r, 0}, {r, 1}}));
    auto b = plain("b");
    index.setParent(*light, 0, b);
    EXPECT_EQ(index.getAttached(b.get()), expected({{light, 0}}));
    EXPECT_EQ(light->getParent(0), b);
}

TEST(OptimizeAttachmentIndex, RejectsUnknownBaseNodesAndIndicesPastTheParents) {
    auto a = plain("a");
    auto known = renderOn({a});
    auto stranger = renderOn({a});
    utils::AttachmentIndex index({known});
    EXPECT_THROW(index.setParent(*stranger, 0, a), std::out_of_range);
    EXPECT_THROW(index.setParent(*known, 1, a), std::out_of_range);
    EXPECT_EQ(stranger->getParent(0), a);
    EXPECT_EQ(index.countAttached(a.get()), 1u);
}

TEST(OptimizeAttachmentIndex, BaseNodeListedTwiceIsIndexedOnce) {
    auto a = plain("a");
    auto r = renderOn({a});
    utils::AttachmentIndex index({r, r, Ptr<BaseNode>()});
    EXPECT_EQ(index.getAttached(a.get()), expected({{r, 0}}));
}

// Links handed on to fresh nodes, batch after batch, make the index grow
// well past the size it started with; no node may be lost on the way, and
// nodes that never held a link (most of a tree) must be answered as such.
TEST(OptimizeAttachmentIndex, GrowingPastItsFirstSizeLosesNoNodeAndInventsNone) {
    std::vector<Ptr<Node>> holders;
    std::vector<Ptr<BaseNode>> bases;
    for (int i = 0; i < 40; ++i) {
        holders.push_back(plain("h" + std::to_string(i)));
        bases.push_back(renderOn({holders.back(), holders.back()}));
    }
    utils::AttachmentIndex index(bases);
    std::vector<Ptr<Node>> bystanders;
    for (int round = 0; round < 60; ++round) {
        for (Ptr<Node>& holder : holders) {
            Ptr<Node> next = plain(holder->getName() + "'");
            ASSERT_TRUE(index.replaceParent(holder.get(), next));
            bystanders.push_back(holder);
            holder = next;
        }
        bystanders.push_back(plain("never held anything"));
    }
    for (std::size_t i = 0; i < holders.size(); ++i)
        EXPECT_EQ(index.getAttached(holders[i].get()), expected({{bases[i], 0}, {bases[i], 1}}));
    for (const Ptr<Node>& n : bystanders) {
        EXPECT_FALSE(index.hasAttached(n.get()));
        EXPECT_TRUE(index.getAttached(n.get()).empty());
        EXPECT_FALSE(index.replaceParent(n.get(), holders.front()));
    }
}

// ---------------------------------------------------------------------------
// Random models: the indexed run must leave exactly what a run answered by
// the root node's own scans leaves.
// ---------------------------------------------------------------------------

namespace {

Matrix44d randomMatrix(std::mt19937& rng) {
    std::uniform_int_distribution<int> pick(0, 3);
    Matrix44d m;
    switch (pick(rng)) {
        case 0: break;  // identity
        case 1:
            m(3, 0) = pick(rng);
            m(3, 2) = -pick(rng);
            break;
        case 2:
            m(0, 0) = 0;
            m(0, 1) = 1;
            m(1, 0) = -1;
            m(1, 1) = 0;
            m(3, 1) = pick(rng);
            break;
        default:
            m(0, 0) = 2;
            m(2, 2) = 0.5;
            break;
    }
    return m;
}

Ptr<Node> randomTreeNode(std::mt19937& rng, int id) {
    std::uniform_int_distribution<int> kind(0, 9);
    const std::string name = "n" + std::to_string(id);
    Ptr<Node> n;
    switch (kind(rng)) {
        case 0:
        case 1: n = ClassRegistry::make<Node>("model::Node"); break;
        case 2:
        case 3: {
            auto t = ClassRegistry::make<TransformNode>("model::TransformNode");
            t->setMatrix(randomMatrix(rng));
            n = t;
            break;
        }
        case 4: {
            auto a = ClassRegistry::make<ArgAnimationNode>("model::ArgAnimationNode");
            a->setBaseMatrix(randomMatrix(rng));
            if (rng() % 2) a->setPositionAnimations({{1, {{0.0, {0, 0, 0}}, {1.0, {1, 1, 1}}}}});
            n = a;
            break;
        }
        case 5: {
            auto v = ClassRegistry::make<ArgVisibilityNode>("model::ArgVisibilityNode");
            if (rng() % 2) v->setEntries({{2, {{0.0, 0.5}}}});
            n = v;
            break;
        }
        case 6: n = ClassRegistry::make<LodNode>("model::LodNode"); break;
        case 7: {
            auto b = ClassRegistry::make<Bone>("model::Bone");
            b->setMatrix(randomMatrix(rng));
            n = b;
            break;
        }
        case 8: {
            auto b = ClassRegistry::make<ArgAnimatedBone>("model::ArgAnimatedBone");
            b->setBaseMatrix(randomMatrix(rng));
            n = b;
            break;
        }
        default: {
            auto b = ClassRegistry::make<BillboardNode>("model::BillboardNode");
            b->setMatrix(randomMatrix(rng));
            n = b;
            break;
        }
    }
    n->setName(name);
    return n;
}

// Vertices 0-2 belong to parent 0, 3-5 to parent 1 (fourth position
// component), so each parent's geometry is transformed on its own.
Ptr<RenderNode> randomMesh(std::mt19937& rng, const std::vector<Ptr<Node>>& nodes, int id) {
    std::uniform_int_distribution<std::size_t> which(0, nodes.size() - 1);
    const bool two = rng() % 3 == 0;
    auto r = renderOn(two ? std::vector<Ptr<Node>>{nodes[which(rng)], nodes[which(rng)]}
                          : std::vector<Ptr<Node>>{nodes[which(rng)]});
    r->setName("mesh" + std::to_string(id));
    Vertices v;
    std::vector<float> positions;
    for (int i = 0; i < 6; ++i) {
        positions.insert(positions.end(), {float(i), float(id % 7), float(i * id % 5)});
        positions.push_back(two && i >= 3 ? 1.0f : 0.0f);
    }
    v.setAttribute(POSITION0, 4, positions);
    v.setAttribute(NORMAL0, 3, std::vector<float>(18, 0.5f));
    Indices idx;
    idx.indices = {0, 1, 2, 3, 4, 5};
    r->replaceGeometry(v, idx);
    return r;
}

Ptr<RootNode> randomModel(unsigned seed, int treeNodes, int baseNodes) {
    std::mt19937 rng(seed);
    auto root = ClassRegistry::make<RootNode>("model::RootNode");
    // Some tops are replaced by the first pass, so that the passes go on
    // from a new top node.
    std::vector<Ptr<Node>> nodes{seed % 3 == 0 ? randomTreeNode(rng, 0) : plain("top")};
    if (seed % 3 == 1) {
        auto top = ClassRegistry::make<TransformNode>("model::TransformNode");
        top->setName("top");
        nodes[0] = top;
    }
    root->setTopNode(nodes[0]);
    for (int i = 1; i < treeNodes; ++i) {
        // Mostly deep: a recent node is the usual parent.
        const std::size_t back = std::min<std::size_t>(nodes.size(), 1 + rng() % 6);
        const Ptr<Node> parent = nodes[nodes.size() - back];
        nodes.push_back(randomTreeNode(rng, i));
        parent->addChild(nodes.back());
    }
    for (int i = 0; i < baseNodes; ++i) {
        switch (rng() % 5) {
            case 0: {
                auto c = ClassRegistry::make<Connector>("model::Connector");
                c->setName("connector" + std::to_string(i));
                c->setParent(0, nodes[rng() % nodes.size()]);
                root->addConnector(c);
                break;
            }
            case 1: {
                auto l = ClassRegistry::make<LightNode>("model::LightNode");
                l->setName("light" + std::to_string(i));
                l->setParent(0, nodes[rng() % nodes.size()]);
                root->addLight(l);
                break;
            }
            default: root->addRenderNode(randomMesh(rng, nodes, i)); break;
        }
    }
    return root;
}

std::string matrixText(const Matrix44d& m) {
    std::string s;
    char buffer[32];
    for (double v : m.m) {
        std::snprintf(buffer, sizeof buffer, " %.17g", v);
        s += buffer;
    }
    return s;
}

// Everything the optimisation may change, as text: the tree in walk order
// with classes, names and matrices; each base node's parents by walk
// position; each mesh's vertices.
std::string describe(const RootNode& root) {
    std::string s;
    std::unordered_map<const Node*, std::size_t> position;
    Node::traverse(static_cast<const Node*>(root.getTopNode().get()), [&](const Node* n) {
        position.emplace(n, position.size());
        s += std::to_string(n->parentNode() ? position.at(n->parentNode()) : 0) + " " +
             getNodeTypeName(n->getType()) + " " + n->getName();
        if (const auto* t = dynamic_cast<const TransformNode*>(n)) s += matrixText(t->getMatrix());
        s += "\n";
        return true;
    });
    for (const Ptr<BaseNode>& b : root.getAllBaseNodes()) {
        s += b->getName() + " ->";
        for (std::size_t i = 0; i < b->getNumParents(); ++i) {
            const auto it = position.find(b->getParent(i).get());
            s += it == position.end() ? std::string(" outside") : " " + std::to_string(it->second);
        }
        if (const auto* r = dynamic_cast<const RenderNode*>(b.get()))
            for (float v : r->getVertices().interleave()) s += " " + std::to_string(v);
        s += "\n";
    }
    return s;
}

// The iteration with every pass walking the tree afresh from the top.
std::size_t iterateWithFreshWalks(RootNode& root, const utils::NodeHelpers& helpers) {
    std::size_t iterations = 0;
    for (;;) {
        const Ptr<Node> top = root.getTopNode();
        if (!top) return iterations;
        ++iterations;
        const std::uint64_t replaced = utils::replaceEmptyNodes(top, helpers);
        const std::uint64_t dummies = utils::removeDummyNodes(top, helpers);
        std::uint64_t deadEnds = utils::removeDeadEnds(top, helpers);
        const std::uint64_t moved = utils::moveTransforms(top, helpers);
        if (deadEnds != 0)
            while (const std::uint64_t more = utils::removeDeadEnds(top, helpers)) deadEnds += more;
        if (replaced + dummies + deadEnds + moved == 0) return iterations;
    }
}

}  // namespace

class OptimizeIndexedRun : public ::testing::TestWithParam<unsigned> {};

// The run keeps one pre-order list and an attachment index across passes;
// the reference walks the tree afresh for every pass and asks the root
// node's own scans.
TEST_P(OptimizeIndexedRun, LeavesWhatFreshWalksAndTheRootNodeScansLeave) {
    const unsigned seed = GetParam();
    const Ptr<RootNode> scanned = randomModel(seed, 150, 60);
    const Ptr<RootNode> indexed = randomModel(seed, 150, 60);
    ASSERT_EQ(describe(*scanned), describe(*indexed));

    utils::RemovedList removed;
    const std::size_t scannedIterations =
        iterateWithFreshWalks(*scanned, utils::bindNodeHelpers(*scanned, removed));
    for (const auto& n : removed) n->setName(utils::kDeletedNodeName);
    const std::size_t indexedIterations = optimizeTransformations(*indexed);

    EXPECT_EQ(indexedIterations, scannedIterations);
    EXPECT_EQ(describe(*indexed), describe(*scanned));
    // Nothing that was removed is still pointed at by a base node.
    for (const Ptr<BaseNode>& b : indexed->getAllBaseNodes())
        for (std::size_t i = 0; i < b->getNumParents(); ++i)
            EXPECT_NE(b->getParent(i)->getName(), utils::kDeletedNodeName) << b->getName();
}

INSTANTIATE_TEST_SUITE_P(Seeds, OptimizeIndexedRun, ::testing::Range(1u, 41u));
