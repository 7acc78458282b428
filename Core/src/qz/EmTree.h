#pragma once
// qz::EmTree: parent/child/sibling links embedded in the tree's own objects.
//
// T derives from EmTree<T, Storage> (and, through its other bases, from
// qz::SharedLite). Storage decides how links are held; EmTreePtrStorage<T, D>
// holds the downward and forward links (first child, next sibling) as counted
// qz::Ptr<T, D> and the back links (parent, previous sibling, last child) as
// plain pointers. Every node is therefore owned by its parent's child chain
// and nothing forms a reference cycle: releasing the last outside reference
// to the top of a tree frees every node of it that nobody else holds.
//
// Contract:
//  - Mutating operations take counted pointers and keep references to them.
//    addChild and insertChildBefore first detach the child from its previous
//    parent, and the reference the old place held moves to the new one (the
//    child's count does not change). A null child, a child that is this node or one of its ancestors,
//    or a position that is not a child of this node raises qz::ExtException;
//    the tree is left unchanged.
//  - removeChild of a node that is not a child of this node does nothing and
//    returns false. detachTaking() takes a node out of its parent's children
//    and returns the reference the parent held (null without a parent).
//  - When a node is destroyed while it still has children, the children are
//    unlinked first (their parent and sibling links cleared): a child that
//    someone else still holds survives as the top of its own subtree.
//  - Walks, copies and releases never recurse along the tree: their stack use
//    does not depend on the tree's depth.
//  - Nothing is locked: one tree is changed by one thread at a time.

#include <cstddef>
#include <type_traits>
#include <utility>
#include <vector>

#include "qz/ExtException.h"
#include "qz/Ptr.h"

namespace qz {

template <class T, class Deleter>
struct EmTreePtrStorage {
    using Pointer = Ptr<T, Deleter>;

    Pointer firstChild;
    Pointer nextSibling;
    T* parent = nullptr;
    T* lastChild = nullptr;
    T* prevSibling = nullptr;
};

template <class T, class Storage>
class EmTree {
public:
    using NodePtr = typename Storage::Pointer;

    // Counted views of the links (null when the link is empty).
    NodePtr getParent() const { return NodePtr(links_.parent); }
    NodePtr getFirstChild() const { return links_.firstChild; }
    NodePtr getLastChild() const { return NodePtr(links_.lastChild); }
    NodePtr getNextSibling() const { return links_.nextSibling; }
    NodePtr getPrevSibling() const { return NodePtr(links_.prevSibling); }

    // Plain views for walks that do not change the tree.
    T* parentNode() const noexcept { return links_.parent; }
    T* firstChildNode() const noexcept { return links_.firstChild.get(); }
    T* lastChildNode() const noexcept { return links_.lastChild; }
    T* nextSiblingNode() const noexcept { return links_.nextSibling.get(); }
    T* prevSiblingNode() const noexcept { return links_.prevSibling; }

    bool hasChildren() const noexcept { return bool(links_.firstChild); }

    std::size_t getNumChildren() const noexcept {
        std::size_t n = 0;
        for (const T* c = firstChildNode(); c; c = links(c).nextSibling.get()) ++n;
        return n;
    }

    // The children from the first along the sibling links.
    std::vector<NodePtr> getChildren() const {
        std::vector<NodePtr> out;
        for (T* c = firstChildNode(); c; c = links(c).nextSibling.get()) out.emplace_back(c);
        return out;
    }

    // Appends child after the last child.
    void addChild(const NodePtr& child) { insertChildBefore(child, NodePtr()); }

    // Puts child just before position, an existing child of this node; a
    // null position appends. Inserting a node before itself changes nothing.
    void insertChildBefore(const NodePtr& child, const NodePtr& position) {
        checkNewChild(child);
        if (position && links(position.get()).parent != self())
            QZ_THROW("Tree position is not a child of this node.");
        if (child == position) return;
        // The reference the old parent held moves to the new place: a node
        // moved about the tree costs no count updates (each one a locked
        // instruction that waits for the memory accesses before it).
        NodePtr held;
        if (T* old = links(child.get()).parent) held = links(old).detachChild(child.get());
        linkBefore(held ? std::move(held) : NodePtr(child), position.get());
    }

