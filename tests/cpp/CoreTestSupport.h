#pragma once
// Shared support of the Core tests: log capture, forked children that may
// hang, temporary folders and whole-file helpers.

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <ostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "qz/ExtException.h"
#include "qz/Log.h"

namespace coretest {

struct LogLine {
    std::uint32_t level;
    std::string line;  // the whole line as written
    std::string text;  // the message text alone, without the final line feed
};

// Captures log lines while alive; pool threads may log while the test reads.
class LogCapture {
public:
    LogCapture() {
        qz::setLogSinkForTests([this](std::uint32_t level, const std::string& line) {
            const auto at = line.find("): ");
            std::string text = at == std::string::npos ? line : line.substr(at + 3);
            if (!text.empty() && text.back() == '\n') text.pop_back();
            std::lock_guard<std::mutex> lock(mutex_);
            lines_.push_back({level, line, text});
        });
    }
    ~LogCapture() { qz::setLogSinkForTests({}); }
    std::vector<LogLine> lines() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return lines_;
    }
    std::vector<std::string> texts(const std::string& needle = "") const {
        std::vector<std::string> result;
        for (const auto& l : lines()) if (l.text.find(needle) != std::string::npos) result.push_back(l.text);
        return result;
    }

private:
    mutable std::mutex mutex_;
    std::vector<LogLine> lines_;
};

// The message of the exception of type E the call throws; "" when it throws none.
template <class E = qz::ExtException>
std::string messageOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const E& e) {
        return e.what();
    }
    return "";
}

enum class ChildEnd { Succeeded, Failed, Hung };

// Runs `body` in a child of fork(); its result is the exit status. A child
// still running after `seconds` is killed and reported as hung, so that a
// hang fails the test instead of stopping the suite.
inline ChildEnd runInForkedChild(const std::function<int()>& body, double seconds = 10.0) {
    const pid_t pid = fork();
    if (pid < 0) return ChildEnd::Failed;
    if (pid == 0) {
        try {
            _exit(body());
        } catch (...) {
            _exit(1);
        }
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    int status = 0;
    for (;;) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) break;
        if (done < 0 && errno != EINTR) return ChildEnd::Failed;
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return ChildEnd::Hung;
        }
        usleep(2000);
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? ChildEnd::Succeeded : ChildEnd::Failed;
}

// Counts hangs and failures of children forked while `busy` runs in another thread.
inline void expectForkedChildrenFinish(const std::function<void()>& busy, const std::function<int()>& child,
                                       int rounds) {
    std::atomic<bool> stop{false};
    std::thread other([&] {
        while (!stop) busy();
    });
    int hung = 0, failed = 0;
    for (int round = 0; round < rounds; ++round) {
        const ChildEnd end = runInForkedChild(child);
        hung += end == ChildEnd::Hung;
        failed += end == ChildEnd::Failed;
    }
    stop = true;
    other.join();
    EXPECT_EQ(hung, 0);
    EXPECT_EQ(failed, 0);
}

// Sets an environment variable while alive; one that was empty comes back unset.
struct EnvVar {
    EnvVar(const char* name, const std::string& value) : name_(name), old_(::getenv(name) ? ::getenv(name) : "") {
        ::setenv(name, value.c_str(), 1);
    }
    ~EnvVar() { old_.empty() ? ::unsetenv(name_.c_str()) : ::setenv(name_.c_str(), old_.c_str(), 1); }
    std::string name_, old_;
};

// A new empty folder under /tmp, removed with everything in it at the end.
struct TempDir {
    std::string path_ = [] {
        char pattern[] = "/tmp/pytav-core-XXXXXX";
        return std::string(::mkdtemp(pattern));
    }();
    ~TempDir() { std::error_code ignored; std::filesystem::remove_all(path_, ignored); }
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
};

inline void writeText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

inline std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream contents;
    contents << in.rdbuf();
    return contents.str();
}

}  // namespace coretest
