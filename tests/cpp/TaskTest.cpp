// Threads, thread pools with task groups, the global pool set and the
// synchronous task queue: no task is lost, run twice or left waiting.

#include <gtest/gtest.h>

#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <regex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "CoreTestSupport.h"
#include "qz/ExtException.h"
#include "qz/tasks/GlobalThreadPools.h"
#include "qz/tasks/SyncTaskQueue.h"
#include "qz/tasks/TaskGroup.h"
#include "qz/tasks/Thread.h"
#include "qz/tasks/ThreadPool.h"

namespace {

using coretest::ChildEnd;
using coretest::LogCapture;

// Runs `tasks` grouped tasks on the global pool and tells whether all ran.
bool globalPoolRunsTasks(int tasks) {
    auto group = qz::TaskGroup::create("UNIMODELDESCSTATIC");
    std::atomic<int> ran{0};
    for (int i = 0; i < tasks; ++i)
        qz::globalThreadPool(qz::PoolSlot::Normal).submit(group, [&ran] { ran.fetch_add(1); });
    group->wait();
    return ran.load() == tasks;
}

TEST(ThreadPool, EachGroupsWaitReturnsOnlyAfterEveryOneOfItsTasksRan) {
    qz::ThreadPool pool("TestPool", 3, {});
    std::vector<std::thread> submitters;
    std::atomic<int> early{0};
    for (int s = 0; s < 4; ++s)
        submitters.emplace_back([&pool, &early] {
            auto group = qz::TaskGroup::create("group");
            std::atomic<int> ran{0};
            for (int i = 0; i < 2000; ++i)
                pool.submit(group, [&ran, i] {
                    if (i % 500 == 0) usleep(2000);  // some stragglers
                    ran.fetch_add(1);
                });
            group->wait();
            early += ran.load() != 2000;
        });
    for (auto& submitter : submitters) submitter.join();
    EXPECT_EQ(early.load(), 0);
}

TEST(ThreadPool, FirstTaskExceptionIsRethrownOnceByWaitAndOthersStillRun) {
    qz::ThreadPool pool("TestPool", 2, {});
    auto group = qz::TaskGroup::create("g");
    std::atomic<int> ran{0};
    auto token = std::make_shared<int>(1);
    pool.submit(group, [] { QZ_THROW("Vertex data is invalid."); });
    for (int i = 0; i < 100; ++i) pool.submit(group, [&ran, token] { ran.fetch_add(1); });
    EXPECT_EQ(coretest::messageOf([&] { group->wait(); }), "Vertex data is invalid.");
    EXPECT_EQ(ran.load(), 100);
    EXPECT_EQ(token.use_count(), 1);  // captures are released before wait returns
    group->wait();
}

TEST(ThreadPool, UngroupedThrowingTaskIsLoggedAndWorkerKeepsServingUntilDestructionRunsTheQueue) {
    LogCapture captured;
    std::atomic<int> ran{0};
    {
        qz::ThreadPool pool("Solo", 1, {});
        pool.submit([] { throw std::runtime_error("lost"); });
        pool.submit([] { throw 7; });
        for (int i = 0; i < 200; ++i) pool.submit([&ran] { ran.fetch_add(1); });
    }
    EXPECT_EQ(ran.load(), 200);
    EXPECT_EQ(captured.texts("has thrown"),
              std::vector<std::string>(2, "thread pool: worker thread 'Solo#0' has thrown an exception"));
}

// Leaves the global pool set as the test found it.
class ThreadGlobalPools : public ::testing::Test {
protected:
    void SetUp() override {
        existed = qz::globalThreadPoolsExist();
        qz::destroyGlobalThreadPools();
    }
    void TearDown() override {
        qz::destroyGlobalThreadPools();
        if (existed) qz::createGlobalThreadPools();
    }
    bool existed = false;
    LogCapture captured;
};

TEST_F(ThreadGlobalPools, CreateAndDestroyAreIdempotentAndOneBootPoolServesAllSlots) {
    EXPECT_THROW(qz::globalThreadPool(qz::PoolSlot::Normal), qz::ExtException);
    qz::createGlobalThreadPools();
    qz::createGlobalThreadPools();
    qz::destroyGlobalThreadPools();
    qz::destroyGlobalThreadPools();
    EXPECT_FALSE(qz::globalThreadPoolsExist());
    qz::createGlobalThreadPools();
    qz::ThreadPool& high = qz::globalThreadPool(qz::PoolSlot::High);
    EXPECT_EQ(&high, &qz::globalThreadPool(qz::PoolSlot::Low));
    EXPECT_EQ(high.name(), "GlobalThreadPoolBelowNormal");
    EXPECT_EQ(captured.texts("Created boot pool"),
              std::vector<std::string>(2, "Created boot pool: n:" + std::to_string(high.threadCount())));
    EXPECT_TRUE(globalPoolRunsTasks(100));
}

// A child of fork() has none of its parent's workers: tasks queued on the
// inherited pool would wait for ever.
TEST_F(ThreadGlobalPools, ForkedChildOfAProcessWithPoolsRunsTasksOnAPoolOfItsOwn) {
    qz::createGlobalThreadPools();
    ASSERT_TRUE(globalPoolRunsTasks(50));
    const ChildEnd end = coretest::runInForkedChild([] {
        return globalPoolRunsTasks(200) ? 0 : 1;
    });
    EXPECT_EQ(end, ChildEnd::Succeeded);
    EXPECT_TRUE(globalPoolRunsTasks(50));  // the parent's workers are untouched
}

// The set's lock, or a set half made or half destroyed, inherited from a
// thread that does not exist in the child would hang the child's first use.
TEST_F(ThreadGlobalPools, ChildForkedWhileAnotherThreadMakesAndDestroysThePoolsCanRunTasks) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizer allocator is not fork-safe: a child's first new thread waits for good on the "
                    "allocator lock that the parent's other thread held at the fork";
#endif
    coretest::expectForkedChildrenFinish(
        [] {
            qz::createGlobalThreadPools();
            globalPoolRunsTasks(4);
            qz::destroyGlobalThreadPools();
        },
        [] {
            qz::createGlobalThreadPools();
            return globalPoolRunsTasks(20) ? 0 : 1;
        },
        20);
}

