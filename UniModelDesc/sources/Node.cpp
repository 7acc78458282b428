#include "Node.h"

#include <vector>

#include "ClassRegistry.h"
#include "INodeVisitor.h"
#include "StaticProperty.h"
#include "qz/ExtException.h"

namespace model {

namespace {
constexpr const char* kVersionProperty = "__VERSION__";
}

void Node::multiplyLocalMatrix(const IModelArguments&, Matrix44d&) const {}

bool Node::isVisibleHere(const IModelArguments&) const { return true; }

Matrix44d Node::takeTransform(const Matrix44d& m, bool) { return m; }

void Node::forEachArgument(const ArgumentCallback& callback) const {
    forEachPropertyArgument(properties_, callback);
}

void Node::accumulateMatrix(const IModelArguments& args, Matrix44d& m) const {
    for (const Node* n = this; n; n = n->parentNode()) n->multiplyLocalMatrix(args, m);
}

bool Node::isVisible(const IModelArguments& args) const {
    for (const Node* n = this; n; n = n->parentNode())
        if (!n->isVisibleHere(args)) return false;
    return true;
}

void Node::accept(INodeVisitor& visitor) { visitor.visit(*this); }

void Node::accept(INodeVisitor& visitor) const { visitor.visit(*this); }

std::uint32_t Node::getVersion() const {
    const auto* version = dynamic_cast<const UIntProperty*>(findProperty(properties_, kVersionProperty).get());
    return version ? version->getValue() : 0;
}

void Node::setVersion(std::uint32_t version) {
    const PropertyPtr current = findProperty(properties_, kVersionProperty);
    const auto* held = dynamic_cast<const UIntProperty*>(current.get());
    if (held && held->getValue() == version) return;
    // A new object rather than a changed value: copies of this node share the
    // old property and keep their own version.
    auto property = ClassRegistry::make<UIntProperty>("model::Property<unsigned int>");
    property->setName(kVersionProperty);
    property->setValue(version);
    addProperty(property);
}

NodePtr copyTree(const Node* top, NodeCopies* copies) {
    if (!top) return NodePtr();
    auto copyOf = [](const Node* source) {
        NodePtr copy = qz::dynamicPtrCast<Node>(source->clone());
        if (!copy) QZ_THROW(std::string("Can't copy node of class ") + getNodeTypeName(source->getType()) + ".");
        return copy;
    };
    NodePtr result = copyOf(top);
    if (copies) (*copies)[top] = result;
    // Pairs of (source, copy) whose children are still to be copied.
    std::vector<std::pair<const Node*, NodePtr>> pending{{top, result}};
    while (!pending.empty()) {
        auto [source, copy] = std::move(pending.back());
        pending.pop_back();
        for (const Node* child = source->firstChildNode(); child; child = child->nextSiblingNode()) {
            NodePtr childCopy = copyOf(child);
            copy->addChild(childCopy);
            if (copies) (*copies)[child] = childCopy;
            pending.emplace_back(child, std::move(childCopy));
        }
    }
    return result;
}

}  // namespace model
