// The optimisation run keeps one pre-order list and an attachment index
// across its passes; on random models it must leave exactly what a run that
// walks the tree afresh for every pass and asks the root node's own scans
// leaves.

#include <cstdio>
#include <random>
#include <unordered_map>

#include "ModelTestSupport.h"
#include "utils/OptimizeTransformations.h"

using namespace model;
using modeltest::make;

namespace {

Matrix44d randomMatrix(std::mt19937& rng) {
    std::uniform_int_distribution<int> pick(0, 3);
    Matrix44d m;
    switch (pick(rng)) {
        case 0: break;
        case 1: m = modeltest::translation(pick(rng), 0, -pick(rng)); break;
        case 2: m = modeltest::quarterTurn(0, 1, 1, modeltest::translation(0, pick(rng), 0)); break;
        default:
            m(0, 0) = 2;
            m(2, 2) = 0.5;
            break;
    }
    return m;
}

Ptr<Node> randomTreeNode(std::mt19937& rng, int id) {
    const std::string name = "n" + std::to_string(id);
    // The node with a random matrix given through its setter.
    auto withMatrix = [&](auto n, auto setter) -> Ptr<Node> { return ((*n).*setter)(randomMatrix(rng)), n; };
    switch (rng() % 10) {
        case 0:
        case 1: return modeltest::node(name);
        case 2:
        case 3: return modeltest::transform(name, randomMatrix(rng));
        case 4: {
            auto a = make<ArgAnimationNode>("model::ArgAnimationNode", name);
            a->setBaseMatrix(randomMatrix(rng));
            if (rng() % 2) a->setPositionAnimations({{1, {{0.0, {0, 0, 0}}, {1.0, {1, 1, 1}}}}});
            return a;
        }
        case 5: {
            auto v = make<ArgVisibilityNode>("model::ArgVisibilityNode", name);
            if (rng() % 2) v->setEntries({{2, {{0.0, 0.5}}}});
            return v;
        }
        case 6: return make<LodNode>("model::LodNode", name);
        case 7: return withMatrix(make<Bone>("model::Bone", name), &Bone::setMatrix);
        case 8: return withMatrix(make<ArgAnimatedBone>("model::ArgAnimatedBone", name), &ArgAnimatedBone::setBaseMatrix);
        default: return withMatrix(make<BillboardNode>("model::BillboardNode", name), &BillboardNode::setMatrix);
    }
}

// Vertices 0-2 belong to parent 0, 3-5 to parent 1 (fourth position
// component), so each parent's geometry is transformed on its own.
Ptr<RenderNode> randomMesh(std::mt19937& rng, const std::vector<Ptr<Node>>& nodes, int id) {
    auto r = make<RenderNode>("model::RenderNode", "mesh" + std::to_string(id));
    const bool two = rng() % 3 == 0;
    r->setParent(0, nodes[rng() % nodes.size()]);
    if (two) r->addParentEntry(nodes[rng() % nodes.size()]);
    Vertices v;
    std::vector<float> positions;
    for (int i = 0; i < 6; ++i) positions.insert(positions.end(), {float(i), float(id % 7), float(i * id % 5), two && i >= 3 ? 1.0f : 0.0f});
    v.setAttribute(POSITION0, 4, positions);
    v.setAttribute(NORMAL0, 3, std::vector<float>(18, 0.5f));
    r->replaceGeometry(v, modeltest::indexList({0, 1, 2, 3, 4, 5}));
    return r;
}

Ptr<RootNode> randomModel(unsigned seed, int treeNodes, int baseNodes) {
    std::mt19937 rng(seed);
    auto root = make<RootNode>("model::RootNode");
    // Some tops are replaced by the first pass, so that the passes go on
    // from a new top node.
    std::vector<Ptr<Node>> nodes{seed % 3 == 0   ? randomTreeNode(rng, 0)
                                 : seed % 3 == 1 ? Ptr<Node>(modeltest::transform("top", Matrix44d()))
                                                 : modeltest::node("top")};
    root->setTopNode(nodes[0]);
    for (int i = 1; i < treeNodes; ++i) {
        // Mostly deep: a recent node is the usual parent.
        const Ptr<Node> parent = nodes[nodes.size() - std::min<std::size_t>(nodes.size(), 1 + rng() % 6)];
        nodes.push_back(randomTreeNode(rng, i));
        parent->addChild(nodes.back());
    }
    for (int i = 0; i < baseNodes; ++i) {
        const unsigned kind = rng() % 5;
        if (kind >= 2) {
            root->addRenderNode(randomMesh(rng, nodes, i));
        } else if (kind == 0) {
            root->addConnector(modeltest::under<Connector>(nodes[rng() % nodes.size()], "model::Connector",
                                                           "connector" + std::to_string(i)));
        } else {
            root->addLight(modeltest::under<LightNode>(nodes[rng() % nodes.size()], "model::LightNode",
                                                       "light" + std::to_string(i)));
        }
    }
    return root;
}

// Everything the optimisation may change, as text: the tree in walk order
// with classes, names and matrices; each base node's parents by walk
// position; each mesh's vertices.
std::string describe(const RootNode& root) {
    std::string s;
    char buffer[32];
    std::unordered_map<const Node*, std::size_t> position;
    Node::traverse(static_cast<const Node*>(root.getTopNode().get()), [&](const Node* n) {
        position.emplace(n, position.size());
        s += std::to_string(n->parentNode() ? position.at(n->parentNode()) : 0) + " " +
             getNodeTypeName(n->getType()) + " " + n->getName();
        if (const auto* t = dynamic_cast<const TransformNode*>(n))
            for (double v : t->getMatrix().m) s += (std::snprintf(buffer, sizeof buffer, " %.17g", v), buffer);
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
    for (std::size_t iterations = 0;;) {
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

class OptimizeIndexedRun : public ::testing::TestWithParam<unsigned> {};

}  // namespace

TEST_P(OptimizeIndexedRun, LeavesWhatFreshWalksAndTheRootNodeScansLeave) {
    const unsigned seed = GetParam();
    const Ptr<RootNode> scanned = randomModel(seed, 150, 60);
    const Ptr<RootNode> indexed = randomModel(seed, 150, 60);
    ASSERT_EQ(describe(*scanned), describe(*indexed));

    utils::RemovedList removed;
    const std::size_t scannedIterations = iterateWithFreshWalks(*scanned, utils::bindNodeHelpers(*scanned, removed));
    for (const auto& n : removed) n->setName(utils::kDeletedNodeName);
    EXPECT_EQ(optimizeTransformations(*indexed), scannedIterations);
    EXPECT_EQ(describe(*indexed), describe(*scanned));
    // Nothing that was removed is still pointed at by a base node.
    for (const Ptr<BaseNode>& b : indexed->getAllBaseNodes())
        for (std::size_t i = 0; i < b->getNumParents(); ++i)
            EXPECT_NE(b->getParent(i)->getName(), utils::kDeletedNodeName) << b->getName();
}

INSTANTIATE_TEST_SUITE_P(Seeds, OptimizeIndexedRun, ::testing::Range(1u, 41u));
