#pragma once
// Runs a function in a child made by fork() and tells how the child ended.
// A child that has not ended within the time given is killed and reported
// as hung, so that a hang fails the test instead of stopping the suite.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <functional>
#include <ostream>

namespace coretest {

enum class ChildEnd { Succeeded, Failed, Hung };

inline std::ostream& operator<<(std::ostream& out, ChildEnd end) {
    switch (end) {
        case ChildEnd::Succeeded: return out << "succeeded";
        case ChildEnd::Failed: return out << "failed";
        default: return out << "hung";
    }
}

// `body` runs in the child; its result is the child's exit status (0 for
// success, an escaping exception counts as failure). The child leaves with
// _exit, so neither static destructors nor the test framework run there.
inline ChildEnd runInForkedChild(const std::function<int()>& body, double seconds = 10.0) {
    const pid_t pid = fork();
    if (pid < 0) return ChildEnd::Failed;
    if (pid == 0) {
        int status = 1;
        try {
            status = body();
        } catch (...) {
        }
        _exit(status);
    }
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
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

}  // namespace coretest
