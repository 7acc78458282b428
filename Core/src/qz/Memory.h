#pragma once
// Allocation that never hands a null pointer on silently, and hints to the
// system about how memory will be used (huge pages, prefetching).
//
// qz::malloc and qz::realloc take memory from the system heap. When the heap
// has nothing left they report the failure through reportOutOfMemory (tag
// "qz_malloc" or "qz_realloc" and the requested byte count) and then throw
// std::bad_alloc, so a caller never sees or uses a failed block.
// Blocks are released with qz::free (or std::free: they come from the same heap).

#include <cstddef>
#include <cstdint>

namespace qz {

// Returns a block of at least `bytes` bytes (a zero-byte request yields a
// valid one-byte block). Throws std::bad_alloc after the report on failure.
void* malloc(std::size_t bytes);

// Resizes `block` (which may be null) to `bytes` bytes and returns the new
// block; a zero size keeps a valid one-byte block instead of freeing. On
// failure the report is written, std::bad_alloc is thrown and `block` is left
// untouched and still owned by the caller.
void* realloc(void* block, std::size_t bytes);

// Releases a block from qz::malloc/qz::realloc; null is ignored.
void free(void* block) noexcept;

// Reports an exhausted heap. The first report of the process is logged at
// ALERT ("Out of memory in %s for %lld bytes.", source "QZCORESTATIC") and,
// when a debugger is attached, stops in it; every later report is logged at
// ERROR ("More out of memory in %s for %lld bytes."). Exactly one caller ever
// writes the ALERT, however many threads fail together. Does not throw.
void reportOutOfMemory(const char* tag, long long bytes) noexcept;

// Asks the system to back the whole 2 MiB pages inside [block, block +
// bytes) with huge pages when they are first touched: a buffer of many
// megabytes written once from end to end then costs a few page faults
// instead of one per 4 KiB. Only advice: it does nothing where the system
// has no such pages or the range holds no whole huge page, and it never
// fails. The range must be memory the caller owns.
void adviseHugePages(void* block, std::size_t bytes) noexcept;

// Hints that the `bytes` bytes from `block` will soon be read
// (prefetchForRead) or written (prefetchForWrite): every cache line they
// touch is asked for now, so that a walk over data spread across memory keeps
// several misses in flight. A block that does not start on a line boundary
// touches one line more than its size alone says (64 bytes at an address 16
// past a boundary lie on two lines). Only hints: they change nothing, never
// fault, and ignore a null block.
//
// The instructions are written out rather than left to __builtin_prefetch:
// GCC takes a function that only prefetches for one without effects and
// drops calls to it (a hint given through a helper template vanished
// whole), and on the baseline x86-64 target it emits nothing at all for a
// prefetch for writing. PREFETCHW runs as a no-op on processors without it.
namespace detail {
inline constexpr std::uintptr_t kCacheLine = 64;

template <int Write>
inline void prefetchLine(std::uintptr_t line) noexcept {
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
    // The address goes in a register: nothing is dereferenced, not even
    // for the compiler.
    if constexpr (Write != 0)
        asm volatile("prefetchw (%0)" : : "r"(line));
    else
        asm volatile("prefetcht0 (%0)" : : "r"(line));
#elif defined(__GNUC__)
    // Elsewhere the builtin, kept from being dropped the same way.
    __builtin_prefetch(reinterpret_cast<const void*>(line), Write);
    asm volatile("" : : : "memory");
#else
    (void)line;
#endif
}

template <int Write>
inline void prefetchLines(const void* block, std::size_t bytes) noexcept {
    if (!block || bytes == 0) return;
    const auto start = reinterpret_cast<std::uintptr_t>(block);
    const std::uintptr_t last = start + (bytes - 1);
    for (std::uintptr_t line = start & ~(kCacheLine - 1); line <= last; line += kCacheLine)
        prefetchLine<Write>(line);
}
}  // namespace detail

inline void prefetchForRead(const void* block, std::size_t bytes = 64) noexcept { detail::prefetchLines<0>(block, bytes); }
inline void prefetchForWrite(const void* block, std::size_t bytes = 64) noexcept { detail::prefetchLines<1>(block, bytes); }

// Test hook: clears the "first exhaustion reported" flag so the next report
// is an ALERT again. Not for production use.
void resetOutOfMemoryFlagForTests() noexcept;

}  // namespace qz
