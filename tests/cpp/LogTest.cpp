#include <gtest/gtest.h>

#include <fcntl.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <atomic>
#include <chrono>
#include <ctime>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "CoreLogCapture.h"
#include "ForkedChild.h"
#include "qz/Log.h"

namespace {

using coretest::ChildEnd;
using coretest::LogCapture;
using coretest::runInForkedChild;

const std::regex kLine(R"(^(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}) (.{7,10}) (\S*) \(([^)]*)\): ([^\n]*)\n$)");

// The thread field of a captured line.
std::string threadOf(const std::string& line) {
    std::smatch m;
    return std::regex_match(line, m, kLine) ? m[4].str() : "<no match: " + line + ">";
}

std::string systemThreadId() { return std::to_string(syscall(SYS_gettid)); }

TEST(Log, LineHasTimestampPaddedLevelTagThreadAndOneLineFeed) {
    LogCapture captured;
    qz::log("PYTAV", qz::LOG_INFO, "%s", "hello");
    const auto lines = captured.lines();
    ASSERT_EQ(lines.size(), 1u);
    const std::regex pattern(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} INFO    PYTAV \([^)]+\): hello\n$)");
    EXPECT_TRUE(std::regex_match(lines[0].line, pattern)) << lines[0].line;
}

struct LevelCase {
    std::uint32_t level;
    const char* printed;
};

class LogLevelName : public ::testing::TestWithParam<LevelCase> {};

TEST_P(LogLevelName, LevelIsPrintedPaddedBetweenTimestampAndTag) {
    LogCapture captured;
    qz::log("TAG", GetParam().level, "x");
    const auto lines = captured.lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].line.substr(24, std::string(GetParam().printed).size() + 5),
              std::string(GetParam().printed) + " TAG ");
    EXPECT_STREQ(qz::levelName(GetParam().level), GetParam().printed);
}

INSTANTIATE_TEST_SUITE_P(
    Log, LogLevelName,
    ::testing::Values(LevelCase{2, "ALERT  "}, LevelCase{8, "ERROR  "}, LevelCase{16, "WARNING"},
                      LevelCase{32, "ERROR_ONCE"}, LevelCase{64, "INFO   "},
                      LevelCase{128, "DEBUG  "}, LevelCase{0, "UNKNOWN"}, LevelCase{3, "UNKNOWN"},
                      LevelCase{512, "UNKNOWN"},
                      // Only the low 15 bits select the name.
                      LevelCase{0x8000u | 64u, "INFO   "}, LevelCase{0xFFFF0000u | 8u, "ERROR  "}));

TEST(Log, TraceProducesNoOutput) {
    LogCapture captured;
    qz::log("TAG", qz::LOG_TRACE, "invisible %d", 1);
    qz::logText("TAG", qz::LOG_TRACE, "invisible");
    qz::log("TAG", 0x8000u | qz::LOG_TRACE, "invisible");
    EXPECT_TRUE(captured.lines().empty());
}

TEST(Log, TextEndingInLineFeedGetsNoSecondOne) {
    LogCapture captured;
    qz::log("TAG", qz::LOG_INFO, "done\n");
    qz::logText("TAG", qz::LOG_INFO, "done\n\n");
    EXPECT_EQ(captured.texts(), (std::vector<std::string>{"done\n", "done\n\n"}));
}

TEST(Log, EmptyTextStillMakesOneLine) {
    LogCapture captured;
    qz::logText("PYTAV", qz::LOG_DEBUG, "");
    const auto lines = captured.lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].line.substr(lines[0].line.size() - 4), "): \n");
}

TEST(Log, SourceTagIsCutAtSixtyFourBytes) {
    LogCapture captured;
    const std::string tag80 = std::string(64, 'A') + std::string(16, 'B');
    qz::log(tag80.c_str(), qz::LOG_INFO, "t");
    const std::string tag64(64, 'A');
    qz::log(tag64.c_str(), qz::LOG_INFO, "t");
    const auto lines = captured.lines();
    ASSERT_EQ(lines.size(), 2u);
    for (const auto& line : lines) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line.line, m, kLine)) << line.line;
        EXPECT_EQ(m[3].str(), tag64);
    }
}

TEST(Log, MissingSourceOrFormatPrintsNullMarker) {
    LogCapture captured;
    qz::log(nullptr, qz::LOG_INFO, "text");
    qz::log("TAG", qz::LOG_INFO, nullptr);
    const auto lines = captured.lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].line.find(" <NULL> ("), std::string::npos) << lines[0].line;
    EXPECT_EQ(lines[1].line.substr(lines[1].line.size() - 10), "): <NULL>\n");
}

TEST(Log, LogTextKeepsPercentSignsAndLogFormats) {
    LogCapture captured;
    qz::logText("PYTAV", qz::LOG_INFO, "50% done %s %n %d");
    qz::log("PYTAV", qz::LOG_INFO, "%d%% of %s", 50, "work");
    EXPECT_EQ(captured.texts(), (std::vector<std::string>{"50% done %s %n %d\n", "50% of work\n"}));
}

