#include "qz/SlabPool.h"

#include <array>
#include <mutex>
#include <new>
#include <vector>

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
            return cell;
        }
        const std::size_t cellBytes = (c + 1) * kGranule;
        Slab& slab = current_[c];
        if (slab.next == nullptr || slab.next + cellBytes > slab.end) {
            // The slab is kept for good (cells return to the free list).
            char* bytes = static_cast<char*>(::operator new(kSlabBytes));
            slabs_.push_back(bytes);
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
    struct Slab {
        char* next = nullptr;
        char* end = nullptr;
    };
    std::mutex mutex_;
    std::array<FreeCell*, kClasses> free_{};
    std::array<Slab, kClasses> current_{};
    std::vector<char*> slabs_;
};

// Never destroyed: objects may be released by other statics' destructors.
Pools& pools() {
    static Pools* instance = new Pools();
    return *instance;
}

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
