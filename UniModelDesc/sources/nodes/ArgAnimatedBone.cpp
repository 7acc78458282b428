#include "nodes/ArgAnimatedBone.h"

#include "INodeVisitor.h"

namespace model {

const Matrix44d& ArgAnimatedBone::getLocalMatrix() const {
    static const Matrix44d identity;
    return identity;
}

void ArgAnimatedBone::accept(INodeVisitor& visitor) { visitor.visit(*this); }
void ArgAnimatedBone::accept(INodeVisitor& visitor) const { visitor.visit(*this); }

}  // namespace model
