#include <gtest/gtest.h>

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <stdexcept>
#include <string>

#include "CoreLogCapture.h"
#include "qz/tasks/Thread.h"

namespace {

using coretest::LogCapture;

int processNice() { return getpriority(PRIO_PROCESS, static_cast<id_t>(getpid())); }
int ownNice() { return getpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid))); }

TEST(Thread, CreationLineNamesThreadSettingsAndBinaryMask) {
    LogCapture captured;
    qz::ThreadInfo info;
    info.priority = qz::Priority::BelowNormal;
    info.memoryPriority = 3;
    info.throttling = 1;
    info.idealCore = -1;
    info.affinity = 0;
    { qz::Thread thread("worker-x", info, [] {}); }
    qz::ThreadInfo masked;
    masked.affinity = 0b101;
    masked.idealCore = 2;
    { qz::Thread thread("", masked, [] {}); }
    const auto lines = captured.lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].level, qz::LOG_DEBUG);
    EXPECT_NE(lines[0].line.find(" DEBUG   QZCORESTATIC ("), std::string::npos);
    EXPECT_EQ(captured.texts(),
              (std::vector<std::string>{
                  "created thread 'worker-x' (priority:1 mem:3 throttling:1 idealCore:-1 affinity:0)\n",
                  "created thread 'unnamed' (priority:2 mem:5 throttling:2 idealCore:2 affinity:101)\n"}));
}

TEST(Thread, BodyLogsUnderItsFullNameAndSystemSeesItCutToFifteenBytes) {
    LogCapture captured;
    std::string systemName;
    {
        qz::Thread thread("GlobalThreadPoolBelowNormal#12", {}, [&systemName] {
            char name[64] = {};
            pthread_getname_np(pthread_self(), name, sizeof name);
            systemName = name;
            qz::log("TAG", qz::LOG_INFO, "inside");
        });
    }
    EXPECT_EQ(systemName, "GlobalThreadPoo");
    EXPECT_EQ(captured.textsContaining("inside").size(), 1u);
    bool found = false;
    for (const auto& line : captured.lines())
        found |= line.line.find("(GlobalThreadPoolBelowNormal#12): inside") != std::string::npos;
    EXPECT_TRUE(found);
}

TEST(Thread, SystemNameIsNotCutInsideAMultiByteCharacter) {
    std::string systemName;
    // 14 ASCII bytes then a two-byte character straddling the 15-byte limit.
    { qz::Thread thread("abcdefghijklmn\xC3\xA9z", {}, [&systemName] {
          char name[64] = {};
          pthread_getname_np(pthread_self(), name, sizeof name);
          systemName = name;
      }); }
    EXPECT_EQ(systemName, "abcdefghijklmn");
}

TEST(Thread, IdlePriorityRunsInIdleSchedulingClass) {
    qz::ThreadInfo info;
    info.priority = qz::Priority::Idle;
    int policy = -1;
    { qz::Thread thread("idle", info, [&policy] { policy = sched_getscheduler(0); }); }
    EXPECT_EQ(policy, SCHED_IDLE);
}

TEST(Thread, BelowNormalRunsAtLowerPriorityThanProcess) {
    qz::ThreadInfo info;
    info.priority = qz::Priority::BelowNormal;
    int nice = -100;
    int policy = -1;
    { qz::Thread thread("below", info, [&] { nice = ownNice(); policy = sched_getscheduler(0); }); }
    EXPECT_EQ(nice, std::min(processNice() + 5, 19));
    EXPECT_EQ(policy, SCHED_OTHER);
}

TEST(Thread, ThreadStartedFromIdleThreadAtNormalLeavesIdleClass) {
    qz::ThreadInfo idle;
    idle.priority = qz::Priority::Idle;
    int policy = -1;
    {
        qz::Thread outer("idle-outer", idle, [&policy] {
            qz::Thread inner("normal-inner", {}, [&policy] { policy = sched_getscheduler(0); });
        });
    }
    EXPECT_EQ(policy, SCHED_OTHER);
}

TEST(Thread, AffinityMaskRestrictsThreadToNamedProcessor) {
    cpu_set_t allowed;
    ASSERT_EQ(sched_getaffinity(0, sizeof allowed, &allowed), 0);
    int first = -1;
    for (int cpu = 0; cpu < 64 && first < 0; ++cpu)
        if (CPU_ISSET(cpu, &allowed)) first = cpu;
    ASSERT_GE(first, 0);
    qz::ThreadInfo info;
    info.affinity = std::uint64_t{1} << first;
    int count = 0;
    bool onFirst = false;
    { qz::Thread thread("pinned", info, [&] {
          cpu_set_t set;
          sched_getaffinity(0, sizeof set, &set);
          count = CPU_COUNT(&set);
          onFirst = CPU_ISSET(first, &set);
      }); }
    EXPECT_EQ(count, 1);
    EXPECT_TRUE(onFirst);
}

TEST(Thread, AffinityMaskWithoutUsableProcessorIsIgnored) {
    cpu_set_t allowed;
    ASSERT_EQ(sched_getaffinity(0, sizeof allowed, &allowed), 0);
    std::uint64_t unusable = 0;
    for (int cpu = 63; cpu >= 0 && unusable == 0; --cpu)
        if (!CPU_ISSET(cpu, &allowed) && cpu >= sysconf(_SC_NPROCESSORS_CONF))
            unusable = std::uint64_t{1} << cpu;
    if (unusable == 0) GTEST_SKIP() << "every processor number is usable here";
    qz::ThreadInfo info;
    info.affinity = unusable;
    int count = 0;
    { qz::Thread thread("nowhere", info, [&] {
          cpu_set_t set;
          sched_getaffinity(0, sizeof set, &set);
          count = CPU_COUNT(&set);
      }); }
    EXPECT_EQ(count, CPU_COUNT(&allowed));
}

TEST(Thread, EscapingExceptionsEndOnlyTheThread) {
    std::atomic<int> after{0};
    {
        qz::Thread a("throws-std", {}, [] { throw std::runtime_error("boom"); });
        qz::Thread b("throws-int", {}, [] { throw 42; });
    }
    qz::Thread c("after", {}, [&after] { after = 1; });
    c.join();
    EXPECT_EQ(after.load(), 1);
    EXPECT_FALSE(c.joinable());
    c.join();  // a second join does nothing
}

TEST(Thread, JoiningItselfIsLoggedInsteadOfHanging) {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the thread sanitizer cannot follow a thread that joins itself";
#endif
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
    EXPECT_FALSE(thread->joinable());
    delete thread;  // already detached: nothing left to join
    const auto texts = captured.textsContaining("Wait for working thread failed with code ");
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0], "Wait for working thread failed with code " + std::to_string(EDEADLK) + ".\n");
}

}  // namespace
