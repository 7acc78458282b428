#include "nodes/FakeSpotLightsNode.h"

#include "INodeVisitor.h"
#include "nodes/FakeLightGeometry.h"
#include "nodes/GeometryTransform.h"

namespace model {

FakeSpotLightsNode::FakeSpotLightsNode() : entries_(1) { setVersion(1); }
FakeSpotLightsNode::FakeSpotLightsNode(const FakeSpotLightsNode& other) = default;
FakeSpotLightsNode::~FakeSpotLightsNode() = default;

Ptr<Node> FakeSpotLightsNode::getParent(std::size_t index) const {
    checkParentIndex(index, entries_.size());
    return entries_[index].node;
}

void FakeSpotLightsNode::setParent(std::size_t index, const Ptr<Node>& node) {
    checkParentIndex(index, entries_.size());
    entries_[index].node = node;
}

const osg::Vec3f& FakeSpotLightsNode::getDirection(std::size_t index) const {
    checkParentIndex(index, entries_.size());
    return entries_[index].direction;
}

void FakeSpotLightsNode::setDirection(std::size_t index, const osg::Vec3f& direction) {
    checkParentIndex(index, entries_.size());
    entries_[index].direction = direction;
}

bool FakeSpotLightsNode::transformGeometry(std::size_t parentIndex, const Matrix44d& m) {
    checkParentIndex(parentIndex, entries_.size());
    fakelights::transformPositions(lights_, parentIndex, m);
    // The direction is given in the parent's space too: once the lights
    // leave that space it has to turn with them.
    osg::Vec3f& direction = entries_[parentIndex].direction;
    direction = geometry::transformDirection(direction, m);
    return true;
}

BoundingBox FakeSpotLightsNode::getParentBox(std::size_t index) const {
    checkParentIndex(index, entries_.size());
    return fakelights::positionsBox(lights_, index);
}

void FakeSpotLightsNode::accept(INodeVisitor& visitor) { visitor.visit(*this); }
void FakeSpotLightsNode::accept(INodeVisitor& visitor) const { visitor.visit(*this); }

AnimatedFakeSpotLightsNode::AnimatedFakeSpotLightsNode() = default;
AnimatedFakeSpotLightsNode::AnimatedFakeSpotLightsNode(const AnimatedFakeSpotLightsNode& other) = default;
AnimatedFakeSpotLightsNode::~AnimatedFakeSpotLightsNode() = default;

void AnimatedFakeSpotLightsNode::forEachArgument(const ArgumentCallback& callback) const {
    FakeSpotLightsNode::forEachArgument(callback);
    if (argument_ != kNoArgument) callback(argument_);
}

void AnimatedFakeSpotLightsNode::accept(INodeVisitor& visitor) { visitor.visit(*this); }
void AnimatedFakeSpotLightsNode::accept(INodeVisitor& visitor) const { visitor.visit(*this); }

}  // namespace model
