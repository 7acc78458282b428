#include "nodes/ShellNode.h"

#include "INodeVisitor.h"
#include "nodes/GeometryTransform.h"

namespace model {

bool ShellNode::takesGeometryTransform(std::size_t parentIndex) const {
    checkParentIndex(parentIndex, getNumParents());
    return true;
}

bool ShellNode::transformGeometry(std::size_t parentIndex, const Matrix44d& m) {
    checkParentIndex(parentIndex, getNumParents());
    geometry::transformVertices(vertices_, m);
    return true;
}

bool ShellNode::isEmpty() const { return indices_.get().indices.empty() || vertices_.vertexCount() == 0; }

void ShellNode::accept(INodeVisitor& visitor) { visitor.visit(*this); }
void ShellNode::accept(INodeVisitor& visitor) const { visitor.visit(*this); }

}  // namespace model
