#pragma once
// qzvfs::FilePool: the lock-free pool of fixed-size blocks that
// operating-system file objects live in, so opening and closing files does
// not go to the heap each time.
//
// Contract
// - allocate() hands out a block of kPayloadSize bytes aligned for any
//   standard type, or nullptr (errno = ENOMEM) when memory or the pool's
//   capacity (kMaxChunks * kBlocksPerChunk live blocks) is exhausted.
// - release() takes back a block handed out by allocate(). A block released
//   twice, or a pointer whose header does not name a block of this pool, is
//   refused with an ALERT log line and left alone.
// - create<T>() builds a T in a block; T's constructor receives a Key first,
//   which only the pool can make, so pooled classes cannot be built anywhere
//   else by mistake. destroy() runs the (virtual) destructor and releases the
//   block of the most-derived object.
// - Every operation may run concurrently from any thread (compare-exchange on
//   a tagged free-list head; blocks are never returned to the heap while the
//   pool lives). The pool must outlive every block it handed out.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <new>
#include <type_traits>
#include <utility>

namespace qzvfs {

class FilePool {
public:
    static constexpr size_t kBlockSize = 256;
    static constexpr size_t kHeaderSize = 16;
    static constexpr size_t kPayloadSize = kBlockSize - kHeaderSize;
    static constexpr size_t kBlocksPerChunk = 64;
    static constexpr size_t kMaxChunks = 1024;

    // Proof that an object is being built by the pool.
    class Key {
        friend class FilePool;
        Key() = default;
    };

    FilePool();
    ~FilePool();
    FilePool(const FilePool&) = delete;
    FilePool& operator=(const FilePool&) = delete;

    // The pool of the library, alive for the whole process.
    static FilePool& global();

    void* allocate();
    void release(void* block);

    // Blocks handed out and not yet released.
    size_t blocksInUse() const { return inUse_.load(std::memory_order_relaxed); }

    template <class T, class... Args>
    T* create(Args&&... args) {
        static_assert(sizeof(T) <= kPayloadSize, "object does not fit a pool block");
        static_assert(alignof(T) <= kHeaderSize, "object needs a stronger alignment than a pool block");
        void* block = allocate();
        if (!block) return nullptr;
        try {
            return ::new (block) T(Key{}, std::forward<Args>(args)...);
        } catch (...) {
            release(block);
            throw;
        }
    }

    template <class T>
    void destroy(T* object) {
        if (!object) return;
        void* block;
        if constexpr (std::is_polymorphic_v<T>)
            block = dynamic_cast<void*>(object);
        else
            block = object;
        object->~T();
        release(block);
    }

private:
    struct Chunk;
    static constexpr uint32_t kEmpty = 0xFFFFFFFFu;

    unsigned char* blockAt(uint32_t index) const;
    std::atomic<uint32_t>& nextOf(uint32_t index) const;
    uint32_t pop();
    void pushChain(uint32_t first, uint32_t last);
    uint32_t grow();

    std::atomic<uint64_t> head_;  // (tag << 32) | index of the first free block
    std::atomic<uint32_t> chunkCount_{0};
    std::atomic<Chunk*> chunks_[kMaxChunks];
    std::atomic<size_t> inUse_{0};
};

}  // namespace qzvfs
