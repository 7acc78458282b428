#include "utils/RemoveDeadEnds.h"

#include "utils/RemoveNode.h"

namespace model::utils {

std::uint64_t removeDeadEnds(const Ptr<Node>& top, const NodeHelpers& helpers) {
    const std::vector<Ptr<Node>> deadEnds = collectNodes(top, [&helpers](const Node& n) {
        return isMovable(n) && !n.hasChildren() && !helpers.hasAttached(&n);
    });
    for (std::size_t i = 0; i < deadEnds.size(); ++i) {
        prefetchAhead(deadEnds, i, nodeOf);
        removeNode(helpers, deadEnds[i]);
    }
    return deadEnds.size();
}

}  // namespace model::utils
