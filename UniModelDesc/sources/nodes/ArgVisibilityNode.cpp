#include "nodes/ArgVisibilityNode.h"

#include <algorithm>

#include "INodeVisitor.h"

namespace model {

bool ArgVisibilityNode::isVisibleHere(const IModelArguments& args) const {
    for (const VisibilityEntry& entry : entries_) {
        const double value = args.getArgument(entry.argument);
        const bool inRange = std::any_of(entry.ranges.begin(), entry.ranges.end(), [value](const VisibilityRange& r) {
            return r.start <= value && value < r.end;
        });
        if (!inRange) return false;
    }
    return true;
}

void ArgVisibilityNode::forEachArgument(const ArgumentCallback& callback) const {
    Node::forEachArgument(callback);
    for (const VisibilityEntry& entry : entries_) callback(entry.argument);
}

void ArgVisibilityNode::accept(INodeVisitor& visitor) { visitor.visit(*this); }
void ArgVisibilityNode::accept(INodeVisitor& visitor) const { visitor.visit(*this); }

}  // namespace model
