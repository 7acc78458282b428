#pragma once
// A queue of named tasks that its owner runs on its own thread, a time slice
// at a time.
//
// push() may be called from any thread (the queue is lock-free); drain() only
// from the owning thread. drain(budget) runs tasks in push order, one by one;
// a task that takes longer than 4 ms is logged at WARNING ("too long
// synchronous task '<name>', duration: <ms>ms"); after each task it stops once
// more than `budget` seconds have passed since the call began, so at least one
// task runs when any is queued. It returns the seconds spent.
// A task that throws is removed and its exception propagates out of drain();
// the tasks behind it stay queued.
// Destroying a queue that still holds tasks drops them unrun and logs
// "qz::SyncTaskQueue is destructed with pending tasks on board" at WARNING.

#include <atomic>
#include <cstddef>
#include <functional>
#include <string>

#include <boost/lockfree/queue.hpp>

namespace qz {

class SyncTaskQueue {
public:
    using Task = std::function<void()>;

    SyncTaskQueue();
    ~SyncTaskQueue();
    SyncTaskQueue(const SyncTaskQueue&) = delete;
    SyncTaskQueue& operator=(const SyncTaskQueue&) = delete;

    // Throws qz::ExtException for an empty task.
    void push(std::string name, Task task);
    double drain(double budgetSeconds);
    // Tasks pushed and not yet taken by drain().
    std::size_t pending() const noexcept { return pending_.load(); }

private:
    struct NamedTask {
        std::string name;
        Task task;
    };

    boost::lockfree::queue<NamedTask*> queue_{16};
    std::atomic<std::size_t> pending_{0};
};

}  // namespace qz
