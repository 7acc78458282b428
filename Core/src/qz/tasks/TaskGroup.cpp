#include "qz/tasks/TaskGroup.h"

#include <utility>

namespace qz {

std::shared_ptr<TaskGroup> TaskGroup::create(std::string name) {
    return std::shared_ptr<TaskGroup>(new TaskGroup(std::move(name)));
}

std::size_t TaskGroup::unfinished() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return unfinished_;
}

void TaskGroup::taskSubmitted() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++unfinished_;
}

void TaskGroup::taskFinished(std::exception_ptr error) noexcept {
    std::lock_guard<std::mutex> lock(mutex_);
    if (error && !firstError_) firstError_ = std::move(error);
    if (--unfinished_ == 0) allFinished_.notify_all();
}

void TaskGroup::wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    allFinished_.wait(lock, [this] { return unfinished_ == 0; });
    if (firstError_) std::rethrow_exception(std::exchange(firstError_, nullptr));
}

}  // namespace qz
