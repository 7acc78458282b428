#include "utils/RemoveDummyNodes.h"

#include "utils/RemoveNode.h"

namespace model::utils {

std::uint64_t removeDummyNodes(const Ptr<Node>& top, const NodeHelpers& helpers) {
    PreOrder order(top);
    return removeDummyNodes(order, helpers);
}

std::uint64_t removeDummyNodes(PreOrder& order, const NodeHelpers& helpers) {
    const std::vector<std::size_t> dummies = order.select(NodeType::Node, [](const Node& n) { return isMovable(n); });
    for (std::size_t k = 0; k < dummies.size(); ++k) {
        prefetchAhead(dummies, k, [&order](std::size_t i) { return order.node(i); });
        const Ptr<Node> node(order.node(dummies[k]));
        // An earlier removal moves a dummy into its grandparent, so the
        // parent is looked up now rather than at collection time.
        const Ptr<Node> parent = node->getParent();
        if (!parent) continue;
        helpers.replaceParent(node.get(), parent);
        if (removeNode(helpers, node)) order.remove(dummies[k]);
    }
    order.settle();
    return dummies.size();
}

}  // namespace model::utils
