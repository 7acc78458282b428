#include "nodes/SkinNode.h"

#include "INodeVisitor.h"
#include "nodes/GeometryTransform.h"

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

bool SkinNode::takesGeometryTransform(std::size_t parentIndex) const {
    checkParentIndex(parentIndex, bones_.size());
    return parentIndex == 0;
}

bool SkinNode::transformGeometry(std::size_t parentIndex, const Matrix44d& m) {
    checkParentIndex(parentIndex, bones_.size());
    if (parentIndex != 0) return false;
    // The base class would pick vertices by their fourth component, which
    // here is not a parent index but the bone indices' bits.
    editGeometry([&m](Vertices& vertices, Indices&) {
        geometry::transformVertices(vertices, m);
    });
    box_ = geometry::transformBox(box_, m);
    return true;
}

void SkinNode::forEachArgument(const ArgumentCallback& callback) const {
    BaseMeshRenderNode::forEachArgument(callback);
    if (damageArgument_ != kNoArgument) callback(damageArgument_);
}

void SkinNode::accept(INodeVisitor& visitor) { visitor.visit(*this); }
void SkinNode::accept(INodeVisitor& visitor) const { visitor.visit(*this); }

}  // namespace model
