#include "utils/RemoveDummyNodes.h"

#include "utils/RemoveNode.h"

namespace model::utils {

std::uint64_t removeDummyNodes(const Ptr<Node>& top, const NodeHelpers& helpers) {
    const std::vector<Ptr<Node>> dummies =
        collectNodes(top, [](const Node& n) { return n.getType() == NodeType::Node && isMovable(n); });
    for (std::size_t i = 0; i < dummies.size(); ++i) {
        prefetchAhead(dummies, i, nodeOf);
        const Ptr<Node>& node = dummies[i];
        // An earlier removal moves a dummy into its grandparent, so the
        // parent is looked up now rather than at collection time.
        const Ptr<Node> parent = node->getParent();
        if (!parent) continue;
        helpers.replaceParent(node.get(), parent);
        removeNode(helpers, node);
    }
    return dummies.size();
}

}  // namespace model::utils
