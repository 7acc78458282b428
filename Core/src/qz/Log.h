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

// Names the calling thread for log lines (full length is kept). A thread that
// is not named so, and has no system name of its own (one that differs from
// the main thread's, which every thread inherits), is shown by its numeric
// system id; so is the main thread.
void setCurrentThreadLogName(const std::string& name);

// Holds the log lock across fork(), so that a child never inherits it taken
// by a thread that does not exist there. Installed while the library loads;
// calling it again does nothing. A library that logs while holding a lock of
// its own calls this before installing its own fork handlers: handlers
// installed later take their locks first, in the order the code does.
void installLogForkHandlers();

// Test hook: when set, every complete output line (with its final line feed)
// is handed to the sink instead of standard error. Pass an empty function to
// restore standard error. Not for production use.
using LogSink = std::function<void(std::uint32_t level, const std::string& line)>;
void setLogSinkForTests(LogSink sink);

// Epoch offset in seconds added to the clock when a time is printed. At
// start-up it is the wall-clock time of the clock's zero, fraction included,
// so that lines carry the real UTC time to the millisecond and lines of
// processes started one after the other are in order.
void setLogEpochOffset(double seconds);
double logEpochOffset();

}  // namespace qz
