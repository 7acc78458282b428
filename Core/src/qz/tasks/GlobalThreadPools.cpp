#include "qz/tasks/GlobalThreadPools.h"

#include <pthread.h>
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
// Set in a child made by fork() when the parent had the set: the set exists
// there too, but its workers stayed in the parent, so the child makes a pool
// of its own on first use.
bool g_madeInParent = false;
// The parent's pool as the child inherited it. Its workers, and whatever
// locks they held, do not exist in the child, so it can be neither used nor
// destroyed (destroying joins the workers); it is kept, unused.
ThreadPool* g_parentsPool = nullptr;

unsigned usableProcessors() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) != 0) return 1;
    const int count = CPU_COUNT(&set);
    return count > 0 ? static_cast<unsigned>(count) : 1;
}

// Precondition: g_poolsMutex is held and no pool exists in this process.
ThreadPool& makeBootPool() {
    const unsigned count = usableProcessors();
    ThreadInfo info;
    info.priority = Priority::BelowNormal;
    g_bootPool = std::make_unique<ThreadPool>("GlobalThreadPoolBelowNormal", count, info);
    g_madeInParent = false;
    logText("QZCORESTATIC", LOG_INFO, fmt::format("Created boot pool: n:{}", count));
    return *g_bootPool;
}

// The set's lock is held across fork(), so that the child never inherits it
// taken, nor a set half made, by a thread that does not exist there.
void lockBeforeFork() { g_poolsMutex.lock(); }
void unlockInParent() { g_poolsMutex.unlock(); }
void forgetWorkersInChild() {
    if (g_bootPool) {
        g_parentsPool = g_bootPool.release();
        g_madeInParent = true;
    }
    g_poolsMutex.unlock();
}

bool installForkHandlers() {
    // Making the set logs while its lock is held: the log lock's handlers go
    // first, so that fork() takes the set's lock before the log lock.
    installLogForkHandlers();
    return pthread_atfork(&lockBeforeFork, &unlockInParent, &forgetWorkersInChild) == 0;
}

[[maybe_unused]] const bool g_forkHandlersAtLoad = installForkHandlers();

}  // namespace

void createGlobalThreadPools() {
    std::lock_guard<std::mutex> lock(g_poolsMutex);
    if (!g_bootPool) makeBootPool();
}

void destroyGlobalThreadPools() {
    std::unique_ptr<ThreadPool> pool;
    {
        std::lock_guard<std::mutex> lock(g_poolsMutex);
        pool = std::move(g_bootPool);
        g_madeInParent = false;
    }
    // Joined outside the lock: a task still running may ask whether the set exists.
    pool.reset();
}

bool globalThreadPoolsExist() {
    std::lock_guard<std::mutex> lock(g_poolsMutex);
    return g_bootPool != nullptr || g_madeInParent;
}

ThreadPool& globalThreadPool(PoolSlot) {
    std::lock_guard<std::mutex> lock(g_poolsMutex);
    if (g_bootPool) return *g_bootPool;
    if (!g_madeInParent) QZ_THROW("Global thread pools are not created.");
    return makeBootPool();
}

}  // namespace qz
