#include "utils/ReplaceEmptyNodes.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "nodes/ArgAnimatedBone.h"
#include "nodes/ArgAnimationNode.h"
#include "nodes/ArgVisibilityNode.h"
#include "nodes/Bone.h"
#include "nodes/TransformNode.h"
#include "utils/RemoveNode.h"
#include "utils/ReplaceNode.h"

namespace model::utils {

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

// What can stand for a node that has no effect of its own.
struct Replacement {
    // A plain group node, made when it is needed: a run that removes
    // plain nodes next may take the node out instead (see dropPlain).
    bool plain = false;
    // Otherwise the node made to stand for it; null when n has an effect.
    Ptr<Node> node;
};

// The simpler node that can stand for n (of the given type).
Replacement replacementFor(const Node& n, NodeType type) {
    switch (type) {
        case NodeType::TransformNode:
            return {static_cast<const TransformNode&>(n).getMatrix().isIdentity(), nullptr};
        case NodeType::ArgVisibilityNode:
            return {hidesNothing(static_cast<const ArgVisibilityNode&>(n)), nullptr};
        case NodeType::ArgAnimationNode: {
            const auto& animation = static_cast<const ArgAnimationNode&>(n);
            if (!animation.hasNoKeys()) return {};
            const Matrix44d m = animation.evaluateMatrix(DummyArguments());
            if (m.isIdentity()) return {true, nullptr};
            Ptr<TransformNode> transform = ClassRegistry::make<TransformNode>("model::TransformNode");
            transform->setName(n.getName());
            transform->setMatrix(m);
            return {false, transform};
        }
        case NodeType::ArgAnimatedBone: {
            const auto& animated = static_cast<const ArgAnimatedBone&>(n);
            if (!animated.hasNoKeys()) return {};
            Ptr<Bone> bone = ClassRegistry::make<Bone>("model::Bone");
            bone->setName(n.getName());
            bone->setMatrix(animated.evaluateMatrix(DummyArguments()));
            bone->setBoneMatrix(animated.getBoneMatrix());
            return {false, bone};
        }
        default:
            return {};
    }
}

// The scan reads the animation lists and visibility entries of the nodes
// it meets, which live apart from the nodes: they are asked for once the
// node itself (fetched further ahead by the scan) is there to say where.
void prefetchLists(const Node* n, NodeType type) noexcept {
    if (!n) return;
    if (type == NodeType::ArgVisibilityNode) {
        qz::prefetchForRead(static_cast<const ArgVisibilityNode*>(n)->getEntries().data());
    } else if (type == NodeType::ArgAnimationNode) {
        const auto* a = static_cast<const ArgAnimationNode*>(n);
        qz::prefetchForRead(a->getPositionAnimations().data());
        qz::prefetchForRead(a->getRotationAnimations().data());
        qz::prefetchForRead(a->getScaleAnimations().data());
    }
}

std::uint64_t replaceOrDrop(PreOrder& order, const NodeHelpers& helpers, bool dropPlain, std::uint64_t& dropped) {
    // (replacement, entry of the node it replaces)
    std::vector<std::pair<Replacement, std::size_t>> pairs;
    constexpr std::size_t kLists = 8;
    order.scan([&pairs, &order](std::size_t i, const Node& n, NodeType type) {
        if (i + kLists < order.size()) prefetchLists(order.node(i + kLists), order.type(i + kLists));
        Replacement replacement = replacementFor(n, type);
        if (replacement.plain || replacement.node) pairs.emplace_back(std::move(replacement), i);
    });
    dropped = 0;
    for (std::size_t k = 0; k < pairs.size(); ++k) {
        prefetchAhead(pairs, k, [&order](const auto& pair) { return order.node(pair.second); });
        const auto& [replacement, i] = pairs[k];
        const Ptr<Node> node(order.node(i));
        if (replacement.plain && dropPlain && isMovable(*node)) {
            // What removeDummyNodes would do to the plain replacement, done
            // to the node itself. The replacement would hang off the node's
            // parent now, or off the plain stand-in of a parent taken out
            // here, which protects nothing, just as the parent's own parent
            // that the node hangs off now does not (the parent was movable).
            // So it would be collected exactly when the node is movable now.
            // Removals splice, so their order does not change the tree.
            helpers.replaceParent(node.get(), Ptr<Node>(node->parentNode()));
            if (removeNode(helpers, node)) order.remove(i);
            ++dropped;
            continue;
        }
        const Ptr<Node> stand = replacement.plain ? plainNode(*node) : replacement.node;
        replaceNode(helpers, node, stand);
        order.replace(i, stand.get());
    }
    order.settle();
    return pairs.size();
}

}  // namespace

std::uint64_t replaceEmptyNodes(const Ptr<Node>& top, const NodeHelpers& helpers) {
    PreOrder order(top);
    return replaceEmptyNodes(order, helpers);
}

std::uint64_t replaceEmptyNodes(PreOrder& order, const NodeHelpers& helpers) {
    std::uint64_t dropped = 0;
    return replaceOrDrop(order, helpers, false, dropped);
}

std::uint64_t replaceEmptyNodes(PreOrder& order, const NodeHelpers& helpers, std::uint64_t& dropped) {
    return replaceOrDrop(order, helpers, true, dropped);
}

}  // namespace model::utils
