#include "utils/ReplaceEmptyNodes.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "nodes/ArgAnimatedBone.h"
#include "nodes/ArgAnimationNode.h"
#include "nodes/ArgVisibilityNode.h"
#include "nodes/Bone.h"
#include "nodes/TransformNode.h"
#include "utils/ReplaceNode.h"

namespace model::utils {

namespace {

Ptr<Node> plainNode(const Node& like) {
    Ptr<Node> node = createNode<Node>("model::Node");
    node->setName(like.getName());
    return node;
}

bool hidesNothing(const ArgVisibilityNode& node) {
    const auto& entries = node.getEntries();
    return std::all_of(entries.begin(), entries.end(), [](const VisibilityEntry& e) { return e.ranges.empty(); });
}

// The simpler node that can stand for n (of the given type), or null when n
// has an effect of its own.
Ptr<Node> replacementFor(const Node& n, NodeType type) {
    switch (type) {
        case NodeType::TransformNode:
            if (static_cast<const TransformNode&>(n).getMatrix().isIdentity()) return plainNode(n);
            return nullptr;
        case NodeType::ArgVisibilityNode:
            if (hidesNothing(static_cast<const ArgVisibilityNode&>(n))) return plainNode(n);
            return nullptr;
        case NodeType::ArgAnimationNode: {
            const auto& animation = static_cast<const ArgAnimationNode&>(n);
            if (!animation.hasNoKeys()) return nullptr;
            const Matrix44d m = animation.evaluateMatrix(DummyArguments());
            if (m.isIdentity()) return plainNode(n);
            Ptr<TransformNode> transform = createNode<TransformNode>("model::TransformNode");
            transform->setName(n.getName());
            transform->setMatrix(m);
            return transform;
        }
        case NodeType::ArgAnimatedBone: {
            const auto& animated = static_cast<const ArgAnimatedBone&>(n);
            if (!animated.hasNoKeys()) return nullptr;
            Ptr<Bone> bone = createNode<Bone>("model::Bone");
            bone->setName(n.getName());
            bone->setMatrix(animated.evaluateMatrix(DummyArguments()));
            bone->setBoneMatrix(animated.getBoneMatrix());
            return bone;
        }
        default:
            return nullptr;
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

}  // namespace

std::uint64_t replaceEmptyNodes(const Ptr<Node>& top, const NodeHelpers& helpers) {
    PreOrder order(top);
    return replaceEmptyNodes(order, helpers);
}

std::uint64_t replaceEmptyNodes(PreOrder& order, const NodeHelpers& helpers) {
    // (replacement, entry of the node it replaces)
    std::vector<std::pair<Ptr<Node>, std::size_t>> pairs;
    constexpr std::size_t kLists = 8;
    order.scan([&pairs, &order](std::size_t i, const Node& n, NodeType type) {
        if (i + kLists < order.size()) prefetchLists(order.node(i + kLists), order.type(i + kLists));
        if (Ptr<Node> replacement = replacementFor(n, type)) pairs.emplace_back(std::move(replacement), i);
    });
    for (std::size_t k = 0; k < pairs.size(); ++k) {
        prefetchAhead(pairs, k, [&order](const auto& pair) { return order.node(pair.second); });
        const auto& [replacement, i] = pairs[k];
        replaceNode(helpers, Ptr<Node>(order.node(i)), replacement);
        order.replace(i, replacement.get());
    }
    order.settle();
    return pairs.size();
}

}  // namespace model::utils
