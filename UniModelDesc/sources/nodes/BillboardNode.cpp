#include "nodes/BillboardNode.h"

#include "INodeVisitor.h"

namespace model {

BillboardNode::BillboardNode() { setVersion(1); }

void BillboardNode::accept(INodeVisitor& visitor) { visitor.visit(*this); }
void BillboardNode::accept(INodeVisitor& visitor) const { visitor.visit(*this); }

}  // namespace model
