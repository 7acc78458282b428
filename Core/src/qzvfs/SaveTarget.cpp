#include "qzvfs/SaveTarget.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "qzvfs/FileError.h"
#include "qzvfs/OsError.h"

namespace qzvfs {
namespace {

constexpr const char* kOpenCall = "CreateFile(REWRITE)";

std::string folderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The name left after following every symbolic link at the end of `path`:
// the file an open for writing reaches or would create. A loop ends after as
// many links as the system follows; the open then fails with ELOOP.
std::string followLinks(const std::string& path) {
    std::string current = path;
    std::vector<char> buffer(4096);
    for (int hop = 0; hop < 40; ++hop) {
        struct stat info;
        if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return current;
        const ssize_t length = ::readlink(current.c_str(), buffer.data(), buffer.size());
        if (length <= 0 || static_cast<size_t>(length) >= buffer.size()) return current;
        std::string target(buffer.data(), static_cast<size_t>(length));
        if (target[0] != '/' && current.find('/') != std::string::npos)
            target = folderOf(current) + (folderOf(current) == "/" ? "" : "/") + target;
        current = std::move(target);
    }
    return current;
}

// A socket is not opened but connected to; the result is a descriptor or -1
// with errno set.
int connectTo(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        errno = ENAMETOOLONG;
        return -1;
    }
    path.copy(address.sun_path, path.size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    int result;
    do {
        result = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

}  // namespace

SaveTarget::SaveTarget(const std::string& path) : path_(path) {
    // Non-blocking only for the open itself: a FIFO without a reader fails
    // instead of hanging the caller.
    do {
        fd_ = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    } while (fd_ < 0 && errno == EINTR);
    if (fd_ < 0) {
        const int error = errno;
        struct stat info;
        if (error == ENOENT) {
            location_ = followLinks(path);
            return;
        }
        if (error == ENXIO && ::stat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode)) {
            fd_ = connectTo(path);
            if (fd_ < 0) fail("connect()", errno);
            kind_ = Kind::Stream;
            status_ = info;
            location_ = path;
            return;
        }
        fail(kOpenCall, error);
    }
    if (::fstat(fd_, &status_) != 0) fail(kOpenCall, errno);
    const int flags = ::fcntl(fd_, F_GETFL);
    if (flags < 0 || ::fcntl(fd_, F_SETFL, flags & ~O_NONBLOCK) < 0) fail(kOpenCall, errno);
    kind_ = S_ISREG(status_.st_mode) ? Kind::Regular : Kind::Stream;
    location_ = kind_ == Kind::Regular ? followLinks(path) : path;
}

SaveTarget::~SaveTarget() {
    if (fd_ >= 0) ::close(fd_);  // nothing was written through it
}

int SaveTarget::release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

void SaveTarget::fail(const char* call, int error) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    logOsError(path_, call, error);
    QZVFS_THROW(FileErrorKind::Open, "Can't open " + path_);
}

}  // namespace qzvfs
