#include "nodes/SkinNode.h"

#include "INodeVisitor.h"

namespace model {

SkinNode::SkinNode() = default;
SkinNode::SkinNode(const SkinNode& other) = default;
SkinNode::~SkinNode() = default;

Ptr<Node> SkinNode::getParent(std::size_t index) const {
    checkParentIndex(index, bones_.size());
    return bones_[index];
}

void SkinNode::setParent(std::size_t index, const Ptr<Node>& node) {
    checkParentIndex(index, bones_.size());
    bones_[index] = node;
}

BoundingBox SkinNode::getParentBox(std::size_t index) const {
    checkParentIndex(index, bones_.size());
    return index == 0 ? box_ : BoundingBox();
}

void SkinNode::forEachArgument(const ArgumentCallback& callback) const {
    BaseMeshRenderNode::forEachArgument(callback);
    if (damageArgument_ != kNoArgument) callback(damageArgument_);
}

void SkinNode::accept(INodeVisitor& visitor) { visitor.visit(*this); }
void SkinNode::accept(INodeVisitor& visitor) const { visitor.visit(*this); }

}  // namespace model
