#pragma once
// Shared fixtures of the file layer tests: a fresh folder under /tmp, a log
// capture that keeps the message texts, and environment variable overrides.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "qz/Log.h"

namespace vfstest {

// A new empty folder under /tmp, removed with everything in it at the end.
class TempDir {
public:
    TempDir() {
        char pattern[] = "/tmp/pytav-vfs-XXXXXX";
        const char* made = ::mkdtemp(pattern);
        if (!made) throw std::runtime_error("mkdtemp failed");
        path_ = made;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

struct LogLine {
    std::uint32_t level;
    std::string line;  // the whole line as written
    std::string text;  // the message text alone, without the final line feed
};

// Captures log lines while alive.
class CapturedLog {
public:
    CapturedLog() {
        qz::setLogSinkForTests([this](std::uint32_t level, const std::string& line) {
            const size_t at = line.find("): ");
            std::string text = at == std::string::npos ? line : line.substr(at + 3);
            if (!text.empty() && text.back() == '\n') text.pop_back();
            lines.push_back({level, line, text});
        });
    }
    ~CapturedLog() { qz::setLogSinkForTests({}); }

    std::vector<std::string> texts() const {
        std::vector<std::string> result;
        for (const auto& l : lines) result.push_back(l.text);
        return result;
    }

    std::vector<LogLine> lines;
};

// Sets (or unsets, with nullopt) an environment variable for the scope.
class EnvVar {
public:
    EnvVar(const char* name, const std::optional<std::string>& value) : name_(name) {
        if (const char* old = ::getenv(name)) old_ = old;
        if (value)
            ::setenv(name, value->c_str(), 1);
        else
            ::unsetenv(name);
    }
    ~EnvVar() {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

inline void writeText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

inline std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream contents;
    contents << in.rdbuf();
    return contents.str();
}

inline bool isDir(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace vfstest
