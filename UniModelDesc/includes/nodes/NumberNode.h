#pragma once
// model::NumberNode: a render node that draws a number; each vertex carries
// its digit index and each parent entry has a list of digit controls.
//
// Contract:
//  - Control entry i belongs to parent entry i; each holds control records
//    in digit order (see NumberControl.h). The writers fail when there are
//    fewer control entries than parent entries.
//  - forEachArgument(): as a render node, then every control record's
//    argument and second argument that is not -1.
//  - getType() 23, visitor slot NumberNode.

#include <vector>

#include "nodes/NumberControl.h"
#include "nodes/RenderNode.h"

namespace model {

class NumberNode : public RenderNode {
public:
    NumberNode();
    NumberNode(const NumberNode& other);
    ~NumberNode() override;

    const std::vector<NumberControlList>& getControlEntries() const noexcept { return controls_; }
    void setControlEntries(std::vector<NumberControlList> entries) { controls_ = std::move(entries); }
    void addControlEntry(NumberControlList controls) { controls_.push_back(std::move(controls)); }

    void forEachArgument(const ArgumentCallback& callback) const override;

    NodeType getType() const override { return NodeType::NumberNode; }
    void accept(INodeVisitor& visitor) override;
    void accept(INodeVisitor& visitor) const override;

private:
    std::vector<NumberControlList> controls_;
};

}  // namespace model
