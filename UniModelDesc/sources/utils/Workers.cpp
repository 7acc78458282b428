#include "utils/Workers.h"

#include <atomic>
#include <exception>
#include <vector>

#include "qz/tasks/TaskGroup.h"
#include "qz/tasks/ThreadPool.h"

namespace model::utils {
namespace {

// The core task system's name for the vertex pass's task groups.
constexpr const char* kTaskGroupName = "UNIMODELDESCSTATIC";

}  // namespace

Workers::Workers(qz::ThreadPool& pool) noexcept : pool_(&pool), parts_(pool.threadCount() > 0 ? pool.threadCount() : 1) {}

void Workers::forEachTask(std::size_t count, const std::function<void(std::size_t)>& fn) const {
    if (!pool_ || count < 2) {
        for (std::size_t p = 0; p < count; ++p) fn(p);
        return;
    }
    std::vector<std::exception_ptr> errors(count);
    const auto group = qz::TaskGroup::create(kTaskGroupName);
    try {
        for (std::size_t p = 0; p < count; ++p)
            pool_->submit(group, [&fn, &errors, p] {
                try {
                    fn(p);
                } catch (...) {
                    errors[p] = std::current_exception();
                }
            });
    } catch (...) {
        // The queued tasks refer to this frame.
        group->wait();
        throw;
    }
    group->wait();
    for (const std::exception_ptr& e : errors)
        if (e) std::rethrow_exception(e);
}

void Workers::forEachRange(std::size_t count, const std::function<void(std::size_t, std::size_t)>& fn) const {
    const std::size_t ranges = count < parts_ ? count : parts_;
    if (ranges == 0) return;
    forEachPart([&](std::size_t p) {
        if (p < ranges) fn(count * p / ranges, count * (p + 1) / ranges);
    });
}

void Workers::forEachItem(std::size_t count, const std::function<void(std::size_t)>& fn) const {
    std::atomic<std::size_t> next{0};
    forEachPart([&](std::size_t) {
        for (std::size_t item; (item = next++) < count;) fn(item);
    });
}

}  // namespace model::utils