    // Unlinks child: its neighbours are joined and its parent and sibling
    // links cleared; it keeps its own children. False when child is not a
    // child of this node.
    bool removeChild(const NodePtr& child) {
        if (!child || links(child.get()).parent != self()) return false;
        links_.detachChild(child.get());  // the caller's reference keeps child alive
        return true;
    }

    // Removes this node from its parent, if it has one.
    void detach() { detachTaking(); }

    // Removes this node from its parent, if it has one, and hands over the
    // reference through which the parent held it (null without a parent):
    // a caller that keeps the node takes that reference over instead of
    // counting a new one. Dropping the result may destroy the node.
    NodePtr detachTaking() {
        T* p = links_.parent;
        return p ? links(p).detachChild(self()) : NodePtr();
    }

    // Depth-first pre-order walk from node: pred(node) returning false skips
    // that node's children. The predicate takes a counted pointer (it may then
    // change the tree: every node still to be visited is held until its turn)
    // or a plain pointer (it must then not release nodes of the tree).
    template <class Pred>
    static void traverse(const NodePtr& node, Pred&& pred) {
        if constexpr (std::is_invocable_v<Pred&, const NodePtr&>) {
            std::vector<NodePtr> stack;
            if (node) stack.push_back(node);
            while (!stack.empty()) {
                NodePtr n = std::move(stack.back());
                stack.pop_back();
                if (!pred(n)) continue;
                for (T* c = links(n.get()).lastChild; c; c = links(c).prevSibling)
                    stack.emplace_back(c);
            }
        } else {
            traverse(node.get(), std::forward<Pred>(pred));
        }
    }
    template <class Pred>
    static void traverse(T* node, Pred&& pred) {
        if constexpr (std::is_invocable_v<Pred&, const NodePtr&>) {
            traverse(NodePtr(node), std::forward<Pred>(pred));
        } else {
            walkPlain(node, pred);
        }
    }
    template <class Pred>
    static void traverse(const T* node, Pred&& pred) {
        walkPlain(node, pred);
    }

    // node, its parent, its parent's parent ... up to the top; nearest first.
    static std::vector<NodePtr> getAncestors(const T* node) {
        std::vector<NodePtr> out;
        for (const T* n = node; n; n = links(n).parent) out.emplace_back(const_cast<T*>(n));
        return out;
    }

    // The nearest node that is an ancestor of both (a node counts as its own
    // ancestor); null when they are in different trees or either is null.
    static NodePtr commonAncestor(const T* a, const T* b) {
        if (!a || !b) return NodePtr();
        // Both brought to the same depth, then walked up side by side: no
        // set of ancestors to allocate, which merging passes ask for often.
        std::size_t depthA = 0, depthB = 0;
        for (const T* n = links(a).parent; n; n = links(n).parent) ++depthA;
        for (const T* n = links(b).parent; n; n = links(n).parent) ++depthB;
        for (; depthA > depthB; --depthA) a = links(a).parent;
        for (; depthB > depthA; --depthB) b = links(b).parent;
        while (a != b) {
            a = links(a).parent;
            b = links(b).parent;
        }
        return NodePtr(const_cast<T*>(a));
    }

    // Calls pred on node, then on each ancestor, nearest first, until pred
    // returns false; returns the node where it stopped, or null when the walk
    // passed the top.
    template <class Pred>
    static T* walkUp(T* node, Pred&& pred) {
        for (T* n = node; n; n = links(n).parent)
            if (!pred(n)) return n;
        return nullptr;
    }
    template <class Pred>
    static const T* walkUp(const T* node, Pred&& pred) {
        for (const T* n = node; n; n = links(n).parent)
            if (!pred(n)) return n;
        return nullptr;
    }

