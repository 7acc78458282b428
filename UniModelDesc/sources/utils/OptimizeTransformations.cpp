#include "utils/OptimizeTransformations.h"

#include <algorithm>
#include <unordered_map>
#include <utility>
#include <vector>

#include "ClassRegistry.h"
#include "nodes/ArgAnimatedBone.h"
#include "nodes/ArgAnimationNode.h"
#include "nodes/ArgVisibilityNode.h"
#include "nodes/Bone.h"
#include "nodes/TransformNode.h"
#include "utils/AttachmentIndex.h"

namespace model {

namespace utils {

// ---------------------------------------------------------------------------
// 1. replaceEmptyNodes
// ---------------------------------------------------------------------------

namespace {

Ptr<Node> plainNode(const Node& like) {
    Ptr<Node> node = ClassRegistry::make<Node>("model::Node");
    node->setName(like.getName());
    return node;
}

bool hidesNothing(const ArgVisibilityNode& node) {
    const auto& entries = node.getEntries();
    return std::all_of(entries.begin(), entries.end(), [](const VisibilityEntry& e) { return e.ranges.empty(); });
}

// The simpler node that can stand for n (of the given type); null when n
// has an effect of its own.
Ptr<Node> replacementFor(const Node& n, NodeType type) {
    switch (type) {
        case NodeType::TransformNode:
            return static_cast<const TransformNode&>(n).getMatrix().isIdentity() ? plainNode(n) : nullptr;
        case NodeType::ArgVisibilityNode:
            return hidesNothing(static_cast<const ArgVisibilityNode&>(n)) ? plainNode(n) : nullptr;
        case NodeType::ArgAnimationNode: {
            const auto& animation = static_cast<const ArgAnimationNode&>(n);
            if (!animation.hasNoKeys()) return nullptr;
            const Matrix44d m = animation.evaluateMatrix(DummyArguments());
            if (m.isIdentity()) return plainNode(n);
            Ptr<TransformNode> transform = ClassRegistry::make<TransformNode>("model::TransformNode");
            transform->setName(n.getName());
            transform->setMatrix(m);
            return transform;
        }
        case NodeType::ArgAnimatedBone: {
            const auto& animated = static_cast<const ArgAnimatedBone&>(n);
            if (!animated.hasNoKeys()) return nullptr;
            Ptr<Bone> bone = ClassRegistry::make<Bone>("model::Bone");
            bone->setName(n.getName());
            bone->setMatrix(animated.evaluateMatrix(DummyArguments()));
            bone->setBoneMatrix(animated.getBoneMatrix());
            return bone;
        }
        default:
            return nullptr;
    }
}

}  // namespace

std::uint64_t replaceEmptyNodes(const Ptr<Node>& top, const NodeHelpers& helpers) {
    PreOrder order(top);
    return replaceEmptyNodes(order, helpers);
}

std::uint64_t replaceEmptyNodes(PreOrder& order, const NodeHelpers& helpers) {
    // Collect: (replacement, entry of the node it replaces).
    std::vector<std::pair<Ptr<Node>, std::size_t>> pairs;
    order.scan([&pairs](std::size_t i, const Node& n, NodeType type) {
        if (Ptr<Node> replacement = replacementFor(n, type)) pairs.emplace_back(std::move(replacement), i);
    });
    // Change.
    forEachAhead(
        pairs.size(), [&](std::size_t k) { return order.node(pairs[k].second); },
        [&](std::size_t k) {
            const auto& [replacement, i] = pairs[k];
            replaceNode(helpers, Ptr<Node>(order.node(i)), replacement);
            order.replace(i, replacement.get());
        });
    order.settle();
    return pairs.size();
}

// ---------------------------------------------------------------------------
// 2. removeDummyNodes
// ---------------------------------------------------------------------------

std::uint64_t removeDummyNodes(const Ptr<Node>& top, const NodeHelpers& helpers) {
    PreOrder order(top);
    return removeDummyNodes(order, helpers);
}

std::uint64_t removeDummyNodes(PreOrder& order, const NodeHelpers& helpers) {
    const std::vector<std::size_t> dummies = order.select(NodeType::Node, [](const Node& n) { return isMovable(n); });
    order.forEach(dummies, [&](std::size_t i, Node& n) {
        const Ptr<Node> node(&n);
        // An earlier removal moves a dummy into its grandparent, so the
        // parent is looked up now rather than at collection time.
        const Ptr<Node> parent = node->getParent();
        if (!parent) return;
        helpers.replaceParent(node.get(), parent);
        if (removeNode(helpers, node)) order.remove(i);
    });
    order.settle();
    return dummies.size();
}

// ---------------------------------------------------------------------------
// 3. removeDeadEnds
// ---------------------------------------------------------------------------

std::uint64_t removeDeadEnds(const Ptr<Node>& top, const NodeHelpers& helpers) {
    PreOrder order(top);
    return removeDeadEnds(order, helpers);
}

std::uint64_t removeDeadEnds(PreOrder& order, const NodeHelpers& helpers) {
    const std::vector<std::size_t> deadEnds = order.select([&helpers](const Node& n) {
        return isMovable(n) && !n.hasChildren() && !helpers.hasAttached(&n);
    });
    order.forEach(deadEnds, [&](std::size_t i, Node& n) {
        if (removeNode(helpers, Ptr<Node>(&n))) order.remove(i);
    });
    order.settle();
    return deadEnds.size();
}

// ---------------------------------------------------------------------------
// 4. moveTransforms
// ---------------------------------------------------------------------------

namespace {

// A matrix to bake into the geometry of one parent of a base node.
struct Bake {
    BaseNode* base;
    std::size_t index;
    Matrix44d m;
};

// Step b: bakes m into the base nodes hanging off t, as far as the tree is
// concerned; the geometry is baked after the pass (bakeGeometry). True when
// every one of them takes it (or there were none), so the children may move
// on.
bool bakeIntoGeometry(const Ptr<Node>& t, const Matrix44d& m, const NodeHelpers& helpers, std::uint64_t& count,
                      std::vector<Bake>& bakes) {
    const AttachedList attached = helpers.getAttached(t.get());
    bool allTook = true;
    Ptr<Node> group;
    for (const auto& [base, index] : attached) {
        if (!base->takesGeometryTransform(index)) {
            allTook = false;
            continue;
        }
        bakes.push_back({base.get(), index, m});
        if (!group) {
            // The baked geometry must stay where t is without t's matrix: a
            // new group in t's place holds it, with t below.
            group = ClassRegistry::make<Node>("model::Node");
            t->parentNode()->insertChildBefore(group, t);
            group->addChild(t);
        }
        helpers.setParent(*base, index, group);
        ++count;
    }
    return allTook;
}

// Step c: hands m on to the children of t that can take it and moves them
// up next to t.
void moveChildrenUp(const Ptr<Node>& t, const Matrix44d& m, const NodeHelpers& helpers, std::uint64_t& count) {
    for (const Ptr<Node>& child : t->getChildren()) {
        switch (child->getOptimizerKind()) {
            case OptimizerTrait::kMergesTransform:
                child->mergeTransform(m);
                t->parentNode()->insertChildBefore(child, t);
                ++count;
                break;
            case OptimizerTrait::kPassesThrough: {
                Ptr<TransformNode> below = ClassRegistry::make<TransformNode>("model::TransformNode");
                below->setName(t->getName());
                below->setMatrix(m);
                helpers.replaceParent(child.get(), below);
                for (const Ptr<Node>& grandChild : child->getChildren()) below->addChild(grandChild);
                child->addChild(below);
                t->parentNode()->insertChildBefore(child, t);
                ++count;
                break;
            }
            default:
                break;
        }
    }
}

// The geometry of the bakes: each base node's in the order the pass decided
// them (a node of several parents may take several matrices, and they need
// not commute), the nodes on the workers as items: their sizes differ by
// orders of magnitude.
void bakeGeometry(const std::vector<Bake>& bakes, const Workers& workers) {
    std::unordered_map<const BaseNode*, std::size_t> nodeOf;
    std::vector<std::vector<const Bake*>> nodes;
    for (const Bake& bake : bakes) {
        const auto [at, fresh] = nodeOf.emplace(bake.base, nodes.size());
        if (fresh) nodes.emplace_back();
        nodes[at->second].push_back(&bake);
    }
    workers.forEachItem(nodes.size(), [&](std::size_t k) {
        for (const Bake* bake : nodes[k]) bake->base->transformGeometry(bake->index, bake->m);
    });
}

}  // namespace

std::uint64_t moveTransforms(const Ptr<Node>& top, const NodeHelpers& helpers, const Workers& workers) {
    PreOrder order(top);
    return moveTransforms(order, helpers, workers);
}

std::uint64_t moveTransforms(PreOrder& order, const NodeHelpers& helpers, const Workers& workers) {
    // Moves leave every node alive and its entry in place until the list is
    // rebuilt below, so the entries stay valid through the loop.
    const std::vector<std::size_t> transforms = order.select(NodeType::TransformNode, [](const Node&) { return true; });
    std::uint64_t count = 0;
    std::vector<Bake> bakes;
    order.forEach(transforms, [&](std::size_t, Node& n) {
        const Ptr<Node> t(&n);
        if (!isMovable(*t)) return false;  // step a
        const Matrix44d m = static_cast<const TransformNode&>(*t).getMatrix();
        if (bakeIntoGeometry(t, m, helpers, count, bakes)) moveChildrenUp(t, m, helpers, count);
        return true;
    });
    bakeGeometry(bakes, workers);
    // Moves reorder the tree; nothing counted means nothing moved.
    if (count != 0) order.rebuild(Ptr<Node>(order.top()));
    return count;
}

// ---------------------------------------------------------------------------
// The iteration
// ---------------------------------------------------------------------------

std::size_t iteratePasses(RootNode& root, const NodeHelpers& helpers, const Workers& workers) {
    std::size_t iterations = 0;
    // One walk serves every pass: each leaves the list describing the tree
    // as it left it, so it carries over to the next iteration unless the
    // model's top node changed.
    PreOrder order;
    for (;;) {
        // Held here: replaceEmptyNodes may give the model a new top node,
        // which the next iteration picks up.
        const Ptr<Node> top = root.getTopNode();
        if (!top) return iterations;
        ++iterations;
        if (order.top() != top) order.rebuild(top);
        const std::uint64_t replaced = replaceEmptyNodes(order, helpers);
        const std::uint64_t dummies = removeDummyNodes(order, helpers);
        std::uint64_t deadEnds = removeDeadEnds(order, helpers);
        const std::uint64_t moved = moveTransforms(order, helpers, workers);
        if (deadEnds != 0)
            while (const std::uint64_t more = removeDeadEnds(order, helpers)) deadEnds += more;
        if (replaced + dummies + deadEnds + moved == 0) return iterations;
    }
}

}  // namespace utils

std::size_t optimizeTransformations(RootNode& root, const utils::Workers& workers) {
    utils::AttachmentIndex index(root);
    utils::RemovedList removed;
    // Renaming marks removed nodes for anyone still holding them (a script's
    // node wrappers), whether or not the run got to its end. Each node is
    // released right after its renaming, while it is still in the cache.
    struct MarkRemoved {
        utils::RemovedList& removed;
        ~MarkRemoved() {
            utils::forEachAhead(
                removed.size(), [this](std::size_t i) { return removed[i].get(); },
                [this](std::size_t i) {
                    removed[i]->setName(utils::kDeletedNodeName);
                    removed[i].reset();
                });
        }
    } mark{removed};
    return utils::iteratePasses(root, utils::bindNodeHelpers(root, index, removed), workers);
}

}  // namespace model