TEST(Log, OverlongTextIsCutAndLineStillEndsInLineFeed) {
    LogCapture captured;
    const std::string huge(70000, 'x');
    qz::log("TAG", qz::LOG_INFO, "%s", huge.c_str());
    qz::logText("TAG", qz::LOG_INFO, huge);
    const auto lines = captured.lines();
    ASSERT_EQ(lines.size(), 2u);
    for (const auto& line : lines) {
        // The whole line fits a 65,536-byte buffer with its terminating zero.
        EXPECT_EQ(line.line.size(), 65535u);
        EXPECT_EQ(line.line.back(), '\n');
        EXPECT_EQ(line.line.find('\n'), line.line.size() - 1);
    }
}

TEST(Log, ThreadWithoutGivenNameIsShownByNumericIdOrSystemName) {
    LogCapture captured;
    qz::log("TAG", qz::LOG_INFO, "main");
    const auto lines = captured.lines();
    ASSERT_EQ(lines.size(), 1u);
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[0].line, m, kLine));
    // The test's main thread carries the program name as its system name,
    // which identifies nothing; it is shown by its numeric id.
    EXPECT_EQ(m[4].str(), std::to_string(syscall(SYS_gettid)));
}

TEST(Log, GivenThreadNameIsShownInFullUpToSixtyFourBytes) {
    LogCapture captured;
    std::thread([] {
        qz::setCurrentThreadLogName("a thread name longer than the fifteen bytes of the system");
        qz::log("TAG", qz::LOG_INFO, "one");
        qz::setCurrentThreadLogName(std::string(100, 'n'));
        qz::log("TAG", qz::LOG_INFO, "two");
    }).join();
    const auto lines = captured.lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].line.find("(a thread name longer than the fifteen bytes of the system): one"),
              std::string::npos);
    EXPECT_NE(lines[1].line.find("(" + std::string(64, 'n') + "): two"), std::string::npos);
}

// A thread of the program's that nobody named carries the name it inherited
// (the program's), which tells one thread from another no better than the
// main thread's would.
TEST(Log, ThreadWithOnlyAnInheritedNameIsShownByNumericIdAndANameOfItsOwnIsKept) {
    LogCapture captured;
    std::string unnamedId, namedId;
    std::thread([&unnamedId] {
        unnamedId = systemThreadId();
        qz::log("TAG", qz::LOG_INFO, "unnamed");
    }).join();
    std::thread([&namedId] {
        namedId = systemThreadId();
        pthread_setname_np(pthread_self(), "decoder-3");
        qz::log("TAG", qz::LOG_INFO, "named");
    }).join();
    const auto lines = captured.lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(threadOf(lines[0].line), unnamedId);
    EXPECT_EQ(threadOf(lines[1].line), "decoder-3");
}

// Seconds since 1970 that a line's timestamp stands for.
double printedTime(const std::string& line) {
    std::smatch m;
    if (!std::regex_match(line, m, kLine)) return -1.0;
    std::tm utc{};
    unsigned millis = 0;
    std::sscanf(m[1].str().c_str(), "%d-%d-%d %d:%d:%d.%u", &utc.tm_year, &utc.tm_mon,
                &utc.tm_mday, &utc.tm_hour, &utc.tm_min, &utc.tm_sec, &millis);
    utc.tm_year -= 1900;
    utc.tm_mon -= 1;
    return static_cast<double>(timegm(&utc)) + millis / 1000.0;
}

double wallClockNow() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// With a whole-second offset the printed time lagged the wall clock by the
// fraction of the second in which the process started.
TEST(Log, TimestampIsTheWallClockTimeToTheMillisecond) {
    LogCapture captured;
    std::vector<std::pair<double, double>> windows;
    for (int i = 0; i < 5; ++i) {
        const double before = wallClockNow();
        qz::log("TAG", qz::LOG_INFO, "now");
        windows.emplace_back(before, wallClockNow());
        usleep(137000);
    }
    const auto lines = captured.lines();
    ASSERT_EQ(lines.size(), windows.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const double printed = printedTime(lines[i].line);
        // Milliseconds are truncated: the printed time may lie up to 1 ms
        // before the call, never after it.
        EXPECT_GE(printed, windows[i].first - 0.0015) << lines[i].line;
        EXPECT_LE(printed, windows[i].second + 0.0005) << lines[i].line;
    }
}

// fork() copies only the forking thread; a log lock inherited taken by
// another thread would hang the child's first line.
TEST(Log, ChildForkedWhileAnotherThreadLogsCanLog) {
    qz::setLogSinkForTests([](std::uint32_t, const std::string&) {});
    std::atomic<bool> stop{false};
    std::thread busy([&stop] {
        while (!stop) qz::log("TAG", qz::LOG_INFO, "busy %d", 1);
    });
    int hung = 0, failed = 0;
    for (int round = 0; round < 40; ++round) {
        const ChildEnd end = runInForkedChild([] {
            qz::log("TAG", qz::LOG_INFO, "child");
            return 0;
        });
        hung += end == ChildEnd::Hung;
        failed += end == ChildEnd::Failed;
    }
    stop = true;
    busy.join();
    qz::setLogSinkForTests({});
    EXPECT_EQ(hung, 0);
    EXPECT_EQ(failed, 0);
}

