#include "qz/tasks/SyncTaskQueue.h"

#include <memory>

#include "qz/ExtException.h"
#include "qz/Log.h"

namespace qz {
namespace {
constexpr double kTooLongSeconds = 0.004;
}

SyncTaskQueue::SyncTaskQueue() = default;

SyncTaskQueue::~SyncTaskQueue() {
    NamedTask* task = nullptr;
    if (pending_.load() != 0)
        log("QZCORESTATIC", LOG_WARNING, "qz::SyncTaskQueue is destructed with pending tasks on board");
    while (queue_.pop(task)) delete task;
}

void SyncTaskQueue::push(std::string name, Task task) {
    if (!task) QZ_THROW("qz::SyncTaskQueue: empty task pushed");
    auto named = std::make_unique<NamedTask>(NamedTask{std::move(name), std::move(task)});
    // Counted before it becomes visible, so pending() never runs below zero.
    pending_.fetch_add(1);
    try {
        queue_.push(named.get());
    } catch (...) {
        pending_.fetch_sub(1);
        throw;
    }
    named.release();
}

double SyncTaskQueue::drain(double budgetSeconds) {
    const double start = logClock();
    NamedTask* raw = nullptr;
    while (queue_.pop(raw)) {
        pending_.fetch_sub(1);
        std::unique_ptr<NamedTask> task(raw);
        const double taskStart = logClock();
        task->task();
        const double duration = logClock() - taskStart;
        if (duration > kTooLongSeconds)
            log("QZCORESTATIC", LOG_WARNING, "too long synchronous task '%s', duration: %fms",
                task->name.c_str(), duration * 1000.0);
        if (logClock() - start > budgetSeconds) break;
    }
    return logClock() - start;
}

}  // namespace qz
