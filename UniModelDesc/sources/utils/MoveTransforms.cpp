#include "utils/MoveTransforms.h"

#include "nodes/TransformNode.h"

namespace model::utils {

namespace {

// Step 2: bakes m into the base nodes hanging off t. True when every one of
// them took it (or there were none), so the children may move on.
bool bakeIntoGeometry(const Ptr<Node>& t, const Matrix44d& m, const NodeHelpers& helpers, std::uint64_t& count) {
    const AttachedList attached = helpers.getAttached(t.get());
    bool allTook = true;
    Ptr<Node> group;
    for (const auto& [base, index] : attached) {
        if (!base->transformGeometry(index, m)) {
            allTook = false;
            continue;
        }
        if (!group) {
            // The baked geometry must stay where t is, but no longer under
            // t's matrix: a new group in t's place holds it, with t below.
            group = ClassRegistry::make<Node>("model::Node");
            t->parentNode()->insertChildBefore(group, t);
            group->addChild(t);
        }
        helpers.setParent(*base, index, group);
        ++count;
    }
    return allTook;
}

// Step 3: hands m on to the children of t that can take it and moves them
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

}  // namespace

std::uint64_t moveTransforms(const Ptr<Node>& top, const NodeHelpers& helpers) {
    PreOrder order(top);
    return moveTransforms(order, helpers);
}

std::uint64_t moveTransforms(PreOrder& order, const NodeHelpers& helpers) {
    std::vector<Ptr<Node>> transforms;
    order.scan(NodeType::TransformNode,
               [&transforms](std::size_t, Node& n, NodeType) { transforms.emplace_back(&n); });
    std::uint64_t count = 0;
    for (std::size_t i = 0; i < transforms.size(); ++i) {
        prefetchAhead(transforms, i, nodeOf);
        const Ptr<Node>& t = transforms[i];
        if (!isMovable(*t)) break;
        const Matrix44d m = static_cast<const TransformNode&>(*t).getMatrix();
        if (bakeIntoGeometry(t, m, helpers, count)) moveChildrenUp(t, m, helpers, count);
    }
    // Moves reorder the tree; nothing counted means nothing moved.
    if (count != 0) order.rebuild(Ptr<Node>(order.top()));
    return count;
}

}  // namespace model::utils
