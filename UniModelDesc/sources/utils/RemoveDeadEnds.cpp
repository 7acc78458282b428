#include "utils/RemoveDeadEnds.h"

#include "utils/RemoveNode.h"

namespace model::utils {

std::uint64_t removeDeadEnds(const Ptr<Node>& top, const NodeHelpers& helpers) {
    PreOrder order(top);
    return removeDeadEnds(order, helpers);
}

std::uint64_t removeDeadEnds(PreOrder& order, const NodeHelpers& helpers) {
    const std::vector<std::size_t> deadEnds = order.select([&helpers](const Node& n) {
        return isMovable(n) && !n.hasChildren() && !helpers.hasAttached(&n);
    });
    for (std::size_t k = 0; k < deadEnds.size(); ++k) {
        prefetchAhead(deadEnds, k, [&order](std::size_t i) { return order.node(i); });
        if (removeNode(helpers, Ptr<Node>(order.node(deadEnds[k])))) order.remove(deadEnds[k]);
    }
    order.settle();
    return deadEnds.size();
}

}  // namespace model::utils
