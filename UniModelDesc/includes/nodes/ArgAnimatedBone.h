#pragma once
// model::ArgAnimatedBone: an animation node that is a skeleton bone.
//
// Contract: as model::ArgAnimationNode, except that it keeps its place under
// its transform (optimiser kind 1, mergeTransform() does nothing) and is
// always written under its own type (getSavedType() 0). getLocalMatrix() is
// the identity. getType() 0, visitor slot ArgAnimatedBone.

#include "nodes/ArgAnimationNode.h"
#include "nodes/IBone.h"

namespace model {

class ArgAnimatedBone : public ArgAnimationNode, public IBone {
public:
    ArgAnimatedBone() = default;
    ArgAnimatedBone(const ArgAnimatedBone&) = default;
    ~ArgAnimatedBone() override = default;

    void setBoneMatrix(const Matrix44d& m) override { boneMatrix_ = m; }
    const Matrix44d& getBoneMatrix() const override { return boneMatrix_; }
    Node& getNode() override { return *this; }
    const Node& getNode() const override { return *this; }
    const Matrix44d& getLocalMatrix() const override;

    std::uint32_t getOptimizerKind() const override { return kKeepsPlace; }
    void mergeTransform(const Matrix44d&) override {}
    NodeType getSavedType() const override { return NodeType::ArgAnimatedBone; }

    NodeType getType() const override { return NodeType::ArgAnimatedBone; }
    void accept(INodeVisitor& visitor) override;
    void accept(INodeVisitor& visitor) const override;

private:
    Matrix44d boneMatrix_;
};

}  // namespace model
