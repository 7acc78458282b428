#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "qz/Log.h"

namespace {

struct CapturedLines {
    std::vector<std::string> lines;
    CapturedLines() {
        qz::setLogSinkForTests([this](std::uint32_t, const std::string& line) { lines.push_back(line); });
    }
    ~CapturedLines() { qz::setLogSinkForTests({}); }
};

TEST(Log, LineHasTimestampPaddedLevelTagThreadAndOneLineFeed) {
    CapturedLines captured;
    qz::log("PYTAV", qz::LOG_INFO, "%s", "hello");
    ASSERT_EQ(captured.lines.size(), 1u);
    const std::regex pattern(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} INFO    PYTAV \([^)]+\): hello\n$)");
    EXPECT_TRUE(std::regex_match(captured.lines[0], pattern)) << captured.lines[0];
}

}  // namespace
