#include "nodes/ShellSkinNode.h"

#include "INodeVisitor.h"

namespace model {

Ptr<Node> ShellSkinNode::getParent(std::size_t index) const {
    checkParentIndex(index, bones_.size());
    return bones_[index];
}

void ShellSkinNode::setParent(std::size_t index, const Ptr<Node>& node) {
    checkParentIndex(index, bones_.size());
    bones_[index] = node;
}

bool ShellSkinNode::isEmpty() const { return indices_.get().indices.empty() || vertices_.vertexCount() == 0; }

void ShellSkinNode::forEachArgument(const ArgumentCallback& callback) const {
    BaseShellNode::forEachArgument(callback);
    if (damageArgument_ != kNoArgument) callback(damageArgument_);
}

void ShellSkinNode::accept(INodeVisitor& visitor) { visitor.visit(*this); }
void ShellSkinNode::accept(INodeVisitor& visitor) const { visitor.visit(*this); }

}  // namespace model
