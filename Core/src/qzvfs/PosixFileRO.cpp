#include "qzvfs/PosixFileRO.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "qz/Log.h"

namespace qzvfs {

PosixFileRO* PosixFileRO::open(const std::string& osPath, std::string path, std::string secondName,
                               std::shared_ptr<IDriver> driver) {
    if (osPath.find('\0') != std::string::npos) {
        errno = EINVAL;
        return nullptr;
    }
    int fd;
    do {
        // Non-blocking so that a FIFO cannot hang the open; regular files
        // ignore the flag.
        fd = ::open(osPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return nullptr;
    struct stat info;
    int error = 0;
    if (::fstat(fd, &info) != 0)
        error = errno;
    else if (S_ISDIR(info.st_mode))
        error = EISDIR;  // directories open fine for reading but are not files
    else if (!S_ISREG(info.st_mode))
        error = EINVAL;
    if (error) {
        ::close(fd);
        errno = error;
        return nullptr;
    }
    PosixFileRO* file =
        FilePool::global().create<PosixFileRO>(fd, std::move(path), std::move(secondName), std::move(driver));
    if (!file) {
        ::close(fd);
        errno = ENOMEM;
    }
    return file;
}

PosixFileRO::PosixFileRO(FilePool::Key key, int descriptor, std::string path, std::string secondName,
                         std::shared_ptr<IDriver> driver)
    : PosixFileRaw(key, descriptor, std::move(path), std::move(secondName), std::move(driver)) {}

size_t PosixFileRO::write(const void*, size_t) {
    qz::log("QZCORESTATIC", qz::LOG_ALERT, "WinFileRO::write() is NOT allowed!");
    return 0;
}

}  // namespace qzvfs
