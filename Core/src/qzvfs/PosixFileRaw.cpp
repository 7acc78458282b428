#include "qzvfs/PosixFileRaw.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdint>

#include <fmt/format.h>

#include "qzvfs/Drivers/IDriver.h"
#include "qzvfs/OsError.h"

namespace qzvfs {

PosixFileRaw* PosixFileRaw::openRewrite(const std::string& path) { return openForWriting(path, true); }

PosixFileRaw* PosixFileRaw::openAppend(const std::string& path) { return openForWriting(path, false); }

PosixFileRaw* PosixFileRaw::openForWriting(const std::string& path, bool truncate) {
    const char* call = truncate ? "CreateFile(REWRITE)" : "CreateFile(APPEND)";
    // A path with an embedded NUL would silently name another file.
    if (path.find('\0') != std::string::npos) {
        logOsError(path, call, EINVAL);
        return nullptr;
    }
    // Non-blocking only for the open itself: a FIFO without a reader must fail
    // instead of hanging the caller.
    int flags = O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK;
    if (truncate) flags |= O_TRUNC;
    int fd;
    do {
        fd = ::open(path.c_str(), flags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        logOsError(path, call, errno);
        return nullptr;
    }
    const int status = ::fcntl(fd, F_GETFL);
    if (status < 0 || ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) < 0) {
        logOsError(path, call, errno);
        ::close(fd);
        return nullptr;
    }
    if (!truncate && ::lseek(fd, 0, SEEK_END) < 0) {
        logOsError(path, "SetFilePointerEx(END)", errno);
        ::close(fd);
        return nullptr;
    }
    PosixFileRaw* file = FilePool::global().create<PosixFileRaw>(fd, path);
    if (!file) {
        logOsError(path, call, ENOMEM);
        ::close(fd);
    }
    return file;
}

PosixFileRaw::PosixFileRaw(FilePool::Key, int descriptor, std::string path, std::string secondName,
                           std::shared_ptr<IDriver> driver)
    : fd_(descriptor), path_(std::move(path)), secondName_(std::move(secondName)), driver_(std::move(driver)) {
    if (driver_) driver_->fileOpened();
}

PosixFileRaw::~PosixFileRaw() {
    closeDescriptor();
    if (driver_) driver_->fileClosed();
}

bool PosixFileRaw::closeDescriptor() {
    if (fd_ < 0) return true;
    const int fd = fd_;
    fd_ = -1;
    // Not retried on EINTR: on this system the descriptor is gone either way.
    if (::close(fd) != 0) {
        const int error = errno;
        logOsError(path_, "close()", error);
        errno = error;  // for the caller's message
        return false;
    }
    return true;
}

size_t PosixFileRaw::read(void* buffer, size_t size) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::read(fd_, static_cast<char*>(buffer) + done, size - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            logOsError(path_, fmt::format("ReadFile({})", size), errno);
            break;
        }
        if (n == 0) break;  // end of file
        done += static_cast<size_t>(n);
    }
    return done;
}

size_t PosixFileRaw::write(const void* buffer, size_t size) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd_, static_cast<const char*>(buffer) + done, size - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            logOsError(path_, fmt::format("WriteFile({})", size), errno);
            break;
        }
        if (n == 0) {
            // No progress and no reason: looping would never end.
            logOsError(path_, fmt::format("WriteFile({})", size), 0);
            break;
        }
        done += static_cast<size_t>(n);
    }
    return done;
}

int64_t PosixFileRaw::tell() {
    const off_t position = ::lseek(fd_, 0, SEEK_CUR);
    if (position < 0) {
        logOsError(path_, "SetFilePointerEx(+0)", errno);
        return -1;
    }
    return position;
}

bool PosixFileRaw::seek(uint64_t position) {
    const std::string call = fmt::format("SetFilePointerEx({})", static_cast<long long>(position));
    if (position > static_cast<uint64_t>(INT64_MAX)) {
        logOsError(path_, call, EINVAL);
        return false;
    }
    if (::lseek(fd_, static_cast<off_t>(position), SEEK_SET) < 0) {
        logOsError(path_, call, errno);
        return false;
    }
    return true;
}

int64_t PosixFileRaw::size() {
    struct stat info;
    if (::fstat(fd_, &info) != 0) {
        logOsError(path_, "GetFileSizeEx()", errno);
        return -1;
    }
    return info.st_size;
}

void PosixFileRaw::close() { FilePool::global().destroy(this); }

std::string PosixFileRaw::getRealPath() const {
    return driver_ ? driver_->realPath(secondName_) : path_;
}

std::string PosixFileRaw::getMountPoint() const { return driver_ ? driver_->mountPoint() : std::string(); }

std::string PosixFileRaw::getSource() const { return driver_ ? driver_->source() : std::string(); }

bool PosixFileRaw::flush() {
    if (::fsync(fd_) != 0) {
        const int error = errno;
        logOsError(path_, "fsync()", error);
        errno = error;  // for the caller's message
        return false;
    }
    return true;
}

}  // namespace qzvfs
