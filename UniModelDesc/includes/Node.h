#pragma once
// model::Node: a member of the transform tree, and the plain group node.
//
// Tree links come from qz::EmTree (see qz/EmTree.h for the link contract):
// a node is owned by its parent's child chain, back links (parent, previous
// sibling, last child) do not count, and a node that dies unlinks its
// children first. Releasing the last outside reference to a tree's top frees
// the whole tree; walks, copies and releases never recurse along the tree.
//
// Contract of the node hooks:
//  - getSavedType(): the type a writer records; getType() unless a class
//    says otherwise (animation nodes).
//  - multiplyLocalMatrix(args, M): M := M * the node's own matrix under args;
//    a plain node leaves M. accumulateMatrix(args, M) applies it for the node
//    and then for each ancestor up to the top, so from the identity it gives
//    the node's local-to-top matrix.
//  - isVisibleHere(args): false when this node alone hides what hangs below
//    it under args (visibility nodes). isVisible(args) is true when no node
//    from this one up to the top hides; the walk stops at the first that does.
//  - takeTransform(M, flag): a plain node returns M unchanged; transform and
//    animation nodes absorb M.
//  - forEachArgument(callback): the set arguments of the node's own
//    argument-driven properties; classes with more sources extend it.
//  - controlsVisibility(): true for visibility nodes only.
//  - getVersion()/setVersion(v): the version lives in `properties` as the
//    unsigned property "__VERSION__" (0 when there is none). setVersion with
//    the value already held changes nothing; otherwise a new "__VERSION__"
//    property made through the registry takes the old one's place (or is
//    appended), so a node never holds two.
//  - Copies (clone) copy name and properties (the property objects are
//    shared) and start unlinked: no parent, siblings or children.

#include <cstdint>
#include <string>
#include <unordered_map>

#include "INode.h"
#include "IModelArguments.h"
#include "IProperty.h"
#include "Matrix.h"
#include "OptimizerTrait.h"
#include "qz/EmTree.h"
#include "qz/SlabPool.h"

namespace model {

class Node : public qz::EmTree<Node, qz::EmTreePtrStorage<Node, IObjectDeleter>>,
             public OptimizerTrait,
             public INode {
public:
    Node() = default;
    Node(const Node&) = default;
    ~Node() override = default;

    // Tree nodes of every kind come from one slab pool, so that the nodes of
    // a tree lie close together however a script interleaves them with
    // meshes and its own objects: the graph passes walk the whole tree
    // several times per save.
    static void* operator new(std::size_t size) { return qz::SlabPool::allocate(size); }
    static void operator delete(void* p, std::size_t size) noexcept { qz::SlabPool::release(p, size); }

    // OptimizerTrait: a plain node lets transforms pass below it.
    std::uint32_t getOptimizerKind() const override { return kPassesThrough; }
    void mergeTransform(const Matrix44d&) override {}
    bool protectsChildren() const override { return false; }

    virtual NodeType getSavedType() const { return getType(); }
    virtual void multiplyLocalMatrix(const IModelArguments& args, Matrix44d& m) const;
    virtual bool isVisibleHere(const IModelArguments& args) const;
    virtual Matrix44d takeTransform(const Matrix44d& m, bool handOn);
    virtual void forEachArgument(const ArgumentCallback& callback) const;
    virtual bool controlsVisibility() const { return false; }

    void accumulateMatrix(const IModelArguments& args, Matrix44d& m) const;
    bool isVisible(const IModelArguments& args) const;

    // INode
    NodeType getType() const override { return NodeType::Node; }
    void accept(INodeVisitor& visitor) override;
    void accept(INodeVisitor& visitor) const override;

    const std::string& getName() const noexcept { return name_; }
    void setName(const char* name) { name_ = name ? name : ""; }
    void setName(std::string name) { name_ = std::move(name); }

    std::uint32_t getVersion() const;
    void setVersion(std::uint32_t version);

    const PropertyList& getProperties() const noexcept { return properties_; }
    PropertyList& getProperties() noexcept { return properties_; }
    // Replaces a property of the same name in its position, else appends.
    void addProperty(const PropertyPtr& property) { addOrReplaceProperty(properties_, property); }

private:
    std::string name_;
    PropertyList properties_;
};

using NodePtr = Ptr<Node>;
using NodeCopies = std::unordered_map<const Node*, NodePtr>;

// Copies top and its whole subtree (each node through clone(), so the copies
// have the classes of their sources) and links the copies in the same shape.
// When copies is given, it receives source -> copy for every node. Null for a
// null top; raises qz::ExtException if a node's class can't be cloned.
NodePtr copyTree(const Node* top, NodeCopies* copies = nullptr);

}  // namespace model