// The child's copy of the forking thread has an id of its own.
TEST(Log, ForkedChildShowsItsOwnThreadIdNotTheParents) {
    LogCapture captured;
    qz::log("TAG", qz::LOG_INFO, "parent");
    ASSERT_EQ(threadOf(captured.lines().at(0).line), systemThreadId());
    const ChildEnd end = runInForkedChild([&captured] {
        qz::log("TAG", qz::LOG_INFO, "child");
        const auto lines = captured.lines();
        return lines.size() == 2 && threadOf(lines[1].line) == systemThreadId() ? 0 : 1;
    });
    EXPECT_EQ(end, ChildEnd::Succeeded);
}

class LogEpoch : public ::testing::Test {
protected:
    void SetUp() override { saved = qz::logEpochOffset(); }
    void TearDown() override { qz::setLogEpochOffset(saved); }
    double saved = 0;
};

TEST_F(LogEpoch, DefaultOffsetPutsLinesAtCurrentUtcTime) {
    const double printed = qz::logClock() + static_cast<double>(qz::logEpochOffset());
    EXPECT_NEAR(printed, static_cast<double>(std::time(nullptr)), 2.0);
}

TEST_F(LogEpoch, TimestampIsClockPlusOffsetBrokenDownAsUtc) {
    LogCapture captured;
    // Puts the logger's "now" into the first second after 2001-09-09 01:46:40 UTC.
    qz::setLogEpochOffset(1000000000 - static_cast<std::int64_t>(qz::logClock()));
    qz::log("TAG", qz::LOG_INFO, "dated");
    const auto lines = captured.lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(std::regex_search(lines[0].line, std::regex(R"(^2001-09-09 01:46:4[01]\.\d{3} )")))
        << lines[0].line;
}

// Redirects the process's standard error into a file for the life of the object.
class StderrToFile {
public:
    StderrToFile() {
        char pattern[] = "/tmp/pytav_log_XXXXXX";
        fd_ = mkstemp(pattern);
        path_ = pattern;
        std::fflush(stderr);
        saved_ = dup(STDERR_FILENO);
        dup2(fd_, STDERR_FILENO);
    }
    std::string finish() {
        std::fflush(stderr);
        dup2(saved_, STDERR_FILENO);
        close(saved_);
        close(fd_);
        std::ifstream in(path_, std::ios::binary);
        std::stringstream content;
        content << in.rdbuf();
        std::remove(path_.c_str());
        return content.str();
    }

private:
    int fd_ = -1;
    int saved_ = -1;
    std::string path_;
};

// The sink is called under the log's lock, so that a sink needs no lock of
// its own: a sink that dwells a little would see a second thread arrive.
TEST(Log, SinkIsNeverEnteredByTwoThreadsAtOnce) {
    std::atomic<int> inside{0};
    std::atomic<int> overlaps{0};
    qz::setLogSinkForTests([&](std::uint32_t, const std::string&) {
        if (inside.fetch_add(1) != 0) overlaps.fetch_add(1);
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        inside.fetch_sub(1);
    });
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([] {
            for (int i = 0; i < 50; ++i) qz::log("PYTAV", qz::LOG_WARNING, "line %d", i);
        });
    for (auto& thread : threads) thread.join();
    qz::setLogSinkForTests({});
    EXPECT_EQ(overlaps.load(), 0);
}

TEST(Log, ConcurrentLinesOnStandardErrorNeverMixWithinALine) {
    constexpr int kThreads = 8;
    constexpr int kLinesPerThread = 200;
    StderrToFile redirect;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            qz::setCurrentThreadLogName("writer" + std::to_string(t));
            // Long payloads make a torn write far more likely to show.
            const std::string payload(3000, static_cast<char>('a' + t));
            for (int i = 0; i < kLinesPerThread; ++i)
                qz::log("PYTAV", qz::LOG_WARNING, "%d:%d:%s", t, i, payload.c_str());
        });
    }
    for (auto& thread : threads) thread.join();
    const std::string output = redirect.finish();

    std::istringstream in(output);
    std::string line;
    std::set<std::pair<int, int>> seen;
    const std::regex ours(R"(^\S+ \S+ WARNING PYTAV \(writer(\d)\): (\d):(\d+)$)");
    while (std::getline(in, line)) {
        if (line.find("(writer") == std::string::npos) continue;  // other threads' lines
        const auto payloadAt = line.rfind(':');
        ASSERT_NE(payloadAt, std::string::npos);
        const std::string head = line.substr(0, payloadAt);
        std::smatch m;
        ASSERT_TRUE(std::regex_match(head, m, ours)) << head.substr(0, 200);
        const int t = std::stoi(m[1]);
        EXPECT_EQ(std::stoi(m[2]), t);
        EXPECT_EQ(line.substr(payloadAt + 1), std::string(3000, static_cast<char>('a' + t)));
        seen.insert({t, std::stoi(m[3])});
    }
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(kThreads * kLinesPerThread));
}

}  // namespace
