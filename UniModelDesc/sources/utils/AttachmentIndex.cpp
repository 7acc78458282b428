#include "utils/AttachmentIndex.h"

#include <algorithm>
#include <stdexcept>

namespace model::utils {

namespace {

// Tables for at least this many entries: small trees then never grow them.
constexpr std::size_t kLeastEntries = 32;

// Eight filter bits per table slot, sixteen or more per entry at the
// table's load: about one lookup in sixteen of a node without an entry gets
// past the filter.
std::size_t filterWordsFor(std::size_t tableSize) { return tableSize / 8; }

}  // namespace

AttachmentIndex::AttachmentIndex(const std::vector<Ptr<BaseNode>>& baseNodes)
    : bases_(std::max(baseNodes.size(), kLeastEntries)), table_(std::max(baseNodes.size(), kLeastEntries)) {
    std::vector<BaseNode*> raw;
    raw.reserve(baseNodes.size());
    for (const Ptr<BaseNode>& base : baseNodes) raw.push_back(base.get());
    build(raw);
}

AttachmentIndex::AttachmentIndex(const RootNode& root) : AttachmentIndex(root.getAllBaseNodePointers()) {}

AttachmentIndex::AttachmentIndex(const std::vector<BaseNode*>& baseNodes)
    : bases_(std::max(baseNodes.size(), kLeastEntries)), table_(std::max(baseNodes.size(), kLeastEntries)) {
    build(baseNodes);
}

void AttachmentIndex::build(const std::vector<BaseNode*>& baseNodes) {
    // The tables are sized for a parent per base node.
    layFilter();
    slots_.reserve(baseNodes.size());
    buckets_.reserve(baseNodes.size());
    for (std::size_t k = 0; k < baseNodes.size(); ++k) {
        BaseNode* base = baseNodes[k];
        if (!base) continue;
        const std::size_t count = base->getNumParents();
        // A base node listed again is indexed at its first place only.
        if (!bases_.insert(base, BaseEntry{slots_.size(), count}).second) continue;
        for (std::size_t i = 0; i < count; ++i) {
            const Node* parent = base->parentNode(i);
            slots_.push_back(Slot{base, i, parent});
            if (parent) file(slots_.size() - 1, parent);
        }
    }
}

const AttachmentIndex::Entry* AttachmentIndex::find(const Node* node) const {
    if (!mayHold(hashKey(node))) return nullptr;
    return table_.find(node);
}

AttachmentIndex::Entry* AttachmentIndex::find(const Node* node) {
    return const_cast<Entry*>(static_cast<const AttachmentIndex*>(this)->find(node));
}

AttachmentIndex::Entry& AttachmentIndex::entryFor(const Node* node) {
    if (Entry* e = find(node)) return *e;
    const std::size_t capacity = table_.capacity();
    Entry& e = *table_.insert(node, Entry{static_cast<std::uint32_t>(buckets_.size()), 0}).first;
    buckets_.emplace_back();
    if (table_.capacity() != capacity)
        layFilter();
    else
        mark(hashKey(node));
    return e;
}

void AttachmentIndex::layFilter() {
    filter_.assign(filterWordsFor(table_.capacity()), 0);
    table_.forEach([this](const Node* node, const Entry&) { mark(hashKey(node)); });
}

// The filter takes its bit from the hash's upper half, the table its slot
// from the lower one, so that nodes sharing a slot seldom share a bit.
bool AttachmentIndex::mayHold(std::uint64_t hash) const noexcept {
    const std::size_t bit = (hash >> 32) & (filter_.size() * 64 - 1);
    return (filter_[bit >> 6] >> (bit & 63)) & 1u;
}

void AttachmentIndex::mark(std::uint64_t hash) noexcept {
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
    const BaseEntry* entry = bases_.find(&base);
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
