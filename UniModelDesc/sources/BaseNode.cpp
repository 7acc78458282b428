#include "BaseNode.h"

#include <stdexcept>
#include <string>

#include "Node.h"

namespace model {

void BaseNode::checkParentIndex(std::size_t index, std::size_t count) {
    if (index >= count)
        throw std::out_of_range("Parent index " + std::to_string(index) + " is out of range (" +
                                std::to_string(count) + " parents).");
}

std::size_t BaseNode::getNumParents() const { return 0; }

Ptr<Node> BaseNode::getParent(std::size_t index) const {
    checkParentIndex(index, getNumParents());
    return Ptr<Node>();
}

// The base node holds its own reference, so the pointer outlives the copy.
const Node* BaseNode::parentNode(std::size_t index) const { return getParent(index).get(); }

void BaseNode::setParent(std::size_t index, const Ptr<Node>&) { checkParentIndex(index, getNumParents()); }

bool BaseNode::transformGeometry(std::size_t, const Matrix44d&) { return false; }
bool BaseNode::takesGeometryTransform(std::size_t) const { return false; }

void BaseNode::forEachArgument(const ArgumentCallback& callback) const {
    forEachPropertyArgument(properties_, callback);
}

}  // namespace model
