#include "INode.h"

#include "ClassRegistry.h"

namespace model {

Ptr<INode> INode::clone() const {
    return ClassRegistry::instance().cloneAs<INode>(*this, getNodeTypeName(getType()));
}

}  // namespace model
