#include "qzvfs/WholeFile.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <thread>

#include <fmt/format.h>

#include "qz/Log.h"
#include "qzvfs/FileError.h"
#include "qzvfs/FilePool.h"
#include "qzvfs/MadePart.h"
#include "qzvfs/OsError.h"
#include "qzvfs/PosixFileRaw.h"
#include "qzvfs/SaveTarget.h"
#include "qzvfs/TemporaryFile.h"

namespace qzvfs {
namespace {

constexpr const char* kOpenCall = "CreateFile(REWRITE)";

// The detail of a failure goes to the log under the file layer's tag; the
// caller may pass on a shorter message of its own.
std::string logged(const std::string& message) {
    qz::logText("VFS", qz::LOG_ERROR, message);
    return message;
}

[[noreturn]] void failOpen(const std::string& path, int error) {
    logOsError(path, kOpenCall, error);
    QZVFS_THROW(FileErrorKind::Open, "Can't open " + path);
}

// SIGPIPE is held back on this thread while a stream is written: a reader
// that goes away fails the save instead of ending the process.
class PipeSignalBlock {
public:
    PipeSignalBlock() {
        sigemptyset(&pipe_);
        sigaddset(&pipe_, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe_, &previous_);
        sigset_t pending;
        wasPending_ = sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE);
    }
    ~PipeSignalBlock() {
        sigset_t pending;
        if (!wasPending_ && sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE)) {
            const timespec now{};
            sigtimedwait(&pipe_, nullptr, &now);  // the one our write raised
        }
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    PipeSignalBlock(const PipeSignalBlock&) = delete;
    PipeSignalBlock& operator=(const PipeSignalBlock&) = delete;

private:
    sigset_t pipe_;
    sigset_t previous_;
    bool wasPending_ = false;
};

// A file object for `descriptor` that names `path` in its log lines.
FilePtr fileFor(int descriptor, const std::string& path) {
    PosixFileRaw* file = FilePool::global().create<PosixFileRaw>(descriptor, path);
    if (!file) {
        ::close(descriptor);
        failOpen(path, ENOMEM);
    }
    return FilePtr(file);
}

PosixFileRaw& raw(const FilePtr& file) { return static_cast<PosixFileRaw&>(*file); }

// A made part goes out a stage of about this size at a time: small enough
// to stay in the cache between being made and being copied to the system.
constexpr size_t kStage = size_t(1) << 19;

// The system is asked to start writing each stretch of a file to disk as
// soon as the stretch is handed over, while the next ones are made and
// copied: the flush at the end then waits for the last stretches only,
// where it would otherwise wait for the whole file.
constexpr size_t kStretch = size_t(8) << 20;

class WriteBehind {
public:
    // -1 for a stream, which has no disk to start on.
    explicit WriteBehind(int descriptor) : descriptor_(descriptor) {}

    // The file holds bytes [0, end) now.
    void wrote(size_t end) noexcept {
        if (descriptor_ < 0 || end - started_ < kStretch) return;
#ifdef __linux__
        // Only a request: whatever keeps it from being carried out is
        // reported by the flush that every save ends with.
        (void)::sync_file_range(descriptor_, static_cast<off_t>(started_), static_cast<off_t>(end - started_),
                                SYNC_FILE_RANGE_WRITE);
#endif
        started_ = end;
    }

private:
    int descriptor_;
    size_t started_ = 0;
};

void writeParts(IFile* file, const std::vector<FilePart>& parts, size_t size, const std::string& path,
                WriteBehind behind) {
    size_t written = 0;
    const auto put = [&](const void* data, size_t n) {
        const size_t done = VFS_write(file, data, n);
        written += done;
        if (done != n)
            QZVFS_THROW(FileErrorKind::Write,
                        logged(fmt::format("Short write to {}: {} of {} bytes written", path, written, size)));
        behind.wrote(written);
    };
    for (const FilePart& part : parts) {
        if (part.data || !part.fill) {
            // A stretch at a time, so that the disk starts on a big part
            // before all of it is handed over.
            const auto* bytes = static_cast<const uint8_t*>(part.data);
            for (size_t at = 0; at < part.size; at += kStretch) put(bytes + at, std::min(kStretch, part.size - at));
            continue;
        }
        MadePart made(part, kStage);
        for (std::span<const uint8_t> stage = made.next(); !stage.empty(); stage = made.next())
            put(stage.data(), stage.size());
    }
}

void flush(PosixFileRaw& file, const std::string& path) {
    if (!file.flush())
        QZVFS_THROW(FileErrorKind::Flush, logged(fmt::format("Can't flush {}: {}", path, osErrorText(errno))));
}

// Some file systems report lost data only when the file is closed.
void close(PosixFileRaw& file, const std::string& path) {
    if (!file.closeDescriptor())
        QZVFS_THROW(FileErrorKind::Close, logged(fmt::format("Can't close {}: {}", path, osErrorText(errno))));
}

[[noreturn]] void failWrite(const std::string& path, const char* call, int error) {
    logOsError(path, call, error);
    QZVFS_THROW(FileErrorKind::Write, logged(fmt::format("Can't write {}: {}", path, osErrorText(error))));
}

// Into the file itself: the space is taken first, so a full disk fails the
// save before the old contents are touched; then the bytes go over the old
// ones and the file is cut to their length.
void writeInPlace(int descriptor, const std::vector<FilePart>& parts, size_t size, const std::string& path) {
    FilePtr file = fileFor(descriptor, path);
    // Two saves into one file would interleave their bytes: one waits for
    // the other (the lock goes with the descriptor's close).
    int locked;
    do {
        locked = ::flock(descriptor, LOCK_EX);
    } while (locked != 0 && errno == EINTR);
    if (size > 0 && ::fallocate(descriptor, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(size)) != 0 &&
        (errno == ENOSPC || errno == EDQUOT))
        failWrite(path, "fallocate()", errno);
    writeParts(file.get(), parts, size, path, WriteBehind(descriptor));
    if (::ftruncate(descriptor, static_cast<off_t>(size)) != 0) failWrite(path, "SetEndOfFile()", errno);
    flush(raw(file), path);
    close(raw(file), path);
}

void writeStream(int descriptor, const std::vector<FilePart>& parts, size_t size, const std::string& path) {
    FilePtr file = fileFor(descriptor, path);
    {
        PipeSignalBlock block;
        writeParts(file.get(), parts, size, path, WriteBehind(-1));
    }
    close(raw(file), path);
}

// The file a save replaced loses its last name with the rename, but the
// system frees its space only when its last descriptor closes: for a file of
// a few hundred megabytes that takes tens of milliseconds, which the save
// need not wait for. A thread of its own closes it; where no thread can be
// started, this one does.
void closeReplaced(int descriptor) {
    try {
        std::thread([descriptor] { ::close(descriptor); }).detach();
    } catch (const std::system_error&) {
        ::close(descriptor);
    }
}

}  // namespace

