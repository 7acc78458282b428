#pragma once
// model::INode: what every node of the model graph (tree nodes and base
// nodes) answers.
//
// Contract:
//  - getType() is the class's NodeType.
//  - accept(visitor) calls the one INodeVisitor::visit of the node's class.
//  - clone() returns a new node made by the class registry from this one
//    under the class's own registered name (getNodeTypeName(getType())),
//    i.e. a copy made by the class's copy constructor; null if that name is
//    not registered. A copy shares the objects behind counted pointers
//    (properties, parents of base nodes) with its source; a tree node's copy
//    starts outside any tree (see Node.h).

#include "IObject.h"
#include "NodeType.h"

namespace model {

class INodeVisitor;

class INode : public IObject {
public:
    ~INode() override = default;

    virtual NodeType getType() const = 0;
    virtual void accept(INodeVisitor& visitor) = 0;
    virtual void accept(INodeVisitor& visitor) const = 0;
    virtual Ptr<INode> clone() const;

protected:
    INode() = default;
    INode(const INode&) = default;
};

}  // namespace model
