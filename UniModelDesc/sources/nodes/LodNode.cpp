#include "nodes/LodNode.h"

#include "INodeVisitor.h"

namespace model {

void LodNode::accept(INodeVisitor& visitor) { visitor.visit(*this); }
void LodNode::accept(INodeVisitor& visitor) const { visitor.visit(*this); }

}  // namespace model
