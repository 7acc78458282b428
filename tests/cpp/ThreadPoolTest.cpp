#include <gtest/gtest.h>

#include <sched.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <regex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "CoreLogCapture.h"
#include "ForkedChild.h"
#include "qz/ExtException.h"
#include "qz/tasks/GlobalThreadPools.h"
#include "qz/tasks/TaskGroup.h"
#include "qz/tasks/ThreadPool.h"

namespace {

using coretest::ChildEnd;
using coretest::LogCapture;
using coretest::runInForkedChild;

// Runs `tasks` grouped tasks on the global pool and tells whether all ran.
bool globalPoolRunsTasks(int tasks) {
    auto group = qz::TaskGroup::create("UNIMODELDESCSTATIC");
    std::atomic<int> ran{0};
    for (int i = 0; i < tasks; ++i)
        qz::globalThreadPool(qz::PoolSlot::Normal).submit(group, [&ran] { ran.fetch_add(1); });
    group->wait();
    return ran.load() == tasks;
}

TEST(ThreadPool, WaitReturnsOnlyAfterEveryTaskOfTheGroupRan) {
    qz::ThreadPool pool("TestPool", 4, {});
    constexpr int kTasks = 5000;
    std::vector<std::atomic<int>> runs(kTasks);
    auto group = qz::TaskGroup::create("UNIMODELDESCSTATIC");
    for (int i = 0; i < kTasks; ++i)
        pool.submit(group, [&runs, i] {
            if (i % 500 == 0) usleep(2000);  // some stragglers
            runs[i].fetch_add(1);
        });
    group->wait();
    EXPECT_EQ(group->unfinished(), 0u);
    for (int i = 0; i < kTasks; ++i) ASSERT_EQ(runs[i].load(), 1) << "task " << i;
}

TEST(ThreadPool, ManySubmittersAndGroupsAtOnce) {
    qz::ThreadPool pool("TestPool", 3, {});
    constexpr int kSubmitters = 4;
    constexpr int kTasks = 1000;
    std::atomic<long> sum{0};
    std::vector<std::thread> submitters;
    for (int s = 0; s < kSubmitters; ++s) {
        submitters.emplace_back([&pool, &sum] {
            auto group = qz::TaskGroup::create("group");
            for (int i = 1; i <= kTasks; ++i) pool.submit(group, [&sum, i] { sum.fetch_add(i); });
            group->wait();
        });
    }
    for (auto& submitter : submitters) submitter.join();
    EXPECT_EQ(sum.load(), kSubmitters * (kTasks * (kTasks + 1) / 2));
}

TEST(ThreadPool, FirstTaskExceptionIsRethrownByWaitAndOthersStillRun) {
    qz::ThreadPool pool("TestPool", 2, {});
    auto group = qz::TaskGroup::create("g");
    std::atomic<int> ran{0};
    pool.submit(group, [] { QZ_THROW("Vertex data is invalid."); });
    for (int i = 0; i < 100; ++i) pool.submit(group, [&ran] { ran.fetch_add(1); });
    try {
        group->wait();
        FAIL() << "wait did not rethrow";
    } catch (const qz::ExtException& error) {
        EXPECT_STREQ(error.what(), "Vertex data is invalid.");
    }
    EXPECT_EQ(ran.load(), 100);
    group->wait();  // the exception is handed out once
}

TEST(ThreadPool, UngroupedThrowingTaskIsLoggedAndWorkerKeepsServing) {
    LogCapture captured;
    qz::ThreadPool pool("Solo", 1, {});
    pool.submit([] { throw std::runtime_error("lost"); });
    pool.submit([] { throw 7; });
    auto group = qz::TaskGroup::create("g");
    std::atomic<int> ran{0};
    for (int i = 0; i < 10; ++i) pool.submit(group, [&ran] { ran.fetch_add(1); });
    group->wait();
    EXPECT_EQ(ran.load(), 10);
    const auto texts = captured.textsContaining("has thrown");
    EXPECT_EQ(texts, (std::vector<std::string>(
                         2, "thread pool: worker thread 'Solo#0' has thrown an exception\n")));
    for (const auto& line : captured.lines()) {
        if (line.line.find("has thrown") != std::string::npos) {
            EXPECT_EQ(line.level, qz::LOG_ERROR);
        }
    }
}

TEST(ThreadPool, DestructionRunsEveryQueuedTask) {
    std::atomic<int> ran{0};
    {
        qz::ThreadPool pool("TestPool", 2, {});
        for (int i = 0; i < 200; ++i)
            pool.submit([&ran] {
                usleep(100);
                ran.fetch_add(1);
            });
    }
    EXPECT_EQ(ran.load(), 200);
}

TEST(ThreadPool, PoolAskedForNoThreadsStillRunsTasks) {
    qz::ThreadPool pool("Empty", 0, {});
    EXPECT_EQ(pool.threadCount(), 1u);
    auto group = qz::TaskGroup::create("g");
    std::atomic<int> ran{0};
    pool.submit(group, [&ran] { ran = 1; });
    group->wait();
    EXPECT_EQ(ran.load(), 1);
}

TEST(ThreadPool, EmptyTaskIsRefusedAndLeavesGroupUntouched) {
    qz::ThreadPool pool("TestPool", 1, {});
    auto group = qz::TaskGroup::create("g");
    EXPECT_THROW(pool.submit(group, qz::ThreadPool::Task{}), qz::ExtException);
    EXPECT_EQ(group->unfinished(), 0u);
    group->wait();
}

TEST(ThreadPool, TaskCapturesAreReleasedBeforeWaitReturns) {
    qz::ThreadPool pool("TestPool", 2, {});
    auto group = qz::TaskGroup::create("g");
    auto token = std::make_shared<int>(1);
    for (int i = 0; i < 50; ++i) pool.submit(group, [token] {});
    group->wait();
    EXPECT_EQ(token.use_count(), 1);
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
};

int usableProcessors() {
    cpu_set_t set;
    sched_getaffinity(0, sizeof set, &set);
    return CPU_COUNT(&set);
}

TEST_F(ThreadGlobalPools, CreateAndDestroyAreIdempotent) {
    LogCapture captured;
    EXPECT_THROW(qz::globalThreadPool(qz::PoolSlot::Normal), qz::ExtException);
    qz::createGlobalThreadPools();
    qz::createGlobalThreadPools();
    EXPECT_TRUE(qz::globalThreadPoolsExist());
    qz::destroyGlobalThreadPools();
    qz::destroyGlobalThreadPools();
    EXPECT_FALSE(qz::globalThreadPoolsExist());
    EXPECT_THROW(qz::globalThreadPool(qz::PoolSlot::Low), qz::ExtException);
    qz::createGlobalThreadPools();
    EXPECT_TRUE(qz::globalThreadPoolsExist());

    const std::string expected = "Created boot pool: n:" + std::to_string(usableProcessors()) + "\n";
    EXPECT_EQ(captured.textsContaining("Created boot pool"), (std::vector<std::string>(2, expected)));
    EXPECT_EQ(captured.textsContaining("created thread 'GlobalThreadPoolBelowNormal#").size(),
              2u * usableProcessors());
    for (const auto& line : captured.lines()) {
        if (line.line.find("Created boot pool") != std::string::npos) {
            EXPECT_EQ(line.level, qz::LOG_INFO);
            EXPECT_NE(line.line.find(" INFO    QZCORESTATIC ("), std::string::npos);
        }
    }
}

TEST_F(ThreadGlobalPools, BootPoolServesAllThreeSlotsBelowNormal) {
    LogCapture captured;
    qz::createGlobalThreadPools();
    qz::ThreadPool& high = qz::globalThreadPool(qz::PoolSlot::High);
    EXPECT_EQ(&high, &qz::globalThreadPool(qz::PoolSlot::Normal));
    EXPECT_EQ(&high, &qz::globalThreadPool(qz::PoolSlot::Low));
    EXPECT_EQ(high.name(), "GlobalThreadPoolBelowNormal");
    EXPECT_EQ(high.threadCount(), static_cast<unsigned>(usableProcessors()));
    for (const auto& text : captured.textsContaining("created thread"))
        EXPECT_NE(text.find("(priority:1 "), std::string::npos) << text;

    auto group = qz::TaskGroup::create("UNIMODELDESCSTATIC");
    std::atomic<int> ran{0};
    for (int i = 0; i < 100; ++i)
        qz::globalThreadPool(qz::PoolSlot::Normal).submit(group, [&ran] { ran.fetch_add(1); });
    group->wait();
    EXPECT_EQ(ran.load(), 100);
}

TEST_F(ThreadGlobalPools, BootPoolHasOneThreadPerUsableProcessor) {
    cpu_set_t original;
    ASSERT_EQ(sched_getaffinity(0, sizeof original, &original), 0);
    int first = -1;
    for (int cpu = 0; cpu < CPU_SETSIZE && first < 0; ++cpu)
        if (CPU_ISSET(cpu, &original)) first = cpu;
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(first, &one);
    ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
    LogCapture captured;
    qz::createGlobalThreadPools();
    sched_setaffinity(0, sizeof original, &original);
    EXPECT_EQ(qz::globalThreadPool(qz::PoolSlot::Normal).threadCount(), 1u);
    EXPECT_EQ(captured.textsContaining("Created boot pool"),
              std::vector<std::string>{"Created boot pool: n:1\n"});
}

// A child of fork() has none of its parent's workers: tasks queued on the
// inherited pool would wait for ever.
TEST_F(ThreadGlobalPools, ForkedChildOfAProcessWithPoolsRunsTasksOnAPoolOfItsOwn) {
    LogCapture captured;
    qz::createGlobalThreadPools();
    ASSERT_TRUE(globalPoolRunsTasks(50));
    const ChildEnd end = runInForkedChild([] {
        if (!qz::globalThreadPoolsExist()) return 2;
        if (!globalPoolRunsTasks(200)) return 3;
        // The child's set behaves as in any process: deinit, then init anew.
        qz::destroyGlobalThreadPools();
        if (qz::globalThreadPoolsExist()) return 4;
        qz::createGlobalThreadPools();
        return globalPoolRunsTasks(200) ? 0 : 5;
    });
    EXPECT_EQ(end, ChildEnd::Succeeded);
    EXPECT_TRUE(globalPoolRunsTasks(50));  // the parent's workers are untouched
}

TEST_F(ThreadGlobalPools, ForkedChildOfAProcessWithoutPoolsHasNoneUntilInit) {
    LogCapture captured;
    const ChildEnd end = runInForkedChild([] {
        if (qz::globalThreadPoolsExist()) return 2;
        try {
            qz::globalThreadPool(qz::PoolSlot::Normal);
            return 3;
        } catch (const qz::ExtException&) {
        }
        qz::createGlobalThreadPools();
        return globalPoolRunsTasks(10) ? 0 : 4;
    });
    EXPECT_EQ(end, ChildEnd::Succeeded);
}

// The set's lock, or a set half made or half destroyed, inherited from a
// thread that does not exist in the child would hang the child's first use.
TEST_F(ThreadGlobalPools, ChildForkedWhileAnotherThreadMakesAndDestroysThePoolsCanRunTasks) {
    LogCapture captured;
    std::atomic<bool> stop{false};
    std::thread churn([&stop] {
        while (!stop) {
            qz::createGlobalThreadPools();
            globalPoolRunsTasks(4);
            qz::destroyGlobalThreadPools();
        }
    });
    int hung = 0, failed = 0;
    for (int round = 0; round < 20; ++round) {
        usleep(3000);
        const ChildEnd end = runInForkedChild([] {
            qz::createGlobalThreadPools();
            return globalPoolRunsTasks(20) ? 0 : 1;
        });
        hung += end == ChildEnd::Hung;
        failed += end == ChildEnd::Failed;
    }
    stop = true;
    churn.join();
    EXPECT_EQ(hung, 0);
    EXPECT_EQ(failed, 0);
}

TEST(ThreadPool, WorkersKeepTheirPoolNamesInLogLines) {
    LogCapture captured;
    qz::ThreadPool pool("Converter", 2, {});
    auto group = qz::TaskGroup::create("g");
    for (int i = 0; i < 20; ++i)
        pool.submit(group, [] { qz::log("PYTAV", qz::LOG_INFO, "from a worker"); });
    group->wait();
    const std::regex worker(R"(^\S+ \S+ INFO    PYTAV \(Converter#[01]\): from a worker\n$)");
    int lines = 0;
    for (const auto& line : captured.lines())
        if (line.line.find("from a worker") != std::string::npos) {
            ++lines;
            EXPECT_TRUE(std::regex_match(line.line, worker)) << line.line;
        }
    EXPECT_EQ(lines, 20);
}

}  // namespace
