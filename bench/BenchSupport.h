#pragma once
// What the C++ benchmarks share: making model objects through the registry,
// the thread's CPU time, medians, and measuring in a process of its own.
// A benchmark can't go on without these, so a failure ends the process with
// exit status 2 (a missed goal exits with 1).

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <type_traits>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include "ClassRegistry.h"

namespace bench {

// The registry's make; a class it can't make ends the benchmark.
template <class T>
model::Ptr<T> make(const char* cls) {
    try {
        return model::ClassRegistry::make<T>(cls);
    } catch (const qz::ExtException& e) {
        std::fprintf(stderr, "%s\n", e.what());
        std::exit(2);
    }
}

// The calling thread's CPU time in seconds: other work on a shared machine
// blurs it less than the wall clock.
inline double cpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

inline double median(std::vector<double> values) {
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

// Runs measure() in a child process and returns its result (a trivially
// copyable value), so that every measurement starts on a fresh heap: a
// small model measured after a large one would otherwise find its memory
// already faulted in, and a large one measured after a small one a heap
// cut up by it.
template <class Result, class Measure>
Result runApart(Measure&& measure) {
    static_assert(std::is_trivially_copyable_v<Result>);
    int fds[2];
    if (pipe(fds) != 0) {
        std::perror("pipe");
        std::exit(2);
    }
    const pid_t pid = fork();
    if (pid < 0) {
        std::perror("fork");
        std::exit(2);
    }
    if (pid == 0) {
        close(fds[0]);
        const Result result = measure();
        const bool sent = write(fds[1], &result, sizeof result) == ssize_t(sizeof result);
        _exit(sent ? 0 : 2);
    }
    close(fds[1]);
    Result result{};
    const bool got = read(fds[0], &result, sizeof result) == ssize_t(sizeof result);
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!got || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "a measuring process failed\n");
        std::exit(2);
    }
    return result;
}

}  // namespace bench
