#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <regex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "CoreLogCapture.h"
#include "qz/ExtException.h"
#include "qz/tasks/SyncTaskQueue.h"

namespace {

using coretest::LogCapture;

// usleep sleeps at least as long as asked, so a 5 ms task is always over the
// 4 ms limit; an empty task can never reach it.
TEST(TaskQueue, TaskOverFourMillisecondsIsReportedShortOneIsNot) {
    LogCapture captured;
    qz::SyncTaskQueue queue;
    queue.push("short", [] {});
    queue.push("slow", [] { usleep(5000); });
    const double spent = queue.drain(10.0);
    EXPECT_GE(spent, 0.005);
    EXPECT_EQ(queue.pending(), 0u);
    const auto lines = captured.lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].level, qz::LOG_WARNING);
    const std::regex pattern(
        R"(^\S+ \S+ WARNING QZCORESTATIC \([^)]+\): too long synchronous task 'slow', duration: (\d+\.\d{6})ms\n$)");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[0].line, m, pattern)) << lines[0].line;
    EXPECT_GE(std::stod(m[1]), 5.0);
}

TEST(TaskQueue, TasksRunInPushOrder) {
    qz::SyncTaskQueue queue;
    std::string order;
    for (char c = 'a'; c <= 'j'; ++c) queue.push(std::string(1, c), [&order, c] { order += c; });
    queue.drain(100.0);
    EXPECT_EQ(order, "abcdefghij");
}

TEST(TaskQueue, DrainStopsAfterTheTaskThatExhaustsTheBudget) {
    qz::SyncTaskQueue queue;
    int ran = 0;
    for (int i = 0; i < 5; ++i)
        queue.push("t", [&ran] {
            usleep(1000);
            ++ran;
        });
    // A zero budget is exceeded by the first task, so exactly one runs per call.
    queue.drain(0.0);
    EXPECT_EQ(ran, 1);
    EXPECT_EQ(queue.pending(), 4u);
    queue.drain(-1.0);
    EXPECT_EQ(ran, 2);
    queue.drain(100.0);
    EXPECT_EQ(ran, 5);
    EXPECT_EQ(queue.pending(), 0u);
    // Nothing queued: nothing runs and no time is claimed to be negative.
    EXPECT_GE(queue.drain(0.0), 0.0);
    EXPECT_EQ(ran, 5);
}

TEST(TaskQueue, ThrowingTaskPropagatesAndLeavesTheRestQueued) {
    qz::SyncTaskQueue queue;
    int ran = 0;
    queue.push("bad", [] { QZ_THROW("task failed"); });
    queue.push("good", [&ran] { ++ran; });
    EXPECT_THROW(queue.drain(100.0), qz::ExtException);
    EXPECT_EQ(queue.pending(), 1u);
    queue.drain(100.0);
    EXPECT_EQ(ran, 1);
}

TEST(TaskQueue, DestroyingWithPendingTasksWarnsAndRunsNone) {
    LogCapture captured;
    bool ran = false;
    {
        qz::SyncTaskQueue queue;
        queue.push("left", [&ran] { ran = true; });
    }
    EXPECT_FALSE(ran);
    EXPECT_EQ(captured.texts(),
              std::vector<std::string>{"qz::SyncTaskQueue is destructed with pending tasks on board\n"});
    EXPECT_EQ(captured.lines()[0].level, qz::LOG_WARNING);
}

TEST(TaskQueue, TasksPushedFromOtherThreadsAllReachTheOwner) {
    qz::SyncTaskQueue queue;
    constexpr int kThreads = 4;
    constexpr int kPerThread = 500;
    std::vector<std::thread> pushers;
    std::vector<std::vector<int>> seen(kThreads);
    for (int t = 0; t < kThreads; ++t)
        pushers.emplace_back([&queue, &seen, t] {
            for (int i = 0; i < kPerThread; ++i)
                queue.push("p", [&seen, t, i] { seen[t].push_back(i); });
        });
    for (auto& pusher : pushers) pusher.join();
    queue.drain(100.0);
    for (int t = 0; t < kThreads; ++t) {
        ASSERT_EQ(seen[t].size(), static_cast<std::size_t>(kPerThread));
        // Each pusher's tasks keep their relative order.
        for (int i = 0; i < kPerThread; ++i) EXPECT_EQ(seen[t][i], i);
    }
}

}  // namespace
