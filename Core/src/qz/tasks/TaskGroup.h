#pragma once
// A named set of pool tasks that a thread can wait for.
//
// Made through create() and shared: the submitting side and every queued task
// hold a reference, so the group lives until its last task has finished and
// its owner let go. The count of unfinished tasks is 0 when made; the pool
// raises it on submit and lowers it when a task ends, normally or by an
// exception. The first exception of a task is kept, the later ones dropped.
//
// wait() blocks the calling thread until no task is unfinished, then rethrows
// the kept exception (once; it is cleared by the throw). Never wait from a
// task of the same pool: the waiting worker cannot run the tasks it waits for.

#include <condition_variable>
#include <cstddef>
#include <exception>
#include <memory>
#include <mutex>
#include <string>

namespace qz {

class TaskGroup {
public:
    static std::shared_ptr<TaskGroup> create(std::string name);

    TaskGroup(const TaskGroup&) = delete;
    TaskGroup& operator=(const TaskGroup&) = delete;

    const std::string& name() const noexcept { return name_; }
    std::size_t unfinished() const;

    void wait();

    // For the pools: one more task submitted / one task ended (`error` is
    // null when it ended normally).
    void taskSubmitted();
    void taskFinished(std::exception_ptr error) noexcept;

private:
    explicit TaskGroup(std::string name) : name_(std::move(name)) {}

    const std::string name_;
    mutable std::mutex mutex_;
    std::condition_variable allFinished_;
    std::size_t unfinished_ = 0;
    std::exception_ptr firstError_;
};

}  // namespace qz
