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
    // Another save may rename its new file over the name between the open
    // and the check; a few fresh looks settle that. A name that keeps
    // changing is someone playing with it.
    for (int attempt = 0; attempt < 8; ++attempt) {
        if (open()) return;
        closeAll();
    }
    fail(kOpenCall, EAGAIN);
}

bool SaveTarget::open() {
    kind_ = Kind::Missing;
    // Non-blocking only for the open itself: a FIFO without a reader fails
    // instead of hanging the caller.
    do {
        fd_ = ::open(path_.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    } while (fd_ < 0 && errno == EINTR);
    if (fd_ < 0) {
        const int error = errno;
        struct stat info;
        if (error == ENOENT) {
            location_ = followLinks(path_);
            openFolder();
            return true;
        }
        if (error == ENXIO && ::stat(path_.c_str(), &info) == 0 && S_ISSOCK(info.st_mode)) {
            fd_ = connectTo(path_);
            if (fd_ < 0) fail("connect()", errno);
            kind_ = Kind::Stream;
            status_ = info;
            location_ = path_;
            return true;
        }
        fail(kOpenCall, error);
    }
    if (::fstat(fd_, &status_) != 0) fail(kOpenCall, errno);
    const int flags = ::fcntl(fd_, F_GETFL);
    if (flags < 0 || ::fcntl(fd_, F_SETFL, flags & ~O_NONBLOCK) < 0) fail(kOpenCall, errno);
    if (!S_ISREG(status_.st_mode)) {
        kind_ = Kind::Stream;
        location_ = path_;
        return true;
    }
    kind_ = Kind::Regular;
    location_ = followLinks(path_);
    // A file with more names is rewritten in place through fd_ alone.
    if (status_.st_nlink > 1 || !openFolder()) return true;
    struct stat entry;
    return ::fstatat(folderFd_, name().c_str(), &entry, AT_SYMLINK_NOFOLLOW) == 0 && entry.st_dev == status_.st_dev &&
           entry.st_ino == status_.st_ino;
}

bool SaveTarget::openFolder() {
    const std::string folder = folderOf(location_);
    folderFd_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    folderReadable_ = folderFd_ >= 0;
    // A folder that may be searched but not read still takes new files.
    if (folderFd_ < 0 && errno == EACCES) folderFd_ = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    folderError_ = folderFd_ >= 0 ? 0 : errno;
    return folderFd_ >= 0;
}

std::string SaveTarget::name() const { return location_.substr(location_.rfind('/') + 1); }

void SaveTarget::closeAll() {
    if (fd_ >= 0) ::close(fd_);
    if (folderFd_ >= 0) ::close(folderFd_);
    fd_ = folderFd_ = -1;
}

SaveTarget::~SaveTarget() { closeAll(); }  // nothing was written through them

int SaveTarget::release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

int SaveTarget::releaseFolder() {
    const int fd = folderFd_;
    folderFd_ = -1;
    return fd;
}

void SaveTarget::fail(const char* call, int error) {
    closeAll();
    logOsError(path_, call, error);
    QZVFS_THROW(FileErrorKind::Open, "Can't open " + path_);
}

}  // namespace qzvfs
