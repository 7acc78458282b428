#include "qzvfs/TemporaryFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <mutex>
#include <random>
#include <set>
#include <string_view>
#include <utility>

#include <fmt/format.h>

namespace qzvfs {
namespace {

std::uint64_t randomBits() {
    std::uint64_t bits = 0;
    if (::getrandom(&bits, sizeof bits, GRND_NONBLOCK) == static_cast<ssize_t>(sizeof bits)) return bits;
    thread_local std::mt19937_64 fallback{std::random_device{}()};
    return fallback();
}

std::uint64_t mix(std::uint64_t x) {  // splitmix64's finaliser
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ull;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebull;
    return x ^ (x >> 31);
}

// Binds a hidden name to one inode: a copy of the file, or a file named so by
// hand, does not match. The device is left out, as it differs between the
// machines that share a folder.
std::uint64_t check(std::uint64_t random, ino_t inode) { return mix(random ^ mix(static_cast<std::uint64_t>(inode))); }

// ".qzsave-<random>-<check>.tmp": a locked file of a save, which the sweep
// may judge. ".qzsave-<random>.tmp": a file not yet locked (or on a file
// system without locks), which no sweep touches.
std::string lockedName(std::uint64_t random, ino_t inode) {
    return fmt::format(".qzsave-{:016x}-{:016x}.tmp", random, check(random, inode));
}

std::string plainName(std::uint64_t random) { return fmt::format(".qzsave-{:016x}.tmp", random); }

// Sixteen lower-case hexadecimal digits at `text`, as lockedName() writes them.
bool parseHex(const char* text, std::uint64_t& value) {
    value = 0;
    for (int i = 0; i < 16; ++i) {
        const char c = text[i];
        const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (digit < 0) return false;
        value = value << 4 | static_cast<std::uint64_t>(digit);
    }
    return true;
}

bool parseLockedName(const char* name, std::uint64_t& random, std::uint64_t& sum) {
    constexpr std::string_view head = ".qzsave-", tail = ".tmp";
    const std::string_view text(name);
    return text.size() == head.size() + 16 + 1 + 16 + tail.size() && text.starts_with(head) &&
           text.ends_with(tail) && text[head.size() + 16] == '-' && parseHex(name + head.size(), random) &&
           parseHex(name + head.size() + 17, sum);
}

bool sameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// True the first time a process asks about a folder.
bool firstVisit(const struct stat& folder) {
    static std::mutex lock;
    static std::set<std::pair<dev_t, ino_t>> visited;
    const std::lock_guard<std::mutex> guard(lock);
    return visited.insert({folder.st_dev, folder.st_ino}).second;
}

}  // namespace

TemporaryFile::TemporaryFile(int folder, bool readable) : folderFd_(folder), folderReadable_(readable) {}

TemporaryFile::~TemporaryFile() {
    if (!name_.empty() && !replaced_) ::unlinkat(folderFd_, name_.c_str(), 0);
    if (lockFd_ >= 0) ::close(lockFd_);  // only after the name is gone: a sweep must not find it unlocked
    if (folderFd_ >= 0) ::close(folderFd_);
}

void TemporaryFile::removeAbandoned() {
    struct stat folder;
    if (!folderReadable_ || ::fstat(folderFd_, &folder) != 0 || !firstVisit(folder)) return;
    const int listing = ::fcntl(folderFd_, F_DUPFD_CLOEXEC, 0);
    if (listing < 0) return;
    DIR* dir = ::fdopendir(listing);
    if (!dir) {
        ::close(listing);
        return;
    }
    ::rewinddir(dir);
    while (const dirent* entry = ::readdir(dir)) {
        std::uint64_t random = 0, sum = 0;
        if (!parseLockedName(entry->d_name, random, sum)) continue;
        const int fd = ::openat(folderFd_, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) continue;
        struct stat file, named;
        // Ours, and its save gone (the lock is free); and the name still that
        // file once the lock is held, not one a finishing save renamed away.
        if (::fstat(fd, &file) == 0 && S_ISREG(file.st_mode) && check(random, file.st_ino) == sum &&
            ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
            ::fstatat(folderFd_, entry->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0 && sameFile(file, named))
            ::unlinkat(folderFd_, entry->d_name, 0);
        ::close(fd);
    }
    ::closedir(dir);
}

// Locks the new file for the object's life; 0 or an errno value.
int TemporaryFile::hold(int descriptor) {
    if (::flock(descriptor, LOCK_EX | LOCK_NB) != 0) return errno;
    lockFd_ = ::fcntl(descriptor, F_DUPFD_CLOEXEC, 0);
    if (lockFd_ >= 0) return 0;
    const int error = errno;
    ::flock(descriptor, LOCK_UN);
    return error;
}

int TemporaryFile::create(mode_t mode, int& descriptor) {
    descriptor = -1;
#ifdef O_TMPFILE
    descriptor = ::openat(folderFd_, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
    if (descriptor >= 0) {
        hold(descriptor);  // before it has a name; without locks it gets a name no sweep takes
        return 0;
    }
    // These say that the system or the file system has no unnamed files.
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return errno;
#endif
    for (int attempt = 0; attempt < 16; ++attempt) {
        const std::uint64_t random = randomBits();
        std::string name = plainName(random);
        descriptor = ::openat(folderFd_, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (descriptor < 0) {
            if (errno == EEXIST) continue;
            return errno;
        }
        name_ = std::move(name);
        // Only a locked file takes the name a sweep may judge.
        struct stat info;
        if (hold(descriptor) == 0 && ::fstat(descriptor, &info) == 0) {
            std::string locked = lockedName(random, info.st_ino);
            if (::renameat(folderFd_, name_.c_str(), folderFd_, locked.c_str()) == 0) name_ = std::move(locked);
        }
        return 0;
    }
    return EEXIST;
}

int TemporaryFile::link(int descriptor) {
    if (!name_.empty()) return 0;
    struct stat info;
    if (::fstat(descriptor, &info) != 0) return errno;
    const std::string self = fmt::format("/proc/self/fd/{}", descriptor);
    for (int attempt = 0; attempt < 16; ++attempt) {
        const std::uint64_t random = randomBits();
        std::string name = lockFd_ >= 0 ? lockedName(random, info.st_ino) : plainName(random);
        int result = ::linkat(AT_FDCWD, self.c_str(), folderFd_, name.c_str(), AT_SYMLINK_FOLLOW);
        // Without /proc the descriptor itself can be linked (needs privilege).
        if (result != 0 && errno == ENOENT) result = ::linkat(descriptor, "", folderFd_, name.c_str(), AT_EMPTY_PATH);
        if (result == 0) {
            name_ = std::move(name);
            return 0;
        }
        if (errno != EEXIST) return errno;
    }
    return EEXIST;
}

int TemporaryFile::replace(const std::string& name) {
    if (::renameat(folderFd_, name_.c_str(), folderFd_, name.c_str()) != 0) return errno;
    replaced_ = true;
    return 0;
}

int TemporaryFile::flushFolder() {
    if (!folderReadable_) return 0;  // a folder opened only for searching cannot be flushed
    if (::fsync(folderFd_) == 0) return 0;
    return errno == EINVAL ? 0 : errno;  // a file system that cannot flush folders
}

}  // namespace qzvfs
