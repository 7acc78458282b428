#pragma once
// model::utils::OpenAddressMap: a hash map with linear probing in one flat
// array, for the lookups on a save's hot paths (the attachment index, the
// vertex weld's grid, the format 2.0 data pool's wide trie nodes), where a
// node-based map would cost an allocation per entry and a cache miss per
// lookup on top of the table's. mixHash is the hash finaliser they share.
//
// Contract:
//  - Key is an integer or a pointer; one key value, `EmptyKey`, marks free
//    slots and must never be inserted. Value is default-constructible and
//    copyable.
//  - Entries are never removed. The table holds a power of two of slots, at
//    most half of them used: an insert that would pass that load doubles
//    the table first, which moves every entry (pointers to values from
//    find() or insert() are valid until the next insert that grows).
//  - OpenAddressMap(expected) sizes the table for `expected` entries
//    without growing (16 slots at least).
//  - find(key) returns the key's value or null; insert(key, value) files
//    value under key when key is absent and returns the key's value either
//    way, with whether it was inserted.
//  - forEach(fn) calls fn(key, value) for every entry, in table order.

#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <utility>
#include <vector>

namespace model::utils {

// The 64-bit finaliser of a well-mixed hash: every bit of x moves about half
// the bits of the result. Heap addresses share their low bits and grid keys
// differ by small steps, so both need it before they are masked.
constexpr std::uint64_t mixHash(std::uint64_t x) noexcept {
    x ^= x >> 33;
    x *= 0xff51afd7ed558ccdULL;
    x ^= x >> 33;
    x *= 0xc4ceb9fe1a85ec53ULL;
    x ^= x >> 33;
    return x;
}

template <class Key>
std::uint64_t hashKey(Key key) noexcept {
    if constexpr (std::is_pointer_v<Key>)
        return mixHash(reinterpret_cast<std::uintptr_t>(key));
    else
        return mixHash(static_cast<std::uint64_t>(key));
}

template <class Key, class Value, Key EmptyKey>
class OpenAddressMap {
public:
    explicit OpenAddressMap(std::size_t expected = 0) {
        std::size_t size = 16;
        while (size < 2 * expected) size *= 2;
        slots_.assign(size, Slot{});
        mask_ = size - 1;
    }

    std::size_t size() const noexcept { return used_; }
    std::size_t capacity() const noexcept { return slots_.size(); }

    const Value* find(Key key) const noexcept {
        for (std::size_t at = home(key);; at = (at + 1) & mask_) {
            const Slot& s = slots_[at];
            if (s.key == key) return &s.value;
            if (s.key == EmptyKey) return nullptr;
        }
    }
    Value* find(Key key) noexcept {
        return const_cast<Value*>(static_cast<const OpenAddressMap*>(this)->find(key));
    }

    std::pair<Value*, bool> insert(Key key, const Value& value) {
        if (Value* held = find(key)) return {held, false};
        if (2 * (used_ + 1) > slots_.size()) grow();
        Slot& s = freeSlot(key);
        s.key = key;
        s.value = value;
        ++used_;
        return {&s.value, true};
    }

    template <class Fn>
    void forEach(Fn&& fn) const {
        for (const Slot& s : slots_)
            if (s.key != EmptyKey) fn(s.key, s.value);
    }

private:
    struct Slot {
        Key key = EmptyKey;
        Value value{};
    };

    std::size_t home(Key key) const noexcept { return static_cast<std::size_t>(hashKey(key)) & mask_; }

    Slot& freeSlot(Key key) noexcept {
        std::size_t at = home(key);
        while (slots_[at].key != EmptyKey) at = (at + 1) & mask_;
        return slots_[at];
    }

    void grow() {
        std::vector<Slot> old(slots_.size() * 2);
        old.swap(slots_);
        mask_ = slots_.size() - 1;
        for (const Slot& s : old)
            if (s.key != EmptyKey) freeSlot(s.key) = s;
    }

    std::vector<Slot> slots_;
    std::size_t mask_ = 0;
    std::size_t used_ = 0;
};

}  // namespace model::utils
