#pragma once
// model::SkinNode: a mesh skinned to bones.
//
// Contract:
//  - Its parents are its bones, in order (the Python front puts the control
//    node first): getNumParents() is their number, getParent/setParent index
//    them (std::out_of_range past it); setNumParents(n) resizes (new entries
//    null). A new node has none.
//  - getDamageArgument(): kNoArgument (0xFFFFFFFF) by default; reported by
//    forEachArgument() after properties and material when set.
//  - getBoundingBox(): kept as set (empty by default), never derived from the
//    vertices. getParentBox(0) is this box (it is given in the space of the
//    first parent); other parents have the empty box.
//  - transformGeometry(0, M): every vertex lies in the space of the first
//    parent (the control node), so M is applied to all of them (positions as
//    points, normals and tangent frames as directions) and to the box. The
//    fourth position component holds the packed bone indices and keeps its
//    bits exactly. Returns true. For a bone entry (1 and above) it changes
//    nothing and returns false: the bones' own matrices place the vertices.
//    std::out_of_range for an index >= getNumParents().
//  - getType() 17, visitor slot SkinNode.

#include <cstdint>
#include <vector>

#include "nodes/BaseMeshRenderNode.h"

namespace model {

class SkinNode : public BaseMeshRenderNode {
public:
    SkinNode();
    SkinNode(const SkinNode& other);
    ~SkinNode() override;

    std::size_t getNumParents() const override { return bones_.size(); }
    Ptr<Node> getParent(std::size_t index) const override;
    void setParent(std::size_t index, const Ptr<Node>& node) override;
    void setNumParents(std::size_t count) { bones_.resize(count); }
    const std::vector<Ptr<Node>>& getBones() const noexcept { return bones_; }
    void setBones(std::vector<Ptr<Node>> bones) { bones_ = std::move(bones); }

    std::uint32_t getDamageArgument() const noexcept { return damageArgument_; }
    void setDamageArgument(std::uint32_t argument) noexcept { damageArgument_ = argument; }

    const BoundingBox& getBoundingBox() const noexcept { return box_; }
    void setBoundingBox(const BoundingBox& box) noexcept { box_ = box; }
    BoundingBox getParentBox(std::size_t index) const override;

    bool transformGeometry(std::size_t parentIndex, const Matrix44d& m) override;
    bool takesGeometryTransform(std::size_t parentIndex) const override;

    void forEachArgument(const ArgumentCallback& callback) const override;

    NodeType getType() const override { return NodeType::SkinNode; }
    void accept(INodeVisitor& visitor) override;
    void accept(INodeVisitor& visitor) const override;

private:
    std::vector<Ptr<Node>> bones_;
    std::uint32_t damageArgument_ = kNoArgument;
    BoundingBox box_;
};

}  // namespace model
