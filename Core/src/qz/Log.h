#pragma once
// Process-wide logger.
//
// One call writes one line:
//   "YYYY-MM-DD hh:mm:ss.mmm LEVEL   SOURCE (thread): text\n"
// to standard error (coloured only when standard error is a terminal).
// Logging never throws and never fails the caller; concurrent lines never mix
// within a line. TRACE messages are recorded but produce no output.

#include <cstdint>
#include <functional>
#include <string>

namespace qz {

enum LogLevel : std::uint32_t {
    LOG_ALERT = 2,
    LOG_ERROR = 8,
    LOG_WARNING = 16,
    LOG_ERROR_ONCE = 32,
    LOG_INFO = 64,
    LOG_DEBUG = 128,
    LOG_TRACE = 256,
};

// Writes a printf-style message. A null source or format prints "<NULL>".
// The formatted text is cut at 65,535 bytes.
void log(const char* source, std::uint32_t level, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// Writes text unchanged (a '%' in it is not interpreted).
void logText(const char* source, std::uint32_t level, const std::string& text);

// Level name, padded to 7 columns ("ERROR_ONCE" is 10); "UNKNOWN" for others.
const char* levelName(std::uint32_t level);

// Seconds since the logger's first clock read (0 on the first call).
double logClock();

// Names the calling thread for log lines (full length is kept).
void setCurrentThreadLogName(const std::string& name);

// Test hook: when set, every complete output line (with its final line feed)
// is handed to the sink instead of standard error. Pass an empty function to
// restore standard error. Not for production use.
using LogSink = std::function<void(std::uint32_t level, const std::string& line)>;
void setLogSinkForTests(LogSink sink);

// Epoch offset in whole seconds added to the clock when a time is printed.
// Set from the wall clock at start-up, so lines carry the real UTC time.
void setLogEpochOffset(std::int64_t seconds);
std::int64_t logEpochOffset();

}  // namespace qz
