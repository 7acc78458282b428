#pragma once
// model::TransformNode: a tree node with a fixed local matrix.
//
// Contract:
//  - getMatrix()/setMatrix(): the local matrix (row-vector convention, see
//    Matrix.h), the identity for a new node.
//  - mergeTransform(M): matrix := matrix * M.
//  - multiplyLocalMatrix(args, M): M := M * matrix (args are not used).
//  - takeTransform(M, handOn): with handOn, returns matrix * M and resets the
//    matrix to the identity (the transform moves on); without, the node
//    absorbs it (matrix := matrix * M) and returns the identity.
//  - getType() 18, visitor slot TransformNode, optimiser kind 0.

#include "Node.h"

namespace model {

class TransformNode : public Node {
public:
    TransformNode() = default;
    TransformNode(const TransformNode&) = default;
    ~TransformNode() override = default;

    const Matrix44d& getMatrix() const noexcept { return matrix_; }
    void setMatrix(const Matrix44d& matrix) noexcept { matrix_ = matrix; }

    std::uint32_t getOptimizerKind() const override { return kMergesTransform; }
    void mergeTransform(const Matrix44d& m) override;
    void multiplyLocalMatrix(const IModelArguments& args, Matrix44d& m) const override;
    Matrix44d takeTransform(const Matrix44d& m, bool handOn) override;

    NodeType getType() const override { return NodeType::TransformNode; }
    void accept(INodeVisitor& visitor) override;
    void accept(INodeVisitor& visitor) const override;

private:
    Matrix44d matrix_;
};

}  // namespace model
