#pragma once
// model::utils::Workers: spreads the passes of one big computation over the
// workers of a thread pool, or runs them on the calling thread.
//
// Contract:
//  - Workers() (no pool) has one part and runs everything on the calling
//    thread; Workers(pool) has one part per worker of the pool.
//  - forEachTask(count, fn) calls fn(task) once for each task in
//    [0, count), started in that order, and returns when all have returned;
//    forEachPart(fn) is forEachTask(parts(), fn); forEachRange(count, fn) calls
//    fn(begin, end) for consecutive ranges that cover [0, count) (at most
//    parts() of them, none empty); forEachItem(count, fn) calls fn(item) once
//    for each item in [0, count) from one task per part, each part taking
//    the next item not yet taken, so that many small items cost no task
//    each and items of unequal size even out. The calls may run
//    concurrently: fn must only write what its part, range or item owns.
//  - An exception of a call is rethrown once every call has ended; when
//    several throw, the one of the lowest task (with forEachItem, the part
//    that threw takes no more items).
//  - With a pool, the calling thread waits: it must not be a worker of that
//    pool (the pool's tasks could never all start).

#include <cstddef>
#include <functional>

namespace qz {
class ThreadPool;
}

namespace model::utils {

class Workers {
public:
    Workers() noexcept = default;
    explicit Workers(qz::ThreadPool& pool) noexcept;

    std::size_t parts() const noexcept { return parts_; }
    void forEachTask(std::size_t count, const std::function<void(std::size_t)>& fn) const;
    void forEachPart(const std::function<void(std::size_t)>& fn) const { forEachTask(parts_, fn); }
    void forEachRange(std::size_t count, const std::function<void(std::size_t, std::size_t)>& fn) const;
    void forEachItem(std::size_t count, const std::function<void(std::size_t)>& fn) const;

private:
    qz::ThreadPool* pool_ = nullptr;
    std::size_t parts_ = 1;
};

}  // namespace model::utils
