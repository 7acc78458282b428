#include "nodes/BaseRenderNode.h"

namespace model {

BaseRenderNode::BaseRenderNode() = default;
BaseRenderNode::BaseRenderNode(const BaseRenderNode& other) = default;
BaseRenderNode::~BaseRenderNode() = default;

void BaseRenderNode::setMaterial(const Ptr<BaseMaterial>& material) { material_ = material; }

void BaseRenderNode::forEachArgument(const ArgumentCallback& callback) const {
    BaseNode::forEachArgument(callback);
    if (material_) material_->forEachArgument(callback);
}

}  // namespace model