TEST(Thread, EscapingExceptionsEndOnlyTheThreadAndJoiningItselfIsLoggedInsteadOfHanging) {
    { qz::Thread a("throws", {}, [] { throw std::runtime_error("boom"); }); }
#if !defined(__SANITIZE_THREAD__)  // the thread sanitizer cannot follow a thread that joins itself
    LogCapture captured;
    std::atomic<qz::Thread*> self{nullptr};
    std::atomic<bool> joined{false};
    auto* thread = new qz::Thread("self-join", {}, [&] {
        while (!self.load()) usleep(100);
        self.load()->join();
        joined = true;
    });
    self = thread;
    while (!joined.load()) usleep(100);
    delete thread;  // already detached: nothing left to join
    EXPECT_EQ(captured.texts("Wait for working thread"),
              std::vector<std::string>{"Wait for working thread failed with code " + std::to_string(EDEADLK) + "."});
#endif
}

// usleep sleeps at least as long as asked, so a 5 ms task is always over the
// 4 ms limit; an empty task never reaches it.
TEST(TaskQueue, TaskOverFourMillisecondsIsReportedShortOneIsNot) {
    LogCapture captured;
    qz::SyncTaskQueue queue;
    queue.push("short", [] {});
    queue.push("slow", [] { usleep(5000); });
    EXPECT_GE(queue.drain(10.0), 0.005);
    ASSERT_EQ(captured.lines().size(), 1u);
    EXPECT_EQ(captured.lines()[0].level, qz::LOG_WARNING);
    std::smatch m;
    const std::string text = captured.texts()[0];
    ASSERT_TRUE(std::regex_match(text, m, std::regex(R"(too long synchronous task 'slow', duration: (\d+\.\d{6})ms)")));
    EXPECT_GE(std::stod(m[1]), 5.0);
}

TEST(TaskQueue, TasksPushedFromOtherThreadsRunInEachPushersOrderWithinTheBudgetAndAThrowLeavesTheRestQueued) {
    std::vector<std::vector<int>> seen(4);
    qz::SyncTaskQueue queue;
    queue.push("bad", [] { QZ_THROW("task failed"); });
    std::vector<std::thread> pushers;
    for (int t = 0; t < 4; ++t)
        pushers.emplace_back([&queue, &seen, t] {
            for (int i = 0; i < 500; ++i) queue.push("p", [&seen, t, i] { seen[t].push_back(i); });
        });
    for (auto& pusher : pushers) pusher.join();
    EXPECT_THROW(queue.drain(100.0), qz::ExtException);
    queue.drain(0.0);  // a zero budget is exceeded by the first task
    EXPECT_EQ(queue.pending(), 1999u);
    queue.drain(100.0);
    std::vector<int> expected(500);
    for (int i = 0; i < 500; ++i) expected[i] = i;
    for (const auto& one : seen) EXPECT_EQ(one, expected);
}

}  // namespace
