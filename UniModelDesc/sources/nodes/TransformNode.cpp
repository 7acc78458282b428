#include "nodes/TransformNode.h"

#include "INodeVisitor.h"

namespace model {

void TransformNode::mergeTransform(const Matrix44d& m) { matrix_ = matrix_ * m; }

void TransformNode::multiplyLocalMatrix(const IModelArguments&, Matrix44d& m) const { m = m * matrix_; }

Matrix44d TransformNode::takeTransform(const Matrix44d& m, bool handOn) {
    if (handOn) {
        const Matrix44d handed = matrix_ * m;
        matrix_ = Matrix44d::identity();
        return handed;
    }
    matrix_ = matrix_ * m;
    return Matrix44d::identity();
}

void TransformNode::accept(INodeVisitor& visitor) { visitor.visit(*this); }
void TransformNode::accept(INodeVisitor& visitor) const { visitor.visit(*this); }

}  // namespace model
