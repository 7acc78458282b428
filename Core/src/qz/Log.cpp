#include "qz/Log.h"

#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
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
    ClockState() : start(std::chrono::steady_clock::now()) {}
};

ClockState& clockState() {
    static ClockState state;
    return state;
}

std::int64_t wallClockAtStart() {
    // The clock starts at zero on first use; the offset puts that zero at the
    // current UTC second so printed dates are real.
    clockState();
    return static_cast<std::int64_t>(std::time(nullptr));
}

std::atomic<std::int64_t> g_epochOffset{wallClockAtStart()};
std::mutex g_logMutex;
LogSink g_sink;

struct ThreadNameCache {
    bool known = false;
    std::string name;
};

thread_local ThreadNameCache t_name;

const std::string& currentThreadName() {
    if (!t_name.known) {
        char name[128] = {};
        if (pthread_getname_np(pthread_self(), name, sizeof name) == 0 && name[0] != '\0' &&
            getpid() != static_cast<pid_t>(syscall(SYS_gettid))) {
            t_name.name = name;
        } else {
            // The main thread's system name is the program name, which says
            // nothing; the numeric id is what identifies it.
            char id[32];
            std::snprintf(id, sizeof id, "%u", static_cast<unsigned>(syscall(SYS_gettid)));
            t_name.name = id;
        }
        t_name.known = true;
    }
    return t_name.name;
}

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

    const double printed = time + static_cast<double>(g_epochOffset.load());
    const std::time_t seconds = static_cast<std::time_t>(printed);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    const unsigned millis =
        static_cast<unsigned>((printed - static_cast<double>(seconds)) * 1000.0);
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d.%03u", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, millis);
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
    t_name.known = true;
}

void setLogSinkForTests(LogSink sink) {
    std::lock_guard<std::mutex> lock(g_logMutex);
    g_sink = std::move(sink);
}

void setLogEpochOffset(std::int64_t seconds) { g_epochOffset.store(seconds); }
std::int64_t logEpochOffset() { return g_epochOffset.load(); }

}  // namespace qz
