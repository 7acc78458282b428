#include "qzvfs/PlatformFiles.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "qz/Log.h"
#include "qzvfs/Manager.h"
#include "qzvfs/OsError.h"
#include "qzvfs/PosixFileRaw.h"
#include "qzvfs/UserFolders.h"

namespace qzvfs {
namespace {

bool statPath(const char* path, struct stat& info) { return path && ::stat(path, &info) == 0; }

IFile* openRead(const char* path) {
    if (!path) return nullptr;
    return Manager::global().openRead(path, true);
}

IFile* openRewrite(const char* path) { return path ? PosixFileRaw::openRewrite(path) : nullptr; }

IFile* openAppend(const char* path) { return path ? PosixFileRaw::openAppend(path) : nullptr; }

bool exists(const char* path) {
    struct stat info;
    return statPath(path, info);
}

bool isDirectory(const char* path) {
    struct stat info;
    return statPath(path, info) && S_ISDIR(info.st_mode);
}

int pathKind(const char* path) {
    struct stat info;
    if (!statPath(path, info)) return PATH_MISSING;
    return S_ISDIR(info.st_mode) ? PATH_DIRECTORY : PATH_FILE;
}

struct DirCloser {
    DIR* dir;
    ~DirCloser() {
        if (dir) ::closedir(dir);
    }
};

bool listDirectory(const char* directory, ListCallback callback, void* context) {
    const char* given = directory ? directory : "";
    const char* opened = *given ? given : ".";
    DirCloser guard{::opendir(opened)};
    if (!guard.dir) {
        if (errno == ENOENT) return true;
        logOsError(opened, "opendir()", errno);
        return false;
    }
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(guard.dir);
        if (!entry) {
            if (errno != 0) {
                logOsError(opened, "readdir()", errno);
                return false;
            }
            return true;
        }
        // Hidden entries (and "." / "..") start with a dot.
        if (entry->d_name[0] == '.') continue;
        if (callback) callback(context, given, entry->d_name);
    }
}

bool makeDirectories(const char* path) {
    if (!path || !*path) return false;
    const std::string full(path);
    // Create every prefix that ends just before a separator, then the whole.
    for (size_t at = 1; at <= full.size(); ++at) {
        if (at < full.size() && full[at] != '/') continue;
        if (full[at - 1] == '/') continue;  // repeated or trailing separator
        const std::string prefix = full.substr(0, at);
        if (::mkdir(prefix.c_str(), 0777) == 0) continue;
        if (errno != EEXIST || !isDirectory(prefix.c_str())) return false;
    }
    return isDirectory(path);
}

bool removePath(const char* path) {
    struct stat info;
    if (!path || ::lstat(path, &info) != 0) return false;
    return S_ISDIR(info.st_mode) ? ::rmdir(path) == 0 : ::unlink(path) == 0;
}

int64_t modificationTime(const char* path) {
    struct stat info;
    return statPath(path, info) ? static_cast<int64_t>(info.st_mtime) : 0;
}

uint64_t fileSize(const char* path) {
    struct stat info;
    return statPath(path, info) ? static_cast<uint64_t>(info.st_size) : 0;
}

bool status(const char* path, FileStatus* result) {
    struct stat info;
    if (!result || !statPath(path, info)) return false;
    result->size = static_cast<uint64_t>(info.st_size);
    result->modificationTime = static_cast<int64_t>(info.st_mtime);
    result->kind = S_ISDIR(info.st_mode) ? PATH_DIRECTORY : PATH_FILE;
    return true;
}

void enumerateDrives(DriveCallback callback, void* context) {
    if (callback) callback(context, "/", "");
}

bool currentDirectory(std::string& out) {
    std::vector<char> buffer(4096);
    for (;;) {
        if (::getcwd(buffer.data(), buffer.size())) {
            out = buffer.data();
            return true;
        }
        if (errno != ERANGE || buffer.size() > (1u << 20)) return false;
        buffer.resize(buffer.size() * 2);
    }
}

// Absolute form of `path` with "." and ".." parts and repeated separators
// resolved by text alone (the path need not exist).
bool absolutePath(const char* path, std::string& out) {
    if (!path) return false;
    std::string joined;
    if (path[0] == '/') {
        joined = path;
    } else {
        if (!currentDirectory(joined)) return false;
        joined += '/';
        joined += path;
    }
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= joined.size()) {
        size_t end = joined.find('/', start);
        if (end == std::string::npos) end = joined.size();
        const std::string part = joined.substr(start, end - start);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    out.clear();
    for (const auto& part : parts) {
        out += '/';
        out += part;
    }
    if (out.empty()) out = "/";
    return true;
}

std::string fullPath(const char* path) {
    std::string result;
    if (path && *path && absolutePath(path, result)) return result;
    if (currentDirectory(result)) return result;
    return ".";
}

bool fullPathInto(const char* path, char* buffer, size_t capacity) {
    if (!buffer || capacity == 0) return false;
    std::string result;
    if (!path || !*path || !absolutePath(path, result) || result.size() + 1 > capacity) {
        buffer[0] = '\0';
        return false;
    }
    std::memcpy(buffer, result.c_str(), result.size() + 1);
    return true;
}

const PlatformFileTable kTable = {
    openRead,         openRewrite,  openAppend,         exists,         isDirectory,
    pathKind,         listDirectory, makeDirectories,   removePath,     modificationTime,
    fileSize,         status,       enumerateDrives,    userFolder,     tempFolder,
    localAppDataFolder, fullPath,   fullPathInto,
};

static_assert(sizeof(PlatformFileTable) == 18 * sizeof(void*), "the table has 18 entries");

}  // namespace

const PlatformFileTable& platformFiles() { return kTable; }

IFile* openFile(const char* path, OpenMode mode, bool quiet) {
    IFile* file = nullptr;
    switch (mode) {
        case OpenMode::Read: file = openRead(path); break;
        case OpenMode::Rewrite: file = openRewrite(path); break;
        case OpenMode::Append: file = openAppend(path); break;
    }
    if (!file && !quiet) qz::log("QZCORESTATIC", qz::LOG_ERROR, "Can't open file '%s' from fs.", path ? path : "<NULL>");
    return file;
}

}  // namespace qzvfs