    // True when node is this node or one of its ancestors.
    bool isSelfOrAncestor(const T* node) const noexcept {
        for (const T* n = self(); n; n = links(n).parent)
            if (n == node) return true;
        return false;
    }

protected:
    EmTree() = default;
    // A copy starts unlinked: tree links belong to one node only.
    EmTree(const EmTree&) noexcept {}
    EmTree& operator=(const EmTree&) noexcept { return *this; }

    ~EmTree() {
        if (!links_.firstChild) return;
        // Children that only this node holds would otherwise die inside our
        // destructor, their children inside theirs and so on, one stack frame
        // per level. Instead each node about to die hands its children to
        // this loop first, so every level is freed here.
        std::vector<NodePtr> orphans;
        links_.releaseChildren(orphans);
        while (!orphans.empty()) {
            NodePtr n = std::move(orphans.back());
            orphans.pop_back();
            if (n->refCount() == 1) links(n.get()).releaseChildren(orphans);
        }
    }

private:
    struct Links : Storage {
        // Unlinks child (a child of this node), joins its neighbours and
        // returns the reference that held child (its previous sibling's or
        // this node's first-child link).
        NodePtr detachChild(T* child) {
            Links& c = links(child);
            T* prev = c.prevSibling;
            NodePtr next = std::move(c.nextSibling);
            if (next) links(next.get()).prevSibling = prev;
            else this->lastChild = prev;
            c.parent = nullptr;
            c.prevSibling = nullptr;
            NodePtr& holder = prev ? links(prev).nextSibling : this->firstChild;
            NodePtr held = std::move(holder);
            holder = std::move(next);
            return held;
        }

        // Moves every child, unlinked, into out.
        void releaseChildren(std::vector<NodePtr>& out) {
            NodePtr c = std::move(this->firstChild);
            this->lastChild = nullptr;
            while (c) {
                Links& l = links(c.get());
                NodePtr next = std::move(l.nextSibling);
                l.parent = nullptr;
                l.prevSibling = nullptr;
                out.push_back(std::move(c));
                c = std::move(next);
            }
        }
    };

    static Links& links(T* n) noexcept { return static_cast<EmTree*>(n)->links_; }
    static const Links& links(const T* n) noexcept {
        return static_cast<const EmTree*>(n)->links_;
    }
    T* self() noexcept { return static_cast<T*>(this); }
    const T* self() const noexcept { return static_cast<const T*>(this); }

    void checkNewChild(const NodePtr& child) const {
        if (!child) QZ_THROW("Can't add a null node to a tree.");
        // A node can only be an ancestor of this one if it has children.
        if (child.get() == self() || (links(child.get()).firstChild && isSelfOrAncestor(child.get())))
            QZ_THROW("Can't add a node below itself.");
    }

    // Links a detached child before position (null: at the end); the tree
    // keeps the reference it is given.
    void linkBefore(NodePtr child, T* position) {
        T* raw = child.get();
        Links& c = links(raw);
        c.parent = self();
        if (!position) {
            c.prevSibling = links_.lastChild;
            NodePtr& holder = links_.lastChild ? links(links_.lastChild).nextSibling : links_.firstChild;
            holder = std::move(child);
            links_.lastChild = raw;
            return;
        }
        Links& p = links(position);
        c.prevSibling = p.prevSibling;
        NodePtr& holder = p.prevSibling ? links(p.prevSibling).nextSibling : links_.firstChild;
        c.nextSibling = std::move(holder);
        holder = std::move(child);
        p.prevSibling = raw;
    }

    template <class N, class Pred>
    static void walkPlain(N* node, Pred& pred) {
        std::vector<N*> stack;
        if (node) stack.push_back(node);
        while (!stack.empty()) {
            N* n = stack.back();
            stack.pop_back();
            if (!pred(n)) continue;
            for (N* c = links(n).lastChild; c; c = links(c).prevSibling) stack.push_back(c);
        }
    }

    Links links_;
};

}  // namespace qz
