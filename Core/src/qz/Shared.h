#pragma once
// Intrusive reference counts.
//
// qz::SharedLite holds the count of an object shared through qz::Ptr; the
// count is an unsigned 32-bit integer changed only by atomic increment and
// decrement, so pointers to one object may be copied and released on several
// threads at once. qz::Shared adds the virtual destructor through which a
// deleter destroys the most-derived object.
//
// Contract: a new object starts with count 0; the first qz::Ptr that adopts it
// takes the first reference. Copying or assigning an object never copies its
// count: a copy is a new object with count 0, and assignment leaves the
// target's count alone. Only qz::Ptr should call addRef/release.

#include <atomic>
#include <cstdint>

namespace qz {

class SharedLite {
public:
    SharedLite() noexcept = default;
    SharedLite(const SharedLite&) noexcept {}
    SharedLite& operator=(const SharedLite&) noexcept { return *this; }

    // Current number of references. A snapshot: another thread may change it
    // right after the read.
    std::uint32_t refCount() const noexcept { return refs_.load(std::memory_order_acquire); }

    // Adds one reference.
    void addRef() const noexcept { refs_.fetch_add(1, std::memory_order_relaxed); }

    // Drops one reference; true when it was the last one (the caller then
    // destroys the object).
    bool releaseRef() const noexcept {
        return refs_.fetch_sub(1, std::memory_order_acq_rel) == 1;
    }

protected:
    ~SharedLite() = default;

private:
    mutable std::atomic<std::uint32_t> refs_{0};
};

class Shared : public SharedLite {
public:
    Shared() noexcept = default;
    Shared(const Shared&) noexcept = default;
    Shared& operator=(const Shared&) noexcept = default;
    virtual ~Shared() = default;
};

}  // namespace qz
