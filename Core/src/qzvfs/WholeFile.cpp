#include "qzvfs/WholeFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include <fmt/format.h>

#include "qz/ExtException.h"
#include "qzvfs/OsError.h"
#include "qzvfs/PlatformFiles.h"
#include "qzvfs/PosixFileRaw.h"

namespace qzvfs {
namespace {

// Removes the temporary file unless the save went through.
struct TemporaryFile {
    std::string path;
    bool keep = false;
    ~TemporaryFile() {
        if (!keep) ::unlink(path.c_str());
    }
};

// The file a save really replaces: the target of a symbolic link, so the link
// keeps pointing at the saved data.
std::string resolvedTarget(const std::string& path) {
    struct stat info;
    if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (!resolved) return path;  // dangling link: replaced like a file
    std::string target(resolved);
    std::free(resolved);
    return target;
}

// A fresh name in the target's folder, so the final rename stays within one
// file system; short and hidden, so long target names still fit.
std::string temporaryName(const std::string& target) {
    static std::atomic<unsigned> counter{0};
    const size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : target.substr(0, slash == 0 ? 1 : slash);
    return fmt::format("{}{}.qzsave-{}-{}.tmp", folder, folder == "/" ? "" : "/", static_cast<long>(::getpid()),
                       counter.fetch_add(1));
}

}  // namespace

void writeWholeFile(const std::string& path, const void* data, size_t size) {
    writeWholeFile(path, {FilePart{data, size}});
}

void writeWholeFile(const std::string& path, const std::vector<FilePart>& parts) {
    size_t size = 0;
    for (const FilePart& part : parts) {
        if (!part.data && part.size != 0) QZ_THROW("Can't write " + path + ": no data");
        size += part.size;
    }
    if (path.empty() || path.back() == '/' || path.find('\0') != std::string::npos)
        QZ_THROW("Can't open " + path);

    const std::string target = resolvedTarget(path);
    struct stat existing;
    const bool replacing = ::stat(target.c_str(), &existing) == 0;
    if (replacing && S_ISDIR(existing.st_mode)) QZ_THROW("Can't open " + path);

    TemporaryFile temporary{temporaryName(target)};
    FilePtr file(platformFiles().openRewrite(temporary.path.c_str()));
    if (!file) QZ_THROW("Can't open " + path);

    size_t written = 0;
    for (const FilePart& part : parts) {
        const size_t done = VFS_write(file.get(), part.data, part.size);
        written += done;
        if (done != part.size) QZ_THROW(fmt::format("Short write to {}: {} of {} bytes written", path, written, size));
    }
    // Data must be on disk before the rename makes it the target, or a crash
    // could leave an empty file under the target's name.
    if (auto* raw = dynamic_cast<PosixFileRaw*>(file.get())) {
        if (!raw->flush()) QZ_THROW(fmt::format("Can't flush {}: {}", path, osErrorText(errno)));
        // Some file systems report lost data only when the file is closed.
        if (!raw->closeDescriptor()) QZ_THROW(fmt::format("Can't close {}: {}", path, osErrorText(errno)));
    }
    file.reset();

    // Best effort: a new file with default permissions is still a good save.
    if (replacing && S_ISREG(existing.st_mode)) ::chmod(temporary.path.c_str(), existing.st_mode & 07777);
    if (::rename(temporary.path.c_str(), target.c_str()) != 0) {
        const int error = errno;
        logOsError(target, "rename()", error);
        QZ_THROW(fmt::format("Can't replace {}: {}", path, osErrorText(error)));
    }
    temporary.keep = true;
}

}  // namespace qzvfs
