#pragma once
// model::BaseNode: a node outside the transform tree (render nodes, shells,
// lights, connectors, the root node) that refers to tree nodes as parents.
//
// Contract:
//  - Parent links are held by each concrete class. getNumParents() is their
//    number; getParent(i) and setParent(i, node) raise std::out_of_range for
//    i >= getNumParents(). This base has no parents. parentNode(i) is the
//    plain view of getParent(i) (same checks): it does not count a
//    reference, so a scan of many base nodes does not write to their parents.
//  - transformGeometry(i, M): true when the node has baked M into its own
//    data for the geometry under parent i; this base accepts nothing (false).
//    takesGeometryTransform(i) tells beforehand, with the same index checks,
//    what transformGeometry(i, M) returns for any M: a pass can decide on
//    the tree first and bake the geometry of many nodes at once after.
//  - forEachArgument(callback): callback(argument) for every argument-driven
//    property of `properties` whose argument is set, in list order; classes
//    with more argument sources (a render node's material) extend it.
//  - name: setName(nullptr) sets the empty name. version: 0 unless the class
//    sets another at construction; copies keep it.
//  - addProperty replaces a property of the same name in its position, else
//    appends.

#include <cstddef>
#include <cstdint>
#include <string>

#include "INode.h"
#include "IProperty.h"
#include "Matrix.h"

namespace model {

class Node;

class BaseNode : public INode {
public:
    ~BaseNode() override = default;

    virtual std::size_t getNumParents() const;
    virtual Ptr<Node> getParent(std::size_t index) const;
    virtual const Node* parentNode(std::size_t index) const;
    virtual void setParent(std::size_t index, const Ptr<Node>& node);
    virtual bool transformGeometry(std::size_t parentIndex, const Matrix44d& m);
    virtual bool takesGeometryTransform(std::size_t parentIndex) const;
    virtual void forEachArgument(const ArgumentCallback& callback) const;

    const std::string& getName() const noexcept { return name_; }
    void setName(const char* name) { name_ = name ? name : ""; }
    void setName(std::string name) { name_ = std::move(name); }

    std::uint32_t getVersion() const noexcept { return version_; }
    void setVersion(std::uint32_t version) noexcept { version_ = version; }

    const PropertyList& getProperties() const noexcept { return properties_; }
    PropertyList& getProperties() noexcept { return properties_; }
    void addProperty(const PropertyPtr& property) { addOrReplaceProperty(properties_, property); }

protected:
    BaseNode() = default;
    BaseNode(const BaseNode&) = default;

    // Raises the out-of-range error of parent accessors when index >= count.
    static void checkParentIndex(std::size_t index, std::size_t count);

private:
    std::uint32_t version_ = 0;
    std::string name_;
    PropertyList properties_;
};

}  // namespace model
