#pragma once
// model::Connector: a named attachment point hanging off one tree node; its
// settings are its properties.
//
// Contract: one parent link (null for a new connector): getNumParents() is
// 1; getParent/setParent take index 0 only (std::out_of_range otherwise).
// transformGeometry() accepts nothing. getType() 7, visitor slot Connector.

#include "BaseNode.h"
#include "Node.h"

namespace model {

class Connector : public BaseNode {
public:
    Connector() = default;
    Connector(const Connector&) = default;
    ~Connector() override = default;

    std::size_t getNumParents() const override { return 1; }
    Ptr<Node> getParent(std::size_t index) const override;
    void setParent(std::size_t index, const Ptr<Node>& node) override;

    NodeType getType() const override { return NodeType::Connector; }
    void accept(INodeVisitor& visitor) override;
    void accept(INodeVisitor& visitor) const override;

private:
    Ptr<Node> parent_;
};

}  // namespace model
