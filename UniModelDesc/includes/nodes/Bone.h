#pragma once
// model::Bone: a transform node that is a skeleton bone.
//
// Contract:
//  - getMatrix() is the bone's local transform; getBoneMatrix() the bone
//    matrix (identity until set).
//  - It keeps its place under its transform: optimiser kind 1,
//    mergeTransform() does nothing, and takeTransform(M, any) absorbs M
//    (matrix := matrix * M) and returns the identity.
//  - getType() 6, visitor slot Bone.

#include "nodes/IBone.h"
#include "nodes/TransformNode.h"

namespace model {

class Bone : public TransformNode, public IBone {
public:
    Bone() = default;
    Bone(const Bone&) = default;
    ~Bone() override = default;

    void setBoneMatrix(const Matrix44d& m) override { boneMatrix_ = m; }
    const Matrix44d& getBoneMatrix() const override { return boneMatrix_; }
    Node& getNode() override { return *this; }
    const Node& getNode() const override { return *this; }
    const Matrix44d& getLocalMatrix() const override { return getMatrix(); }

    std::uint32_t getOptimizerKind() const override { return kKeepsPlace; }
    void mergeTransform(const Matrix44d&) override {}
    Matrix44d takeTransform(const Matrix44d& m, bool handOn) override;

    NodeType getType() const override { return NodeType::Bone; }
    void accept(INodeVisitor& visitor) override;
    void accept(INodeVisitor& visitor) const override;

private:
    Matrix44d boneMatrix_;
};

}  // namespace model
