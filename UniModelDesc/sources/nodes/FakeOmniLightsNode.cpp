#include "nodes/FakeOmniLightsNode.h"

#include "INodeVisitor.h"

namespace model {

FakeOmniLightsNode::FakeOmniLightsNode() = default;
FakeOmniLightsNode::FakeOmniLightsNode(const FakeOmniLightsNode& other) = default;
FakeOmniLightsNode::~FakeOmniLightsNode() = default;

void FakeOmniLightsNode::accept(INodeVisitor& visitor) { visitor.visit(*this); }
void FakeOmniLightsNode::accept(INodeVisitor& visitor) const { visitor.visit(*this); }

AnimatedFakeOmniLightsNode::AnimatedFakeOmniLightsNode() = default;
AnimatedFakeOmniLightsNode::AnimatedFakeOmniLightsNode(const AnimatedFakeOmniLightsNode& other) = default;
AnimatedFakeOmniLightsNode::~AnimatedFakeOmniLightsNode() = default;

void AnimatedFakeOmniLightsNode::accept(INodeVisitor& visitor) { visitor.visit(*this); }
void AnimatedFakeOmniLightsNode::accept(INodeVisitor& visitor) const { visitor.visit(*this); }

}  // namespace model
