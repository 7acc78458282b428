#include "qz/tasks/GlobalThreadPools.h"

#include <sched.h>

#include <fmt/format.h>

#include <memory>
#include <mutex>

#include "qz/ExtException.h"
#include "qz/Log.h"
#include "qz/tasks/ThreadPool.h"

namespace qz {
namespace {

std::mutex g_poolsMutex;
// The boot set-up: one pool serves the high, normal and low slots.
std::unique_ptr<ThreadPool> g_bootPool;

unsigned usableProcessors() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) != 0) return 1;
    const int count = CPU_COUNT(&set);
    return count > 0 ? static_cast<unsigned>(count) : 1;
}

}  // namespace

void createGlobalThreadPools() {
    std::lock_guard<std::mutex> lock(g_poolsMutex);
    if (g_bootPool) return;
    const unsigned count = usableProcessors();
    ThreadInfo info;
    info.priority = Priority::BelowNormal;
    g_bootPool = std::make_unique<ThreadPool>("GlobalThreadPoolBelowNormal", count, info);
    logText("QZCORESTATIC", LOG_INFO, fmt::format("Created boot pool: n:{}", count));
}

void destroyGlobalThreadPools() {
    std::unique_ptr<ThreadPool> pool;
    {
        std::lock_guard<std::mutex> lock(g_poolsMutex);
        pool = std::move(g_bootPool);
    }
    // Joined outside the lock: a task still running may ask whether the set exists.
    pool.reset();
}

bool globalThreadPoolsExist() {
    std::lock_guard<std::mutex> lock(g_poolsMutex);
    return g_bootPool != nullptr;
}

ThreadPool& globalThreadPool(PoolSlot) {
    std::lock_guard<std::mutex> lock(g_poolsMutex);
    if (!g_bootPool) QZ_THROW("Global thread pools are not created.");
    return *g_bootPool;
}

}  // namespace qz
