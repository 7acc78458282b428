#pragma once
// A fixed set of worker threads that run submitted tasks.
//
// Tasks wait in a lock-free queue that grows as needed (never refuses a task
// for want of room); a counting semaphore wakes one worker per task. Tasks
// start in submission order but run concurrently, so they may finish in any.
//
// Exceptions: a task's exception goes to its group (TaskGroup::wait rethrows
// it). A task without a group that throws is logged at ERROR ("thread pool:
// worker thread '<worker>' has thrown an exception") and the worker goes on
// with the next task, so a pool never loses workers.
//
// Destruction runs every task still queued, then stops and joins all
// workers; a group waited on elsewhere therefore always completes. Submitting
// while the pool is being destroyed is an error of the caller.
//
// fork(): the workers stay in the parent, so a child must neither use nor
// destroy a pool it inherited; the global set (GlobalThreadPools.h) makes
// the child a pool of its own.

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <boost/lockfree/queue.hpp>

#include "qz/tasks/Semaphore.h"
#include "qz/tasks/TaskGroup.h"
#include "qz/tasks/Thread.h"
#include "qz/tasks/ThreadInfo.h"

namespace qz {

class ThreadPool {
public:
    using Task = std::function<void()>;

    // Starts max(threadCount, 1) workers named "<name>#<i>" with the given
    // settings. Throws qz::ExtException when a semaphore or thread cannot be made.
    ThreadPool(std::string name, unsigned threadCount, const ThreadInfo& info);
    ~ThreadPool();
    ThreadPool(const ThreadPool&) = delete;
    ThreadPool& operator=(const ThreadPool&) = delete;

    // Queues `task`, counted in `group` (which may be null) until it ends.
    // Throws qz::ExtException for an empty task.
    void submit(const std::shared_ptr<TaskGroup>& group, Task task);
    void submit(Task task) { submit(nullptr, std::move(task)); }

    const std::string& name() const noexcept { return name_; }
    unsigned threadCount() const noexcept { return static_cast<unsigned>(workers_.size()); }

private:
    struct Job {
        Task task;
        std::shared_ptr<TaskGroup> group;
    };

    void workerLoop(const std::string& workerName);
    static void run(Job* job, const std::string& workerName) noexcept;

    const std::string name_;
    boost::lockfree::queue<Job*> queue_{64};
    Semaphore wakeUps_;
    std::atomic<bool> stopping_{false};
    std::vector<Thread> workers_;
};

}  // namespace qz
