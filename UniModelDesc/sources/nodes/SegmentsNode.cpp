#include "nodes/SegmentsNode.h"

#include "INodeVisitor.h"
#include "nodes/GeometryTransform.h"

namespace model {

bool SegmentsNode::takesGeometryTransform(std::size_t parentIndex) const {
    checkParentIndex(parentIndex, getNumParents());
    return true;
}

bool SegmentsNode::transformGeometry(std::size_t parentIndex, const Matrix44d& m) {
    checkParentIndex(parentIndex, getNumParents());
    for (Segment& s : segments_) {
        s.start = geometry::transformPoint(s.start, m);
        s.end = geometry::transformPoint(s.end, m);
    }
    return true;
}

void SegmentsNode::accept(INodeVisitor& visitor) { visitor.visit(*this); }
void SegmentsNode::accept(INodeVisitor& visitor) const { visitor.visit(*this); }

}  // namespace model
