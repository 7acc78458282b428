#include "nodes/Bone.h"

#include "INodeVisitor.h"

namespace model {

Matrix44d Bone::takeTransform(const Matrix44d& m, bool) {
    setMatrix(getMatrix() * m);
    return Matrix44d::identity();
}

void Bone::accept(INodeVisitor& visitor) { visitor.visit(*this); }
void Bone::accept(INodeVisitor& visitor) const { visitor.visit(*this); }

}  // namespace model
