#include "utils/PreOrder.h"

#include <algorithm>
#include <array>

#include "nodes/ArgAnimatedBone.h"
#include "nodes/ArgAnimationNode.h"
#include "nodes/ArgVisibilityNode.h"
#include "nodes/Bone.h"
#include "nodes/TransformNode.h"

namespace model::utils {

namespace {

// Subtrees walked at once. Each walk is a chain of loads that depend on one
// another (a node's links are known only once it has arrived); several
// chains in turn keep that many misses in flight instead of one.
constexpr std::size_t kWalks = 8;

// One walk of one subtree in pre-order, a node per step.
struct Walk {
    const Node* root = nullptr;
    const Node* next = nullptr;
    std::size_t rootIndex = 0;
    std::size_t begin = 0;  // where this subtree's entries start in `out`
    std::vector<PreOrder::Entry>* out = nullptr;

    // The node after n in the subtree's pre-order, or null past its end.
    const Node* after(const Node* n) const {
        if (const Node* child = n->firstChildNode()) return child;
        for (; n != root; n = n->parentNode())
            if (const Node* sibling = n->nextSiblingNode()) return sibling;
        return nullptr;
    }
};

constexpr std::uint32_t fetched(std::size_t bytes) {
    // More than a few lines ahead per node would crowd out the other nodes'.
    return static_cast<std::uint32_t>(std::min<std::size_t>(bytes, 8 * 64));
}

}  // namespace

PreOrder::Entry PreOrder::entryFor(Node* node) {
    const NodeType type = node->getType();
    switch (type) {
        case NodeType::TransformNode: return Entry{node, type, fetched(sizeof(TransformNode))};
        case NodeType::ArgAnimationNode: return Entry{node, type, fetched(sizeof(ArgAnimationNode))};
        case NodeType::ArgAnimatedBone: return Entry{node, type, fetched(sizeof(ArgAnimatedBone))};
        case NodeType::ArgVisibilityNode: return Entry{node, type, fetched(sizeof(ArgVisibilityNode))};
        case NodeType::Bone: return Entry{node, type, fetched(sizeof(Bone))};
        default: return Entry{node, type, fetched(sizeof(Node))};
    }
}

void PreOrder::prefetchLists(const Entry& e) noexcept {
    if (!e.node) return;
    if (e.type == NodeType::ArgVisibilityNode) {
        qz::prefetchForRead(static_cast<const ArgVisibilityNode*>(e.node)->getEntries().data());
    } else if (e.type == NodeType::ArgAnimationNode) {
        const auto* a = static_cast<const ArgAnimationNode*>(e.node);
        qz::prefetchForRead(a->getPositionAnimations().data());
        qz::prefetchForRead(a->getRotationAnimations().data());
        qz::prefetchForRead(a->getScaleAnimations().data());
    }
}

void PreOrder::rebuild(const Ptr<Node>& top) {
    top_ = top;
    topLeft_ = false;
    removed_ = 0;
    entries_.clear();
    if (!top) return;

    // Nodes with a single child lead the order on their own; the children
    // of the first node with several are the subtrees walked side by side.
    const Node* n = top.get();
    for (;;) {
        entries_.push_back(entryFor(const_cast<Node*>(n)));
        const Node* child = n->firstChildNode();
        if (!child || child->nextSiblingNode()) break;
        n = child;
    }
    std::vector<const Node*> roots;
    for (const Node* c = n->firstChildNode(); c; c = c->nextSiblingNode()) roots.push_back(c);
    if (roots.empty()) return;

    // Each slot walks subtrees in turn into its own list; a subtree's span
    // in that list is recorded so that the spans join in the subtrees' order.
    struct Span {
        std::size_t slot, begin, end;
    };
    std::vector<Span> spans(roots.size());
    std::array<std::vector<Entry>, kWalks> lists;
    std::array<Walk, kWalks> walks;
    std::size_t nextRoot = 0, active = 0;
    auto start = [&](std::size_t slot) {
        Walk& w = walks[slot];
        w.out = &lists[slot];
        if (nextRoot == roots.size()) {
            w.next = nullptr;
            return;
        }
        w.rootIndex = nextRoot;
        w.root = w.next = roots[nextRoot++];
        w.begin = w.out->size();
        prefetchNode(w.next);
        ++active;
    };
    for (std::size_t slot = 0; slot < kWalks; ++slot) start(slot);
    while (active != 0)
        for (std::size_t slot = 0; slot < kWalks; ++slot) {
            Walk& w = walks[slot];
            if (!w.next) continue;
            const Node* at = w.next;
            w.out->push_back(entryFor(const_cast<Node*>(at)));
            w.next = w.after(at);
            if (w.next) {
                prefetchNode(w.next);
                continue;
            }
            spans[w.rootIndex] = Span{slot, w.begin, w.out->size()};
            --active;
            start(slot);
        }

    std::size_t total = entries_.size();
    for (const auto& list : lists) total += list.size();
    entries_.reserve(total);
    for (const Span& s : spans)
        entries_.insert(entries_.end(), lists[s.slot].begin() + std::ptrdiff_t(s.begin),
                        lists[s.slot].begin() + std::ptrdiff_t(s.end));
}

void PreOrder::replace(std::size_t i, Node* node) {
    if (i == 0) {
        topLeft_ = true;
        return;
    }
    entries_[i] = entryFor(node);
}

void PreOrder::remove(std::size_t i) {
    if (i == 0) {
        topLeft_ = true;
        return;
    }
    entries_[i].node = nullptr;
    ++removed_;
}

void PreOrder::settle() {
    if (topLeft_) {
        // Its children went to its replacement or its parent.
        rebuild(Ptr<Node>(top_));
        return;
    }
    if (removed_ == 0) return;
    std::size_t kept = 0;
    for (const Entry& e : entries_)
        if (e.node) entries_[kept++] = e;
    entries_.resize(kept);
    removed_ = 0;
}

}  // namespace model::utils
