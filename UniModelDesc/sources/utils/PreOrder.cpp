#include "utils/PreOrder.h"

namespace model::utils {

void PreOrder::rebuild(const Ptr<Node>& top) {
    top_ = top;
    topLeft_ = false;
    removed_ = 0;
    entries_.clear();
    if (!top) return;
    Node::traverse(static_cast<const Node*>(top.get()), [this](const Node* n) {
        entries_.push_back(Entry{const_cast<Node*>(n), n->getType()});
        return true;
    });
}

void PreOrder::replace(std::size_t i, Node* node) {
    if (i == 0) {
        topLeft_ = true;
        return;
    }
    entries_[i] = Entry{node, node->getType()};
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
