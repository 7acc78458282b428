#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "CoreLogCapture.h"
#include "qz/Log.h"

namespace {

using coretest::LogCapture;

const std::regex kLine(R"(^(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}) (.{7,10}) (\S*) \(([^)]*)\): ([^\n]*)\n$)");

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

class LogEpoch : public ::testing::Test {
protected:
    void SetUp() override { saved = qz::logEpochOffset(); }
    void TearDown() override { qz::setLogEpochOffset(saved); }
    std::int64_t saved = 0;
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
