#include "nodes/Connector.h"

#include "INodeVisitor.h"

namespace model {

Ptr<Node> Connector::getParent(std::size_t index) const {
    checkParentIndex(index, 1);
    return parent_;
}

void Connector::setParent(std::size_t index, const Ptr<Node>& node) {
    checkParentIndex(index, 1);
    parent_ = node;
}

void Connector::accept(INodeVisitor& visitor) { visitor.visit(*this); }
void Connector::accept(INodeVisitor& visitor) const { visitor.visit(*this); }

}  // namespace model
