#include "nodes/FakeOmniLightsNode.h"

#include "INodeVisitor.h"
#include "nodes/FakeLightGeometry.h"

namespace model {

FakeOmniLightsNode::FakeOmniLightsNode() : parents_(1) {}
FakeOmniLightsNode::FakeOmniLightsNode(const FakeOmniLightsNode& other) = default;
FakeOmniLightsNode::~FakeOmniLightsNode() = default;

Ptr<Node> FakeOmniLightsNode::getParent(std::size_t index) const {
    checkParentIndex(index, parents_.size());
    return parents_[index];
}

void FakeOmniLightsNode::setParent(std::size_t index, const Ptr<Node>& node) {
    checkParentIndex(index, parents_.size());
    parents_[index] = node;
}

bool FakeOmniLightsNode::transformGeometry(std::size_t parentIndex, const Matrix44d& m) {
    checkParentIndex(parentIndex, parents_.size());
    fakelights::transformPositions(lights_, parentIndex, m);
    return true;
}

BoundingBox FakeOmniLightsNode::getParentBox(std::size_t index) const {
    checkParentIndex(index, parents_.size());
    return fakelights::positionsBox(lights_, index);
}

void FakeOmniLightsNode::accept(INodeVisitor& visitor) { visitor.visit(*this); }
void FakeOmniLightsNode::accept(INodeVisitor& visitor) const { visitor.visit(*this); }

AnimatedFakeOmniLightsNode::AnimatedFakeOmniLightsNode() = default;
AnimatedFakeOmniLightsNode::AnimatedFakeOmniLightsNode(const AnimatedFakeOmniLightsNode& other) = default;
AnimatedFakeOmniLightsNode::~AnimatedFakeOmniLightsNode() = default;

void AnimatedFakeOmniLightsNode::forEachArgument(const ArgumentCallback& callback) const {
    FakeOmniLightsNode::forEachArgument(callback);
    if (argument_ != kNoArgument) callback(argument_);
}

void AnimatedFakeOmniLightsNode::accept(INodeVisitor& visitor) { visitor.visit(*this); }
void AnimatedFakeOmniLightsNode::accept(INodeVisitor& visitor) const { visitor.visit(*this); }

}  // namespace model
