#include "utils/ReplaceNode.h"

namespace model::utils {

void replaceNode(const NodeHelpers& helpers, const Ptr<Node>& oldNode, const Ptr<Node>& newNode) {
    if (!oldNode || !newNode) QZ_THROW("Can't replace a node by a null node or replace a null node.");
    // Checked up front: the tree operations below would refuse such a node
    // only after the base nodes had been re-pointed to it.
    if (newNode->isSelfOrAncestor(oldNode.get())) QZ_THROW("Can't replace a node by itself or a node below it.");
    helpers.replaceParent(oldNode.get(), newNode);
    // One child at a time off the front: no list of them to allocate.
    while (Node* child = oldNode->firstChildNode()) newNode->addChild(Ptr<Node>(child));
    if (Node* parent = oldNode->parentNode())
        parent->insertChildBefore(newNode, oldNode);
    else
        helpers.setTopNode(newNode);
    helpers.onRemove(oldNode);
}

}  // namespace model::utils
