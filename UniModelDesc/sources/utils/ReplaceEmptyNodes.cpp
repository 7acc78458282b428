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

}  // namespace

std::uint64_t replaceEmptyNodes(const Ptr<Node>& top, const NodeHelpers& helpers) {
    PreOrder order(top);
    return replaceEmptyNodes(order, helpers);
}

std::uint64_t replaceEmptyNodes(PreOrder& order, const NodeHelpers& helpers) {
    // (replacement, entry of the node it replaces)
    std::vector<std::pair<Ptr<Node>, std::size_t>> pairs;
    order.scan([&pairs](std::size_t i, const Node& n, NodeType type) {
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
