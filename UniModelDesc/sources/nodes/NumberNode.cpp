#include "nodes/NumberNode.h"

#include "INodeVisitor.h"

namespace model {

NumberNode::NumberNode() = default;
NumberNode::NumberNode(const NumberNode& other) = default;
NumberNode::~NumberNode() = default;

void NumberNode::forEachArgument(const ArgumentCallback& callback) const {
    RenderNode::forEachArgument(callback);
    for (const NumberControlList& entry : controls_)
        for (const NumberControl& c : entry) {
            if (c.argument != NumberControl::kNone) callback(static_cast<std::uint32_t>(c.argument));
            if (c.argument2 != NumberControl::kNone) callback(static_cast<std::uint32_t>(c.argument2));
        }
}

void NumberNode::accept(INodeVisitor& visitor) { visitor.visit(*this); }
void NumberNode::accept(INodeVisitor& visitor) const { visitor.visit(*this); }

}  // namespace model
