#include "qz/Log.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace qz {
namespace {

constexpr std::size_t kBufferSize = 65536;
constexpr std::size_t kTagLimit = 64;

struct LevelInfo {
    std::uint32_t value;
    const char* name;
    int colour;  // console colour attribute
};

constexpr LevelInfo kLevels[] = {
    {LOG_ALERT, "ALERT  ", 5},   {LOG_ERROR, "ERROR  ", 12}, {LOG_WARNING, "WARNING", 14},
    {LOG_ERROR_ONCE, "ERROR_ONCE", 13}, {LOG_INFO, "INFO   ", 15}, {LOG_DEBUG, "DEBUG  ", 7},
    {LOG_TRACE, "TRACE  ", 2},
};

const LevelInfo* findLevel(std::uint32_t level) {
    const std::uint32_t bits = level & 0x7fffu;
    for (const auto& info : kLevels)
        if (info.value == bits) return &info;
    return nullptr;
}

// ANSI escape for a console colour attribute (low nibble: I R G B).
const char* ansiColour(int attribute) {
    switch (attribute) {
        case 2: return "\x1b[32m";
        case 5: return "\x1b[35m";
        case 7: return "\x1b[37m";
        case 12: return "\x1b[91m";
        case 13: return "\x1b[95m";
        case 14: return "\x1b[93m";
        default: return "\x1b[97m";
    }
}

struct ClockState {
    std::chrono::steady_clock::time_point start;
    // The wall-clock time (seconds since 1970, with their fraction) read
    // together with `start`: the calendar time of the clock's zero.
    double wallAtStart;
    ClockState()
        : start(std::chrono::steady_clock::now()),
          wallAtStart(std::chrono::duration<double>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count()) {}
};

ClockState& clockState() {
    static ClockState state;
    return state;
}

// Made while the program or module loads, so that lines carry the real UTC
// time to the millisecond from the first one on.
std::atomic<double> g_epochOffset{clockState().wallAtStart};
std::mutex g_logMutex;
LogSink g_sink;

struct ThreadNameCache {
    bool known = false;
    // Whether the name was given by the program (setCurrentThreadLogName or
    // the system thread name) rather than being the numeric id.
    bool given = false;
    std::string name;
};

thread_local ThreadNameCache t_name;

pid_t currentSystemThreadId() { return static_cast<pid_t>(syscall(SYS_gettid)); }

// The system name of the process's main thread, which every thread inherits
// from its creator unless the program names it; empty when unreadable.
void readMainThreadName(char* name, std::size_t size) {
    name[0] = '\0';
    char path[64];
    std::snprintf(path, sizeof path, "/proc/self/task/%d/comm", static_cast<int>(getpid()));
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    const ssize_t got = read(fd, name, size - 1);
    close(fd);
    if (got <= 0) return;
    name[got] = '\0';
    if (name[got - 1] == '\n') name[got - 1] = '\0';
}

const std::string& currentThreadName() {
    if (!t_name.known) {
        const pid_t tid = currentSystemThreadId();
        char name[128] = {};
        char inherited[128] = {};
        // The main thread's name is the program's, which says nothing, and
        // so is a name a thread merely inherited (every thread a script or a
        // library starts without naming it): only a name of its own counts.
        bool given = tid != getpid() &&
                     pthread_getname_np(pthread_self(), name, sizeof name) == 0 &&
                     name[0] != '\0';
        if (given) {
            readMainThreadName(inherited, sizeof inherited);
            given = inherited[0] != '\0' && std::strcmp(name, inherited) != 0;
        }
        if (given) {
            t_name.name = name;
        } else {
            char id[32];
            std::snprintf(id, sizeof id, "%u", static_cast<unsigned>(tid));
            t_name.name = id;
        }
        t_name.given = given;
        t_name.known = true;
    }
    return t_name.name;
}

// fork() copies only the calling thread: the log lock is held across it so
// that no other thread can own it in the child, and the forking thread's
// numeric name is dropped there, since the child gives that thread a new id.
void lockBeforeFork() { g_logMutex.lock(); }
void unlockInParent() { g_logMutex.unlock(); }
void unlockInChild() {
    g_logMutex.unlock();
    if (!t_name.given) t_name.known = false;
}

[[maybe_unused]] const bool g_forkHandlersAtLoad = (installLogForkHandlers(), true);

// Appends at most what fits, keeping room for the terminating zero.
void append(char* line, std::size_t& used, const char* text, std::size_t length) {
    const std::size_t room = kBufferSize - 1 - used;
    const std::size_t n = length < room ? length : room;
    std::memcpy(line + used, text, n);
    used += n;
    line[used] = '\0';
}

void append(char* line, std::size_t& used, const char* text) {
    append(line, used, text, std::strlen(text));
}

void writeMessage(const char* source, std::uint32_t level, const char* text) {
    const double time = logClock();
    const LevelInfo* info = findLevel(level);
    if ((level & 0x7fffu) == LOG_TRACE) return;

    char sourceTag[kTagLimit + 1];
    if (source) {
        std::strncpy(sourceTag, source, kTagLimit);
        sourceTag[kTagLimit] = '\0';
    } else {
        std::strcpy(sourceTag, "<NULL>");
    }

    static thread_local char line[kBufferSize];
    std::size_t used = 0;
    line[0] = '\0';

    const double printed = time + g_epochOffset.load();
    const std::int64_t seconds = static_cast<std::int64_t>(printed);
    const unsigned millis =
        static_cast<unsigned>((printed - static_cast<double>(seconds)) * 1000.0);
    // Broken down by arithmetic alone: the C library's gmtime takes a lock of
    // its own, which a child made by fork() may inherit taken.
    using namespace std::chrono;
    const sys_seconds at{std::chrono::seconds{seconds}};
    const sys_days day = floor<days>(at);
    const year_month_day date{day};
    const hh_mm_ss<std::chrono::seconds> clock{at - day};
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%04d-%02u-%02u %02d:%02d:%02d.%03u",
                  static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                  static_cast<unsigned>(date.day()), static_cast<int>(clock.hours().count()),
                  static_cast<int>(clock.minutes().count()),
                  static_cast<int>(clock.seconds().count()), millis);
    append(line, used, stamp);
    append(line, used, " ");
    append(line, used, info ? info->name : "UNKNOWN");
    append(line, used, " ");
    append(line, used, sourceTag);
    append(line, used, " (");
    const std::string& thread = currentThreadName();
    append(line, used, thread.data(), thread.size() < kTagLimit ? thread.size() : kTagLimit);
    append(line, used, "): ");
    append(line, used, text ? text : "<NULL>");
    if (used == 0 || line[used - 1] != '\n') {
        if (used < kBufferSize - 1)
            append(line, used, "\n");
        else
            line[used - 1] = '\n';
    }