void writeWholeFile(const std::string& path, const void* data, size_t size) {
    writeWholeFile(path, {FilePart{data, size}});
}

void writeWholeFile(const std::string& path, const std::vector<FilePart>& parts) {
    size_t size = 0;
    for (const FilePart& part : parts) {
        if (!part.data && !part.fill && part.size != 0)
            QZVFS_THROW(FileErrorKind::Write, logged("Can't write " + path + ": no data"));
        size += part.size;
    }
    if (path.empty()) failOpen(path, ENOENT);
    if (path.find('\0') != std::string::npos) failOpen(path, EINVAL);  // no file has such a name
    if (path.back() == '/') failOpen(path, EISDIR);

    SaveTarget target(path);
    const bool replacing = target.kind() == SaveTarget::Kind::Regular;
    if (target.kind() == SaveTarget::Kind::Stream) return writeStream(target.release(), parts, size, path);

    const std::string& location = target.location();
    if (location.empty() || location.back() == '/') failOpen(path, EISDIR);
    // No folder is opened for a file of several names either: every name
    // must see the new contents, so it is rewritten in place.
    if (!target.hasFolder()) {
        if (replacing) return writeInPlace(target.release(), parts, size, path);
        failOpen(path, target.folderError());
    }
    // From here on the folder is reached through its descriptor only: the
    // new file is made, given its owner and renamed there, over the entry
    // that was checked to be the file opened.
    TemporaryFile temporary(target.releaseFolder(), target.folderReadable());
    temporary.removeAbandoned();
    int descriptor = -1;
    if (const int error = temporary.create(0666, descriptor)) {
        const bool folderClosed = error == EACCES || error == EPERM || error == EROFS;
        if (replacing && folderClosed) return writeInPlace(target.release(), parts, size, path);
        failOpen(path, error);
    }
    if (replacing) {
        // The new file takes the old one's owner and mode, as a rewrite would
        // keep them; where the owner cannot be given, the file is rewritten.
        const struct stat& old = target.status();
        const bool foreign = old.st_uid != ::geteuid() || old.st_gid != ::getegid();
        if (foreign && ::fchown(descriptor, old.st_uid, old.st_gid) != 0) {
            ::close(descriptor);
            return writeInPlace(target.release(), parts, size, path);
        }
        ::fchmod(descriptor, old.st_mode & 07777);  // after fchown, which clears set-id bits
        // The old file stays open, never written, until the new one has
        // taken its name: its space is then freed off this thread.
    }

    FilePtr file = fileFor(descriptor, path);
    writeParts(file.get(), parts, size, path, WriteBehind(descriptor));
    // Data must be on disk before the file takes the target's name, or a
    // crash could leave an empty file under that name.
    flush(raw(file), path);
    if (const int error = temporary.link(raw(file).descriptor())) {
        logOsError(path, "linkat()", error);
        QZVFS_THROW(FileErrorKind::Rename, logged(fmt::format("Can't replace {}: {}", path, osErrorText(error))));
    }
    close(raw(file), path);
    file.reset();
    if (const int error = temporary.replace(target.name())) {
        logOsError(path, "rename()", error);
        QZVFS_THROW(FileErrorKind::Rename, logged(fmt::format("Can't replace {}: {}", path, osErrorText(error))));
    }
    if (const int error = temporary.flushFolder()) {
        logOsError(path, "fsync()", error);
        QZVFS_THROW(FileErrorKind::Flush, logged(fmt::format("Can't flush {}: {}", path, osErrorText(error))));
    }
    if (replacing) closeReplaced(target.release());
}

}  // namespace qzvfs
