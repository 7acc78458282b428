#include "qz/Memory.h"

#include <atomic>
#include <cstdint>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <new>
#include <string>

#include "qz/Log.h"

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace qz {
namespace {

std::atomic<bool> g_outOfMemoryReported{false};

// A tracer (debugger) is attached when the kernel reports a non-zero TracerPid.
bool debuggerAttached() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("TracerPid:", 0) == 0) return std::atol(line.c_str() + 10) != 0;
    }
    return false;
}

// The system allocator may legitimately return null for a zero-byte request;
// asking for one byte keeps "null means exhausted" true.
std::size_t atLeastOne(std::size_t bytes) { return bytes == 0 ? 1 : bytes; }

long long reportedSize(std::size_t bytes) {
    constexpr long long kMax = std::numeric_limits<long long>::max();
    return bytes > static_cast<std::size_t>(kMax) ? kMax : static_cast<long long>(bytes);
}

}  // namespace

void reportOutOfMemory(const char* tag, long long bytes) noexcept {
    if (!g_outOfMemoryReported.exchange(true)) {
        log("QZCORESTATIC", LOG_ALERT, "Out of memory in %s for %lld bytes.", tag, bytes);
        try {
            if (debuggerAttached()) std::raise(SIGTRAP);
        } catch (...) {
            // Reading /proc failed: no debugger to stop in.
        }
    } else {
        log("QZCORESTATIC", LOG_ERROR, "More out of memory in %s for %lld bytes.", tag, bytes);
    }
}

void resetOutOfMemoryFlagForTests() noexcept { g_outOfMemoryReported.store(false); }

void* malloc(std::size_t bytes) {
    void* block = std::malloc(atLeastOne(bytes));
    if (!block) {
        reportOutOfMemory("qz_malloc", reportedSize(bytes));
        throw std::bad_alloc();
    }
    return block;
}

void* realloc(void* block, std::size_t bytes) {
    void* resized = std::realloc(block, atLeastOne(bytes));
    if (!resized) {
        reportOutOfMemory("qz_realloc", reportedSize(bytes));
        throw std::bad_alloc();
    }
    return resized;
}

void free(void* block) noexcept { std::free(block); }

void adviseHugePages(void* block, std::size_t bytes) noexcept {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr std::uintptr_t kHuge = std::uintptr_t(2) << 20;
    const auto begin = reinterpret_cast<std::uintptr_t>(block);
    if (!block || bytes < kHuge || begin > UINTPTR_MAX - bytes) return;
    const std::uintptr_t first = (begin + kHuge - 1) & ~(kHuge - 1);
    const std::uintptr_t last = (begin + bytes) & ~(kHuge - 1);
    // Refused advice (an old kernel, pages switched off) leaves small pages.
    if (last > first) (void)::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
    (void)block;
    (void)bytes;
#endif
}

}  // namespace qz
