#pragma once
// qzvfs::IVFSandbox: the read-only virtual file system seen by the program:
// sources (folders, archives...) mounted at virtual mount points, files read
// by virtual path. Writing never goes through it (see PlatformFiles.h).
//
// Contract
// - Virtual paths are UTF-8, '/'-separated; leading and repeated separators
//   and "." parts are ignored, ".." parts are resolved by text and may not
//   climb above the root (such a path opens nothing).
// - Files returned belong to the caller (VFS_close / qzvfs::FilePtr).
// - `quiet` suppresses the log line of a failed open.

#include <cstddef>
#include <string>

#include "qzvfs/IFile.h"
#include "qzvfs/OpenMode.h"

namespace qzvfs {

class IVFSandbox {
public:
    virtual ~IVFSandbox() = default;

    // Mounts `source` at `mountPoint` under `tag`; returns the driver id (at
    // least 1), or 0 when nothing was mounted (logged).
    virtual size_t mount(const std::string& source, const std::string& mountPoint, const std::string& tag) = 0;

    // Each returns true when every matching driver was unmounted (or had its
    // mount count lowered); false when none matched or one has files open.
    virtual bool unmount(size_t driverId) = 0;
    virtual bool unmount_by_tag(const std::string& tag) = 0;
    virtual bool unmount_by_source(const std::string& source) = 0;

    // Opens a virtual path for reading; nullptr when no mounted driver has it.
    virtual IFile* openRead(const std::string& path, bool quiet) = 0;

    // Always refused: the file system is read-only. Returns nullptr.
    virtual IFile* openWrite(const std::string& path, bool quiet) = 0;

    // Read mode is openRead; every other mode is refused with nullptr.
    virtual IFile* open(const std::string& path, OpenMode mode, bool quiet) = 0;

    // True when a mounted driver has the virtual path.
    virtual bool exists(const std::string& path) = 0;
};

}  // namespace qzvfs
