#pragma once
// Captures log lines for the duration of a test instead of writing them to
// standard error. Safe when pool threads log while the test reads.

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "qz/Log.h"

namespace coretest {

struct CapturedLine {
    std::uint32_t level;
    std::string line;
};

class LogCapture {
public:
    LogCapture() {
        qz::setLogSinkForTests([this](std::uint32_t level, const std::string& line) {
            std::lock_guard<std::mutex> lock(mutex_);
            lines_.push_back({level, line});
        });
    }
    ~LogCapture() { qz::setLogSinkForTests({}); }

    std::vector<CapturedLine> lines() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return lines_;
    }

    // The text after "): " of every captured line, in order.
    std::vector<std::string> texts() const {
        std::vector<std::string> result;
        for (const auto& captured : lines()) {
            const auto at = captured.line.find("): ");
            result.push_back(at == std::string::npos ? captured.line : captured.line.substr(at + 3));
        }
        return result;
    }

    // Texts of lines that contain `needle`.
    std::vector<std::string> textsContaining(const std::string& needle) const {
        std::vector<std::string> result;
        for (const auto& text : texts())
            if (text.find(needle) != std::string::npos) result.push_back(text);
        return result;
    }

private:
    mutable std::mutex mutex_;
    std::vector<CapturedLine> lines_;
};

}  // namespace coretest
