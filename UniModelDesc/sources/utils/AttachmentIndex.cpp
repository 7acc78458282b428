#include "utils/AttachmentIndex.h"

#include <algorithm>
#include <stdexcept>

#include "qz/Memory.h"

namespace model::utils {

namespace {

std::size_t hashOf(const void* node) {
    // Heap addresses share their low bits; mix them in before masking.
    std::uint64_t x = reinterpret_cast<std::uintptr_t>(node);
    x ^= x >> 33;
    x *= 0xff51afd7ed558ccdULL;
    x ^= x >> 33;
    return static_cast<std::size_t>(x);
}

constexpr std::size_t kAhead = 8;

std::size_t tableSizeFor(std::size_t entries) {
    // Half load at most: growing rehashes.
    std::size_t size = 64;
    while (size < 2 * entries) size *= 2;
    return size;
}

}  // namespace

AttachmentIndex::AttachmentIndex(const std::vector<Ptr<BaseNode>>& baseNodes) {
    std::vector<BaseNode*> raw;
    raw.reserve(baseNodes.size());
    for (const Ptr<BaseNode>& base : baseNodes) raw.push_back(base.get());
    build(raw);
}

AttachmentIndex::AttachmentIndex(const RootNode& root) { build(root.getAllBaseNodePointers()); }

void AttachmentIndex::build(const std::vector<BaseNode*>& baseNodes) {
    // Sized for a parent per base node.
    table_.resize(tableSizeFor(baseNodes.size()));
    filter_.resize(filterWordsFor(table_.size()));
    bases_.resize(tableSizeFor(baseNodes.size()));
    slots_.reserve(baseNodes.size());
    buckets_.reserve(baseNodes.size());
    for (std::size_t k = 0; k < baseNodes.size(); ++k) {
        // The base nodes are all over the heap; asking early lets their
        // misses overlap.
        if (k + kAhead < baseNodes.size()) qz::prefetchForRead(baseNodes[k + kAhead], 4 * 64);
        BaseNode* base = baseNodes[k];
        if (!base) continue;
        const std::size_t count = base->getNumParents();
        if (!addBase(base, slots_.size(), count)) continue;
        for (std::size_t i = 0; i < count; ++i) {
            const Node* parent = base->parentNode(i);
            slots_.push_back(Slot{base, i, parent});
            if (parent) file(slots_.size() - 1, parent);
        }
    }
}

bool AttachmentIndex::addBase(const BaseNode* base, std::size_t first, std::size_t count) {
    const std::size_t mask = bases_.size() - 1;
    std::size_t at = hashOf(base) & mask;
    for (; bases_[at].base; at = (at + 1) & mask)
        if (bases_[at].base == base) return false;
    bases_[at] = BaseEntry{base, first, count};
    return true;
}

const AttachmentIndex::BaseEntry* AttachmentIndex::findBase(const BaseNode* base) const {
    const std::size_t mask = bases_.size() - 1;
    for (std::size_t at = hashOf(base) & mask;; at = (at + 1) & mask) {
        if (bases_[at].base == base) return &bases_[at];
        if (!bases_[at].base) return nullptr;
    }
}

const AttachmentIndex::Entry* AttachmentIndex::find(const Node* node) const {
    const std::size_t hash = hashOf(node);
    if (!mayHold(hash)) return nullptr;
    const std::size_t mask = table_.size() - 1;
    for (std::size_t at = hash & mask;; at = (at + 1) & mask) {
        const Entry& e = table_[at];
        if (e.node == node) return &e;
        if (!e.node) return nullptr;
    }
}

AttachmentIndex::Entry* AttachmentIndex::find(const Node* node) {
    return const_cast<Entry*>(static_cast<const AttachmentIndex*>(this)->find(node));
}

AttachmentIndex::Entry& AttachmentIndex::entryFor(const Node* node) {
    if (Entry* e = find(node)) return *e;
    if (2 * (used_ + 1) > table_.size()) grow();
    const std::size_t mask = table_.size() - 1;
    const std::size_t hash = hashOf(node);
    std::size_t at = hash & mask;
    while (table_[at].node) at = (at + 1) & mask;
    mark(hash);
    Entry& e = table_[at];
    e.node = node;
    e.bucket = static_cast<std::uint32_t>(buckets_.size());
    e.live = 0;
    buckets_.emplace_back();
    ++used_;
    return e;
}

void AttachmentIndex::grow() {
    std::vector<Entry> old(table_.size() * 2);
    std::vector<std::uint64_t> oldFilter(filterWordsFor(old.size()));
    old.swap(table_);
    oldFilter.swap(filter_);
    const std::size_t mask = table_.size() - 1;
    for (const Entry& e : old) {
        if (!e.node) continue;
        const std::size_t hash = hashOf(e.node);
        std::size_t at = hash & mask;
        while (table_[at].node) at = (at + 1) & mask;
        table_[at] = e;
        mark(hash);
    }
}

std::size_t AttachmentIndex::filterWordsFor(std::size_t tableSize) {
    // Eight bits per table slot, sixteen or more per entry at the table's
    // load: about one lookup in sixteen of a node without an entry gets
    // past the filter.
    return tableSize / 8;
}

// The filter takes its bit from the hash's upper half, the table its slot
// from the lower one, so that nodes sharing a slot seldom share a bit.
bool AttachmentIndex::mayHold(std::size_t hash) const noexcept {
    const std::size_t bit = (hash >> 32) & (filter_.size() * 64 - 1);
    return (filter_[bit >> 6] >> (bit & 63)) & 1u;
}

void AttachmentIndex::mark(std::size_t hash) noexcept {
    const std::size_t bit = (hash >> 32) & (filter_.size() * 64 - 1);
    filter_[bit >> 6] |= std::uint64_t(1) << (bit & 63);
}

void AttachmentIndex::file(std::size_t slot, const Node* parent) {
    Entry& entry = entryFor(parent);
    Bucket& bucket = buckets_[entry.bucket];
    if (!bucket.slots.empty() && bucket.slots.back() > slot) bucket.ordered = false;
    bucket.slots.push_back(slot);
    ++entry.live;
}

void AttachmentIndex::unfile(std::size_t slot) {
    const Node* parent = slots_[slot].parent;
    if (!parent) return;
    Entry* entry = find(parent);
    if (!entry) return;
    // Emptying a bucket as soon as its last slot leaves keeps stale slots
    // from piling up under a node that is emptied one link at a time.
    if (--entry->live == 0) {
        buckets_[entry->bucket].slots.clear();
        buckets_[entry->bucket].ordered = true;
    }
}

void AttachmentIndex::tidy(Bucket& bucket, std::uint32_t live, const Node* node) {
    if (bucket.ordered && bucket.slots.size() == live) return;
    auto& s = bucket.slots;
    std::sort(s.begin(), s.end());
    s.erase(std::unique(s.begin(), s.end()), s.end());
    s.erase(std::remove_if(s.begin(), s.end(), [&](std::size_t slot) { return slots_[slot].parent != node; }),
            s.end());
    bucket.ordered = true;
}

AttachedList AttachmentIndex::getAttached(const Node* node) {
    AttachedList out;
    Entry* entry = find(node);
    if (!entry || entry->live == 0) return out;
    Bucket& bucket = buckets_[entry->bucket];
    tidy(bucket, entry->live, node);
    out.reserve(bucket.slots.size());
    for (std::size_t slot : bucket.slots) out.emplace_back(Ptr<BaseNode>(slots_[slot].base), slots_[slot].index);
    return out;
}

bool AttachmentIndex::hasAttached(const Node* node) const { return countAttached(node) != 0; }

std::size_t AttachmentIndex::countAttached(const Node* node) const {
    const Entry* entry = find(node);
    return entry ? entry->live : 0;
}

void AttachmentIndex::setParent(const BaseNode& base, std::size_t index, const Ptr<Node>& node) {
    const BaseEntry* entry = findBase(&base);
    if (!entry) throw std::out_of_range("Base node is not in the attachment index.");
    if (index >= entry->count) throw std::out_of_range("Parent index out of range.");
    const std::size_t slot = entry->first + index;
    Slot& s = slots_[slot];
    s.base->setParent(s.index, node);
    if (s.parent == node.get()) return;
    unfile(slot);
    s.parent = node.get();
    if (node) file(slot, node.get());
}

bool AttachmentIndex::replaceParent(const Node* oldNode, const Ptr<Node>& newNode) {
    Entry* entry = find(oldNode);
    if (!entry || entry->live == 0) return false;
    const std::uint32_t bucketIndex = entry->bucket;
    tidy(buckets_[bucketIndex], entry->live, oldNode);
    if (oldNode == newNode.get()) {
        for (std::size_t slot : buckets_[bucketIndex].slots) slots_[slot].base->setParent(slots_[slot].index, newNode);
        return true;
    }
    // Taken out first: filing under the new node may move the table.
    const auto moving = std::move(buckets_[bucketIndex].slots);
    buckets_[bucketIndex].slots.clear();
    buckets_[bucketIndex].ordered = true;
    entry->live = 0;
    for (std::size_t slot : moving) {
        Slot& s = slots_[slot];
        s.base->setParent(s.index, newNode);
        s.parent = newNode.get();
        if (newNode) file(slot, newNode.get());
    }
    return true;
}

}  // namespace model::utils
