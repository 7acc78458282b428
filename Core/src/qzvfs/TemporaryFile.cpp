#include "qzvfs/TemporaryFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <random>

#include <fmt/format.h>

namespace qzvfs {
namespace {

constexpr const char* kPrefix = ".qzsave-";
constexpr const char* kSuffix = ".tmp";

// Names carry the host, so that a folder shared between machines never has
// the files of another machine's living save taken for abandoned ones.
const std::string& hostTag() {
    static const std::string tag = [] {
        char host[256] = {};
        if (::gethostname(host, sizeof host - 1) != 0) host[0] = '\0';
        std::uint32_t hash = 2166136261u;  // FNV-1a
        for (const char* c = host; *c; ++c) hash = (hash ^ static_cast<unsigned char>(*c)) * 16777619u;
        return fmt::format("{:08x}", hash);
    }();
    return tag;
}

std::uint64_t randomBits() {
    std::uint64_t bits = 0;
    if (::getrandom(&bits, sizeof bits, GRND_NONBLOCK) == static_cast<ssize_t>(sizeof bits)) return bits;
    thread_local std::mt19937_64 fallback{std::random_device{}()};
    return fallback();
}

// ".qzsave-<host>-<pid>-<random>.tmp": short, so that any target name fits
// beside it; the process id tells later saves whether its owner is gone.
std::string freshName() {
    return fmt::format("{}{}-{}-{:016x}{}", kPrefix, hostTag(), static_cast<long>(::getpid()), randomBits(), kSuffix);
}

// The process id of a hidden name of this host, or 0 for any other name.
pid_t ownerOf(const char* name) {
    const std::string head = kPrefix + hostTag() + "-";
    const size_t length = std::strlen(name);
    if (length <= head.size() + std::strlen(kSuffix) || std::strncmp(name, head.c_str(), head.size()) != 0 ||
        std::strcmp(name + length - std::strlen(kSuffix), kSuffix) != 0)
        return 0;
    long pid = 0;
    const char* at = name + head.size();
    for (; *at >= '0' && *at <= '9'; ++at) {
        pid = pid * 10 + (*at - '0');
        if (pid > 1L << 30) return 0;
    }
    return *at == '-' ? static_cast<pid_t>(pid) : 0;
}

}  // namespace

TemporaryFile::TemporaryFile(std::string folder) : folder_(std::move(folder)) {}

TemporaryFile::~TemporaryFile() {
    if (folderFd_ < 0) return;
    if (!name_.empty() && !replaced_) ::unlinkat(folderFd_, name_.c_str(), 0);
    ::close(folderFd_);
}

int TemporaryFile::openFolder() {
    folderFd_ = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    folderReadable_ = folderFd_ >= 0;
    // A folder that may be searched but not read still takes new files.
    if (folderFd_ < 0 && errno == EACCES) folderFd_ = ::open(folder_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    return folderFd_ >= 0 ? 0 : errno;
}

void TemporaryFile::removeAbandoned() {
    if (!folderReadable_) return;
    const int listing = ::fcntl(folderFd_, F_DUPFD_CLOEXEC, 0);
    if (listing < 0) return;
    DIR* dir = ::fdopendir(listing);
    if (!dir) {
        ::close(listing);
        return;
    }
    ::rewinddir(dir);
    while (const dirent* entry = ::readdir(dir)) {
        const pid_t owner = ownerOf(entry->d_name);
        if (owner <= 0 || owner == ::getpid()) continue;
        if (::kill(owner, 0) == 0 || errno != ESRCH) continue;  // alive, or not ours to judge
        struct stat info;
        if (::fstatat(folderFd_, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode))
            ::unlinkat(folderFd_, entry->d_name, 0);
    }
    ::closedir(dir);
}

int TemporaryFile::create(mode_t mode, int& descriptor) {
    descriptor = -1;
#ifdef O_TMPFILE
    descriptor = ::openat(folderFd_, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
    if (descriptor >= 0) return 0;
    // These say that the system or the file system has no unnamed files.
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return errno;
#endif
    for (int attempt = 0; attempt < 16; ++attempt) {
        std::string name = freshName();
        descriptor = ::openat(folderFd_, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (descriptor >= 0) {
            name_ = std::move(name);
            return 0;
        }
        if (errno != EEXIST) return errno;
    }
    return EEXIST;
}

int TemporaryFile::link(int descriptor) {
    if (!name_.empty()) return 0;
    const std::string self = fmt::format("/proc/self/fd/{}", descriptor);
    for (int attempt = 0; attempt < 16; ++attempt) {
        std::string name = freshName();
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
