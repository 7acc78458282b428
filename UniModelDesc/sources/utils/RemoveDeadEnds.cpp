#include "utils/RemoveDeadEnds.h"

#include "utils/RemoveNode.h"

namespace model::utils {

std::uint64_t removeDeadEnds(const Ptr<Node>& top, const NodeHelpers& helpers) {
    const std::vector<Ptr<Node>> deadEnds = collectNodes(top, [&helpers](const Node& n) {
        return isMovable(n) && !n.hasChildren() && !helpers.hasAttached(&n);
    });
    for (const Ptr<Node>& node : deadEnds) removeNode(helpers, node);
    return deadEnds.size();
}

}  // namespace model::utils
