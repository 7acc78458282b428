#include <gtest/gtest.h>

#include <fcntl.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <functional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "CoreTestSupport.h"
#include "qz/Log.h"

namespace {

using coretest::ChildEnd;
using coretest::LogCapture;

const std::regex kLine(R"(^(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}) (.{7,10}) (\S*) \(([^)]*)\): ([^\n]*)\n+$)");

std::string threadOf(const std::string& line) {
    std::smatch m;
    return std::regex_match(line, m, kLine) ? m[4].str() : line;
}

std::string systemThreadId() { return std::to_string(syscall(SYS_gettid)); }

// The line without its timestamp and thread field.
std::string levelTagAndText(const std::string& line) {
    const auto open = line.find(" (", 24);
    return line.substr(24, open - 24) + line.substr(line.find("): ", open) + 1);
}

struct LineCase {
    const char* name;
    std::function<void()> call;
    const char* expected;  // "" when no line may be written
};

class LogLine : public ::testing::TestWithParam<LineCase> {};

TEST_P(LogLine, HasPaddedLevelTagAndTextEndingInOneLineFeed) {
    LogCapture captured;
    GetParam().call();
    const auto lines = captured.lines();
    ASSERT_EQ(lines.size(), *GetParam().expected ? 1u : 0u);
    if (lines.empty()) return;
    EXPECT_TRUE(std::regex_match(lines[0].line, kLine)) << lines[0].line;
    EXPECT_EQ(levelTagAndText(lines[0].line), GetParam().expected);
}

const std::string kTag80 = std::string(64, 'A') + std::string(16, 'B');
const std::string kTag64Line = "INFO    " + std::string(64, 'A') + ": t\n";

INSTANTIATE_TEST_SUITE_P(
    Log, LogLine,
    ::testing::Values(
        LineCase{"Alert", [] { qz::log("T", 2, "x"); }, "ALERT   T: x\n"},
        LineCase{"Error", [] { qz::log("T", 8, "x"); }, "ERROR   T: x\n"},
        LineCase{"OnlyLowBitsSelectTheName", [] { qz::log("T", 0xFFFF0000u | 64u, "x"); }, "INFO    T: x\n"},
        LineCase{"Trace", [] { qz::log("T", 0x8000u | qz::LOG_TRACE, "invisible"); }, ""},
        LineCase{"Format", [] { qz::log("PYTAV", qz::LOG_INFO, "%d%% of %s", 50, "work"); },
                 "INFO    PYTAV: 50% of work\n"},
        LineCase{"TextKeepsPercentSigns", [] { qz::logText("PYTAV", qz::LOG_INFO, "50% %s %n"); },
                 "INFO    PYTAV: 50% %s %n\n"},
        LineCase{"LineFeedNotDoubled", [] { qz::log("T", qz::LOG_INFO, "done\n"); }, "INFO    T: done\n"},
        LineCase{"EmptyText", [] { qz::logText("PYTAV", qz::LOG_DEBUG, ""); }, "DEBUG   PYTAV: \n"},
        LineCase{"NullFormat", [] { qz::log("T", qz::LOG_INFO, nullptr); }, "INFO    T: <NULL>\n"},
        LineCase{"TagCutAtSixtyFourBytes", [] { qz::log(kTag80.c_str(), qz::LOG_INFO, "t"); }, kTag64Line.c_str()}),
    [](const auto& info) { return std::string(info.param.name); });

// A thread with only the name it inherited (the program's) is shown by its
// numeric id: that name tells one thread from another no better than none.
TEST(Log, ThreadIsShownByGivenNameUpToSixtyFourBytesByOwnSystemNameElseByNumericId) {
    LogCapture captured;
    std::string unnamedId;
    qz::log("TAG", qz::LOG_INFO, "main");
    std::thread([&unnamedId] {
        unnamedId = systemThreadId();
        qz::log("TAG", qz::LOG_INFO, "unnamed");
        qz::setCurrentThreadLogName(std::string(100, 'n'));
        qz::log("TAG", qz::LOG_INFO, "given");
    }).join();
    std::thread([] {
        pthread_setname_np(pthread_self(), "decoder-3");
        qz::log("TAG", qz::LOG_INFO, "named");
    }).join();
    const auto lines = captured.lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(threadOf(lines[0].line), systemThreadId());
    EXPECT_EQ(threadOf(lines[1].line), unnamedId);
    EXPECT_EQ(threadOf(lines[2].line), std::string(64, 'n'));
    EXPECT_EQ(threadOf(lines[3].line), "decoder-3");
}

double printedTime(const std::string& line) {
    std::smatch m;
    if (!std::regex_match(line, m, kLine)) return -1.0;
    std::tm utc{};
    unsigned millis = 0;
    std::sscanf(m[1].str().c_str(), "%d-%d-%d %d:%d:%d.%u", &utc.tm_year, &utc.tm_mon, &utc.tm_mday,
                &utc.tm_hour, &utc.tm_min, &utc.tm_sec, &millis);
    utc.tm_year -= 1900;
    utc.tm_mon -= 1;
    return static_cast<double>(timegm(&utc)) + millis / 1000.0;
}

double wallClockNow() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// With a whole-second offset the printed time lagged the wall clock by the
// fraction of the second in which the process started.
TEST(Log, TimestampIsTheWallClockTimeWithItsFractionOfASecond) {
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
        // Milliseconds are truncated, and the system clock may be slewed
        // against the steady one while the process runs (by up to 0.5%).
        EXPECT_GE(printedTime(lines[i].line), windows[i].first - 0.02) << lines[i].line;
        EXPECT_LE(printedTime(lines[i].line), windows[i].second + 0.02) << lines[i].line;
    }
}

// fork() copies only the forking thread; a log lock inherited taken by
// another thread would hang the child's first line.
TEST(Log, ChildForkedWhileAnotherThreadLogsCanLog) {
    qz::setLogSinkForTests([](std::uint32_t, const std::string&) {});
    coretest::expectForkedChildrenFinish([] { qz::log("TAG", qz::LOG_INFO, "busy %d", 1); },
                                         [] { return qz::log("TAG", qz::LOG_INFO, "child"), 0; }, 40);
    qz::setLogSinkForTests({});
}

// The sink is called under the log's lock, so that a sink needs no lock of
// its own: a sink that dwells a little would see a second thread arrive.
TEST(Log, SinkIsNeverEnteredByTwoThreadsAtOnce) {
    std::atomic<int> inside{0}, overlaps{0};
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

}  // namespace
