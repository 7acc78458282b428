#pragma once
// model::BaseShellNode: the common base of collision shells and segment sets.
//
// Contract:
//  - One parent link, the control node (null for a new node): getNumParents()
//    is 1 unless a class holds other parents (skinned shells hold bones).
//    getParent/setParent raise std::out_of_range past the count.
//  - isEmpty(): the node holds nothing to write or collide with; the vertex
//    pass drops empty shells.

#include "BaseNode.h"
#include "Node.h"

namespace model {

class BaseShellNode : public BaseNode {
public:
    ~BaseShellNode() override = default;

    std::size_t getNumParents() const override { return 1; }
    Ptr<Node> getParent(std::size_t index) const override;
    void setParent(std::size_t index, const Ptr<Node>& node) override;

    virtual bool isEmpty() const = 0;

protected:
    BaseShellNode() = default;
    BaseShellNode(const BaseShellNode&) = default;

private:
    Ptr<Node> parent_;
};

}  // namespace model
