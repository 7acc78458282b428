#pragma once
// qzvfs::Manager: the mount manager, the IVFSandbox of the program.
//
// Contract
// - All operations are serialised by one lock and may be called from any
//   thread.
// - Mounting asks every driver factory in turn (the directory driver is
//   registered by default) and keeps the first driver made. Mounting a source
//   again at the same mount point re-checks it and raises its mount count;
//   each unmount lowers the count, and the driver goes when it reaches zero.
// - A driver with files still open is not unmounted.
// - Reading tries the drivers whose mount point holds the path, the most
//   recently mounted first; the first that has the file wins.
// - Messages (source "QZCORESTATIC"): "Mounted: %s into: %s with tag: %s",
//   "Invalid mount point %s.", "No suitable driver found to mount %s",
//   "Drivers errors while mounting %s:" with one "\t<error>" line per driver,
//   "Source %s is already mounted to the same mount %s.",
//   "Driver errors while remounting %s:", "Driver %s:%s(%s) mount count: %d.",
//   "Can't unmount driver %s:%s(%s). Reason: as it has files opened.",
//   "Unmounted source: %s, tag: %s, driver: %s.", "Can't unmount drivers.
//   Reason: %s", "Can't found drivers with given id == %zu",
//   "Trying to open %s on ro vfs.", "Can't open file not for reading: %s. VFS
//   supports only open for reading.", "Can't open file: %s.".

#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "qzvfs/Drivers/IDriver.h"
#include "qzvfs/IVFSandbox.h"

namespace qzvfs {

class Manager : public IVFSandbox {
public:
    // With `defaultDrivers` the directory driver is registered.
    explicit Manager(bool defaultDrivers = true);
    ~Manager() override;

    // The manager behind entry 0 of the platform file table; lives for the
    // whole process.
    static Manager& global();

    // Adds a driver factory, asked after those registered before it.
    void addDriverFactory(DriverFactory factory);

    size_t mount(const std::string& source, const std::string& mountPoint, const std::string& tag) override;
    bool unmount(size_t driverId) override;
    bool unmount_by_tag(const std::string& tag) override;
    bool unmount_by_source(const std::string& source) override;
    IFile* openRead(const std::string& path, bool quiet) override;
    IFile* openWrite(const std::string& path, bool quiet) override;
    IFile* open(const std::string& path, OpenMode mode, bool quiet) override;
    bool exists(const std::string& path) override;

    // Number of mounted drivers.
    size_t mountedCount() const;

    // The normalised form of a virtual path ("" is the root), or nothing when
    // it climbs above the root or holds a NUL byte.
    static std::optional<std::string> normalizePath(const std::string& path);

private:
    struct Mount {
        std::shared_ptr<IDriver> driver;
        int count;
    };

    bool unmountLocked(size_t index);

    mutable std::mutex mutex_;
    std::vector<DriverFactory> factories_;
    std::vector<Mount> mounts_;  // in mounting order
    size_t nextId_ = 1;
};

}  // namespace qzvfs
