#include "qzvfs/OsError.h"

#include <cerrno>
#include <cstring>

#include "qz/Log.h"

namespace qzvfs {

std::string osErrorText(int error) {
    if (error == 0) return "Unknown error";
    char buffer[256];
    // GNU strerror_r may return a static text instead of filling the buffer.
    const char* text = strerror_r(error, buffer, sizeof buffer);
    return text && *text ? std::string(text) : std::string("Unknown error");
}

void logOsError(const std::string& path, const std::string& call, int error) {
    const int saved = errno;
    // A NUL inside the path would end the line's text there.
    std::string shown;
    for (const char c : path) {
        if (c == '\0')
            shown += "\\0";
        else
            shown += c;
    }
    qz::log("QZCORESTATIC", qz::LOG_ERROR, "[%s] %s: %s", shown.c_str(), call.c_str(),
            osErrorText(error).c_str());
    errno = saved;
}

}  // namespace qzvfs
