#include "nodes/BaseShellNode.h"

namespace model {

Ptr<Node> BaseShellNode::getParent(std::size_t index) const {
    checkParentIndex(index, 1);
    return parent_;
}

void BaseShellNode::setParent(std::size_t index, const Ptr<Node>& node) {
    checkParentIndex(index, 1);
    parent_ = node;
}

}  // namespace model