    std::lock_guard<std::mutex> lock(g_logMutex);
    if (g_sink) {
        g_sink(level, std::string(line, used));
        return;
    }
    static const bool colour = isatty(STDERR_FILENO) != 0;
    if (colour) {
        std::fputs(ansiColour(info ? info->colour : 15), stderr);
        std::fwrite(line, 1, used - 1, stderr);
        std::fputs("\x1b[0m\n", stderr);
    } else {
        std::fwrite(line, 1, used, stderr);
    }
    std::fflush(stderr);
}

}  // namespace

double logClock() {
    const auto elapsed = std::chrono::steady_clock::now() - clockState().start;
    return std::chrono::duration<double>(elapsed).count();
}

const char* levelName(std::uint32_t level) {
    const LevelInfo* info = findLevel(level);
    return info ? info->name : "UNKNOWN";
}

void log(const char* source, std::uint32_t level, const char* format, ...) {
    if (!format) {
        writeMessage(source, level, nullptr);
        return;
    }
    static thread_local char text[kBufferSize];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);  // cuts at 65,535 bytes
    va_end(args);
    writeMessage(source, level, text);
}

void logText(const char* source, std::uint32_t level, const std::string& text) {
    if (text.size() >= kBufferSize) {
        writeMessage(source, level, text.substr(0, kBufferSize - 1).c_str());
        return;
    }
    writeMessage(source, level, text.c_str());
}

void setCurrentThreadLogName(const std::string& name) {
    t_name.name = name;
    t_name.given = true;
    t_name.known = true;
}

void installLogForkHandlers() {
    static const bool installed =
        pthread_atfork(&lockBeforeFork, &unlockInParent, &unlockInChild) == 0;
    (void)installed;
}

void setLogSinkForTests(LogSink sink) {
    std::lock_guard<std::mutex> lock(g_logMutex);
    g_sink = std::move(sink);
}

void setLogEpochOffset(double seconds) { g_epochOffset.store(seconds); }
double logEpochOffset() { return g_epochOffset.load(); }

}  // namespace qz
