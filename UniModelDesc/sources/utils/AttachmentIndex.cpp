#include "utils/AttachmentIndex.h"

#include <algorithm>
#include <stdexcept>

namespace model::utils {

AttachmentIndex::AttachmentIndex(const std::vector<Ptr<BaseNode>>& baseNodes) {
    for (const Ptr<BaseNode>& base : baseNodes) {
        if (!base) continue;
        const std::size_t count = base->getNumParents();
        if (!bases_.emplace(base.get(), std::make_pair(slots_.size(), count)).second) continue;
        for (std::size_t i = 0; i < count; ++i) {
            const Ptr<Node> parent = base->getParent(i);
            slots_.push_back(Slot{base, i, parent.get()});
            if (parent) file(slots_.size() - 1, parent.get());
        }
    }
}

void AttachmentIndex::file(std::size_t slot, const Node* parent) {
    Bucket& bucket = buckets_[parent];
    if (!bucket.slots.empty() && bucket.slots.back() > slot) bucket.ordered = false;
    bucket.slots.push_back(slot);
    ++bucket.live;
}

void AttachmentIndex::unfile(std::size_t slot) {
    const Node* parent = slots_[slot].parent;
    if (!parent) return;
    const auto it = buckets_.find(parent);
    if (it == buckets_.end()) return;
    // Dropping an emptied bucket keeps stale slots from piling up under a
    // node that is being emptied one link at a time.
    if (--it->second.live == 0) buckets_.erase(it);
}

void AttachmentIndex::tidy(Bucket& bucket, const Node* node) {
    if (bucket.ordered && bucket.slots.size() == bucket.live) return;
    std::vector<std::size_t>& s = bucket.slots;
    std::sort(s.begin(), s.end());
    s.erase(std::unique(s.begin(), s.end()), s.end());
    s.erase(std::remove_if(s.begin(), s.end(), [&](std::size_t slot) { return slots_[slot].parent != node; }),
            s.end());
    bucket.ordered = true;
}

AttachedList AttachmentIndex::getAttached(const Node* node) {
    AttachedList out;
    const auto it = buckets_.find(node);
    if (it == buckets_.end()) return out;
    tidy(it->second, node);
    out.reserve(it->second.slots.size());
    for (std::size_t slot : it->second.slots) out.emplace_back(slots_[slot].base, slots_[slot].index);
    return out;
}

bool AttachmentIndex::hasAttached(const Node* node) const { return countAttached(node) != 0; }

std::size_t AttachmentIndex::countAttached(const Node* node) const {
    const auto it = buckets_.find(node);
    return it == buckets_.end() ? 0 : it->second.live;
}

void AttachmentIndex::setParent(const BaseNode& base, std::size_t index, const Ptr<Node>& node) {
    const auto it = bases_.find(&base);
    if (it == bases_.end()) throw std::out_of_range("Base node is not in the attachment index.");
    if (index >= it->second.second) throw std::out_of_range("Parent index out of range.");
    const std::size_t slot = it->second.first + index;
    Slot& s = slots_[slot];
    s.base->setParent(s.index, node);
    if (s.parent == node.get()) return;
    unfile(slot);
    s.parent = node.get();
    if (node) file(slot, node.get());
}

bool AttachmentIndex::replaceParent(const Node* oldNode, const Ptr<Node>& newNode) {
    const auto it = buckets_.find(oldNode);
    if (it == buckets_.end()) return false;
    tidy(it->second, oldNode);
    if (oldNode == newNode.get()) {
        for (std::size_t slot : it->second.slots) slots_[slot].base->setParent(slots_[slot].index, newNode);
        return true;
    }
    const std::vector<std::size_t> moving = std::move(it->second.slots);
    buckets_.erase(it);
    for (std::size_t slot : moving) {
        Slot& s = slots_[slot];
        s.base->setParent(s.index, newNode);
        s.parent = newNode.get();
        if (newNode) file(slot, newNode.get());
    }
    return true;
}

}  // namespace model::utils
