#include "qz/SlabPool.h"

#include "qz/Memory.h"

#include <array>
#include <cstdint>
#include <mutex>
#include <new>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#endif
#if defined(__unix__)
#include <pthread.h>
#endif

namespace qz {

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kPooled = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kPooled = false;
#else
constexpr bool kPooled = true;
#endif
#else
constexpr bool kPooled = true;
#endif

constexpr std::size_t kGranule = alignof(std::max_align_t);
constexpr std::size_t kClasses = SlabPool::kLargest / kGranule;
constexpr std::size_t kSlabBytes = std::size_t(64) << 10;
// Slabs are cut from regions of one huge page where the system has them:
// a tree of 100,000 nodes then spans a dozen TLB entries instead of
// thousands, which the passes' walks over the whole tree feel.
constexpr std::size_t kRegionBytes = std::size_t(2) << 20;

std::size_t classOf(std::size_t size) noexcept { return (size + kGranule - 1) / kGranule - 1; }

struct FreeCell {
    FreeCell* next;
};

class Pools {
public:
    void* allocate(std::size_t size) {
        const std::size_t c = classOf(size);
        std::lock_guard<std::mutex> lock(mutex_);
        if (FreeCell* cell = free_[c]) {
            free_[c] = cell->next;
            // Cells come back in the order they were released, which after
            // a big model was freed is all over the pool: the next one is
            // fetched now, for writing, so that the allocation after this
            // one does not wait for it.
            if (FreeCell* next = cell->next) prefetchForWrite(next, (c + 1) * kGranule);
            return cell;
        }
        const std::size_t cellBytes = (c + 1) * kGranule;
        Slab& slab = current_[c];
        if (slab.next == nullptr || slab.next + cellBytes > slab.end) {
            // The slab is kept for good (cells return to the free list).
            char* bytes = newSlab();
            slab.next = bytes;
            slab.end = bytes + kSlabBytes;
        }
        void* p = slab.next;
        slab.next += cellBytes;
        return p;
    }

    void release(void* p, std::size_t size) noexcept {
        const std::size_t c = classOf(size);
        std::lock_guard<std::mutex> lock(mutex_);
        auto* cell = static_cast<FreeCell*>(p);
        cell->next = free_[c];
        free_[c] = cell;
    }

private:
    char* newSlab() {
        if (regionNext_ == regionEnd_) {
            char* region = newRegion();
            regionNext_ = region;
            regionEnd_ = region + kRegionBytes;
        }
        char* slab = regionNext_;
        regionNext_ += kSlabBytes;
        return slab;
    }

    static char* newRegion() {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
        // Twice the size, so that an aligned region fits; the rest goes back.
        void* raw = mmap(nullptr, 2 * kRegionBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (raw != MAP_FAILED) {
            const auto start = reinterpret_cast<std::uintptr_t>(raw);
            const std::uintptr_t aligned = (start + kRegionBytes - 1) & ~(std::uintptr_t(kRegionBytes) - 1);
            if (aligned > start) munmap(raw, aligned - start);
            const std::uintptr_t end = start + 2 * kRegionBytes;
            if (end > aligned + kRegionBytes) munmap(reinterpret_cast<void*>(aligned + kRegionBytes), end - aligned - kRegionBytes);
            madvise(reinterpret_cast<void*>(aligned), kRegionBytes, MADV_HUGEPAGE);
            return reinterpret_cast<char*>(aligned);
        }
#endif
        return static_cast<char*>(::operator new(kRegionBytes));
    }

    struct Slab {
        char* next = nullptr;
        char* end = nullptr;
    };
public:
    // Held across fork() so that a child never inherits it locked by a
    // thread that does not exist there.
    std::mutex mutex_;

private:
    std::array<FreeCell*, kClasses> free_{};
    std::array<Slab, kClasses> current_{};
    char* regionNext_ = nullptr;
    char* regionEnd_ = nullptr;
};

// Never destroyed: objects may be released by other statics' destructors.
Pools& pools() {
    static Pools* instance = [] {
        auto* made = new Pools();
#if defined(__unix__)
        pthread_atfork([] { pools().mutex_.lock(); }, [] { pools().mutex_.unlock(); },
                       [] { pools().mutex_.unlock(); });
#endif
        return made;
    }();
    return *instance;
}

// Built while the program or module loads, before any thread of ours runs:
// a fork() while another thread was still constructing the pool on its first
// use would leave the child waiting for good on a construction guard that no
// thread of its own will ever release.
[[maybe_unused]] Pools& gBuiltAtLoad = pools();

}  // namespace

void* SlabPool::allocate(std::size_t size) {
    if (!kPooled || size == 0 || size > kLargest) return ::operator new(size);
    return pools().allocate(size);
}

void SlabPool::release(void* p, std::size_t size) noexcept {
    if (!p) return;
    if (!kPooled || size == 0 || size > kLargest) {
        ::operator delete(p);
        return;
    }
    pools().release(p, size);
}

}  // namespace qz
