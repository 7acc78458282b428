#include "qzvfs/FilePool.h"

#include <cerrno>
#include <cstring>

#include "qz/Log.h"

namespace qzvfs {

struct FilePool::Chunk {
    alignas(FilePool::kHeaderSize) unsigned char blocks[FilePool::kBlocksPerChunk][FilePool::kBlockSize];
    std::atomic<uint32_t> next[FilePool::kBlocksPerChunk];
};

namespace {

// The header in front of each payload remembers the block's index, so a
// release finds its block without searching the chunks, and whether the block
// is handed out, so a second release of the same block cannot corrupt the
// free list.
struct Header {
    uint32_t index;
    std::atomic<uint32_t> live;
};
static_assert(sizeof(Header) <= FilePool::kHeaderSize);

Header& header(unsigned char* block) { return *std::launder(reinterpret_cast<Header*>(block)); }

}  // namespace

FilePool::FilePool() : head_(kEmpty) {
    for (auto& chunk : chunks_) chunk.store(nullptr, std::memory_order_relaxed);
}

FilePool::~FilePool() {
    const uint32_t count = chunkCount_.load();
    for (uint32_t i = 0; i < count && i < kMaxChunks; ++i) delete chunks_[i].load();
}

FilePool& FilePool::global() {
    // Never destroyed: files may still be closed while static objects die.
    static FilePool* pool = new FilePool;
    return *pool;
}

unsigned char* FilePool::blockAt(uint32_t index) const {
    Chunk* chunk = chunks_[index / kBlocksPerChunk].load(std::memory_order_acquire);
    return chunk->blocks[index % kBlocksPerChunk];
}

std::atomic<uint32_t>& FilePool::nextOf(uint32_t index) const {
    Chunk* chunk = chunks_[index / kBlocksPerChunk].load(std::memory_order_acquire);
    return chunk->next[index % kBlocksPerChunk];
}

uint32_t FilePool::pop() {
    uint64_t head = head_.load(std::memory_order_acquire);
    for (;;) {
        const uint32_t index = static_cast<uint32_t>(head);
        if (index == kEmpty) return kEmpty;
        // The next link may be stale if another thread popped this block in
        // the meantime; the tag makes the compare-exchange fail then.
        const uint32_t next = nextOf(index).load(std::memory_order_relaxed);
        const uint64_t replacement = (((head >> 32) + 1) << 32) | next;
        if (head_.compare_exchange_weak(head, replacement, std::memory_order_acq_rel,
                                        std::memory_order_acquire))
            return index;
    }
}

void FilePool::pushChain(uint32_t first, uint32_t last) {
    uint64_t head = head_.load(std::memory_order_relaxed);
    for (;;) {
        nextOf(last).store(static_cast<uint32_t>(head), std::memory_order_relaxed);
        const uint64_t replacement = (((head >> 32) + 1) << 32) | first;
        if (head_.compare_exchange_weak(head, replacement, std::memory_order_release,
                                        std::memory_order_relaxed))
            return;
    }
}

uint32_t FilePool::grow() {
    const uint32_t slot = chunkCount_.fetch_add(1);
    if (slot >= kMaxChunks) {
        chunkCount_.fetch_sub(1);
        return kEmpty;
    }
    Chunk* chunk = new (std::nothrow) Chunk;
    if (!chunk) {
        // The slot stays claimed but empty; it only costs capacity.
        chunks_[slot].store(nullptr, std::memory_order_release);
        return kEmpty;
    }
    const uint32_t base = slot * kBlocksPerChunk;
    for (uint32_t i = 0; i < kBlocksPerChunk; ++i) {
        ::new (chunk->blocks[i]) Header{base + i, {0}};
        chunk->next[i].store(i + 1 < kBlocksPerChunk ? base + i + 1 : kEmpty, std::memory_order_relaxed);
    }
    chunks_[slot].store(chunk, std::memory_order_release);
    // The first block goes to the caller, the rest to the free list.
    pushChain(base + 1, base + kBlocksPerChunk - 1);
    return base;
}

void* FilePool::allocate() {
    uint32_t index = pop();
    if (index == kEmpty) index = grow();
    if (index == kEmpty) {
        errno = ENOMEM;
        return nullptr;
    }
    unsigned char* block = blockAt(index);
    header(block).live.store(1, std::memory_order_relaxed);
    inUse_.fetch_add(1, std::memory_order_relaxed);
    return block + kHeaderSize;
}

void FilePool::release(void* block) {
    if (!block) return;
    unsigned char* start = static_cast<unsigned char*>(block) - kHeaderSize;
    const uint32_t index = header(start).index;
    const uint32_t chunkSlot = index / kBlocksPerChunk;
    if (index == kEmpty || chunkSlot >= kMaxChunks ||
        chunks_[chunkSlot].load(std::memory_order_acquire) == nullptr || blockAt(index) != start) {
        qz::log("QZCORESTATIC", qz::LOG_ALERT, "FilePool::release(%p): not a block of this pool.", block);
        return;
    }
    if (header(start).live.exchange(0, std::memory_order_acq_rel) != 1) {
        qz::log("QZCORESTATIC", qz::LOG_ALERT, "FilePool::release(%p): block released twice.", block);
        return;
    }
    inUse_.fetch_sub(1, std::memory_order_relaxed);
    pushChain(index, index);
}

}  // namespace qzvfs
