#include "qz/tasks/ThreadPool.h"

#include <fmt/format.h>

#include <memory>

#include "qz/ExtException.h"
#include "qz/Log.h"

namespace qz {

ThreadPool::ThreadPool(std::string name, unsigned threadCount, const ThreadInfo& info)
    : name_(std::move(name)) {
    // A pool without workers would accept tasks and never run them.
    const unsigned count = threadCount == 0 ? 1 : threadCount;
    workers_.reserve(count);
    try {
        for (unsigned i = 0; i < count; ++i) {
            std::string workerName = fmt::format("{}#{}", name_, i);
            workers_.emplace_back(workerName, info,
                                  [this, workerName] { workerLoop(workerName); });
        }
    } catch (...) {
        stopping_.store(true);
        wakeUps_.release(static_cast<unsigned>(workers_.size()));
        workers_.clear();
        throw;
    }
}

ThreadPool::~ThreadPool() {
    stopping_.store(true);
    wakeUps_.release(static_cast<unsigned>(workers_.size()));
    for (auto& worker : workers_) worker.join();
    // Only a submit that raced with the destruction can leave work behind;
    // running it here keeps its group from waiting forever.
    Job* job = nullptr;
    while (queue_.pop(job)) run(job, name_);
}

void ThreadPool::submit(const std::shared_ptr<TaskGroup>& group, Task task) {
    if (!task) QZ_THROW(fmt::format("thread pool '{}': empty task submitted", name_));
    auto job = std::make_unique<Job>(Job{std::move(task), group});
    if (group) group->taskSubmitted();
    try {
        queue_.push(job.get());
    } catch (...) {
        if (group) group->taskFinished(nullptr);
        throw;
    }
    job.release();
    wakeUps_.release();
}

void ThreadPool::run(Job* job, const std::string& workerName) noexcept {
    std::unique_ptr<Job> owned(job);
    std::exception_ptr error;
    try {
        owned->task();
    } catch (...) {
        error = std::current_exception();
    }
    // The task's captures die before the group reports completion, so a
    // waiter may free whatever they refer to as soon as wait() returns.
    std::shared_ptr<TaskGroup> group = std::move(owned->group);
    owned.reset();
    if (group) {
        group->taskFinished(std::move(error));
    } else if (error) {
        log("QZCORESTATIC", LOG_ERROR, "thread pool: worker thread '%s' has thrown an exception",
            workerName.c_str());
    }
}

void ThreadPool::workerLoop(const std::string& workerName) {
    // Every submit pushes before it wakes one worker, and the stop wakes each
    // worker once more: a wake-up that finds the queue empty can only be a
    // stop wake-up, and by then every task queued before the stop is taken.
    for (;;) {
        wakeUps_.acquire();
        Job* job = nullptr;
        if (queue_.pop(job)) {
            run(job, workerName);
        } else if (stopping_.load()) {
            return;
        }
    }
}

}  // namespace qz
