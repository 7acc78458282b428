#pragma once
// qzvfs::IDriver: a read-only provider of files below one mount point of the
// mount manager (a directory, a mapped file, an archive...).
//
// Contract
// - Drivers are made by a DriverFactory for one source and are owned jointly
//   by the manager (while mounted) and by every file they opened, so a file
//   never outlives its driver.
// - Names given to a driver are already normalised by the manager: relative
//   to the mount point, '/'-separated, no empty, "." or ".." parts.
// - openRead returns nullptr quietly when the name is not a readable file.
//   Files it returns must report fileOpened()/fileClosed() so the manager can
//   refuse to unmount a driver with files still open.
// - Driver operations are called under the manager's lock; fileClosed() may
//   come from any thread at any time.

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

namespace qzvfs {

class IFile;

class IDriver {
public:
    virtual ~IDriver();

    // Short type name used in log lines ("DirDriver").
    virtual const char* typeName() const = 0;

    // Checks the source again after it was mounted a second time to the same
    // mount point; false with `error` set when the source is no longer usable.
    virtual bool remount(std::string& error) = 0;

    // Opens `name` for reading. `virtualPath` is the full path the caller
    // asked for, kept as the file's path.
    virtual IFile* openRead(const std::string& virtualPath, const std::string& name) = 0;

    // True when `name` is a file or directory of this driver.
    virtual bool exists(const std::string& name) = 0;

    // Operating-system path of `name`, or an empty text if it has none.
    virtual std::string realPath(const std::string& name) const = 0;

    const std::string& source() const { return source_; }
    const std::string& mountPoint() const { return mountPoint_; }
    const std::string& tag() const { return tag_; }
    size_t id() const { return id_; }

    int openFiles() const { return openFiles_.load(std::memory_order_acquire); }
    void fileOpened() { openFiles_.fetch_add(1, std::memory_order_acq_rel); }
    void fileClosed() { openFiles_.fetch_sub(1, std::memory_order_acq_rel); }

protected:
    explicit IDriver(std::string source) : source_(std::move(source)) {}

private:
    friend class Manager;
    std::string source_;
    std::string mountPoint_;
    std::string tag_;
    size_t id_ = 0;
    std::atomic<int> openFiles_{0};
};

// Makes a driver for `source`. Returns nullptr with `error` empty when the
// source is not of its kind, nullptr with `error` set when it is but cannot be
// mounted.
using DriverFactory =
    std::function<std::shared_ptr<IDriver>(const std::string& source, std::string& error)>;

}  // namespace qzvfs
