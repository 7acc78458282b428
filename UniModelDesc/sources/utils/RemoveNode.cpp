#include "utils/RemoveNode.h"

namespace model::utils {

bool removeNode(const NodeHelpers& helpers, const Ptr<Node>& node) {
    if (!node) return false;
    Node* parent = node->parentNode();
    if (!parent) return false;
    while (Node* child = node->firstChildNode()) parent->insertChildBefore(Ptr<Node>(child), node);
    helpers.onRemove(node);
    return true;
}

}  // namespace model::utils
