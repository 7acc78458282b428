#include "nodes/FakeSpotLightsNode.h"

#include "INodeVisitor.h"
#include "nodes/GeometryTransform.h"

namespace model {

void transformEntry(FakeSpotParentEntry& entry, const Matrix44d& m) {
    entry.direction = geometry::transformDirection(entry.direction, m);
}

FakeSpotLightsNode::FakeSpotLightsNode() { setVersion(1); }
FakeSpotLightsNode::FakeSpotLightsNode(const FakeSpotLightsNode& other) = default;
FakeSpotLightsNode::~FakeSpotLightsNode() = default;

const osg::Vec3f& FakeSpotLightsNode::getDirection(std::size_t index) const { return parentEntry(index).direction; }

void FakeSpotLightsNode::setDirection(std::size_t index, const osg::Vec3f& direction) {
    parentEntry(index).direction = direction;
}

void FakeSpotLightsNode::accept(INodeVisitor& visitor) { visitor.visit(*this); }
void FakeSpotLightsNode::accept(INodeVisitor& visitor) const { visitor.visit(*this); }

AnimatedFakeSpotLightsNode::AnimatedFakeSpotLightsNode() = default;
AnimatedFakeSpotLightsNode::AnimatedFakeSpotLightsNode(const AnimatedFakeSpotLightsNode& other) = default;
AnimatedFakeSpotLightsNode::~AnimatedFakeSpotLightsNode() = default;

void AnimatedFakeSpotLightsNode::accept(INodeVisitor& visitor) { visitor.visit(*this); }
void AnimatedFakeSpotLightsNode::accept(INodeVisitor& visitor) const { visitor.visit(*this); }

}  // namespace model
