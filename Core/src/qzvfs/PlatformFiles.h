#pragma once
// The platform file table: the 18 operating-system file operations of the
// file layer, keyed by UTF-8 paths.
//
// Contract
// - Every path argument is a NUL-terminated UTF-8 path; a null path is
//   treated as a path that does not exist (open functions return nullptr,
//   queries return false / 0 / PATH_MISSING).
// - Files returned by entries 0 to 2 belong to the caller, who ends them with
//   VFS_close (or holds them in a qzvfs::FilePtr).
// - Entries 1 and 2 log their failure ("[path] CreateFile(REWRITE): reason",
//   see PosixFileRaw); entry 0 is quiet. The queries never log; they report
//   through their result only.
// - Folder results are absolute paths without a trailing slash, or "." when
//   no folder can be had.
// - Every entry may be called from any thread.

#include <cstddef>
#include <cstdint>
#include <string>

#include "qzvfs/IFile.h"
#include "qzvfs/OpenMode.h"

namespace qzvfs {

enum PathKind : int { PATH_MISSING = 0, PATH_FILE = 1, PATH_DIRECTORY = 2 };

struct FileStatus {
    uint64_t size = 0;
    int64_t modificationTime = 0;  // seconds since 1970-01-01 00:00:00 UTC
    int kind = PATH_MISSING;       // PATH_FILE or PATH_DIRECTORY when found
};

// Receives one entry of a directory listing: the directory as it was passed
// to the listing and the entry's bare name.
using ListCallback = void (*)(void* context, const char* directory, const char* name);

// Receives one drive: its root path and its volume name ("" when unnamed).
using DriveCallback = void (*)(void* context, const char* drive, const char* volumeName);

struct PlatformFileTable {
    // 0: opens for reading through the global mount manager; quiet.
    IFile* (*openRead)(const char* path);
    // 1: creates the file or truncates it to zero length; write only.
    IFile* (*openRewrite)(const char* path);
    // 2: creates the file if missing, keeps its contents, positions at the end.
    IFile* (*openAppend)(const char* path);
    // 3: true when the path names anything (symbolic links are followed).
    bool (*exists)(const char* path);
    // 4: true when the path names a directory.
    bool (*isDirectory)(const char* path);
    // 5: PATH_MISSING, PATH_FILE (anything but a directory) or PATH_DIRECTORY.
    int (*pathKind)(const char* path);
    // 6: calls `callback` for every entry of `directory` ("" or null: the
    //    current directory) whose name does not start with a dot. True when
    //    listed or when the directory does not exist; false (logged) when it
    //    cannot be read or is not a directory. Order is the system's.
    bool (*listDirectory)(const char* directory, ListCallback callback, void* context);
    // 7: creates the directory with all missing parents; true if created or
    //    already present as a directory.
    bool (*makeDirectories)(const char* path);
    // 8: deletes a file (a symbolic link itself, not its target) or removes an
    //    empty directory; true on success.
    bool (*remove)(const char* path);
    // 9: last modification time in seconds since the epoch; 0 on failure.
    int64_t (*modificationTime)(const char* path);
    // 10: size in bytes; 0 on failure.
    uint64_t (*fileSize)(const char* path);
    // 11: size, modification time and kind together; false (and `status`
    //     untouched) when the path cannot be examined or `status` is null.
    bool (*status)(const char* path, FileStatus* status);
    // 12: calls `callback` for each drive: the root "/" is the one drive.
    void (*enumerateDrives)(DriveCallback callback, void* context);
    // 13: the folder for the user's saved data (see UserFolders.h).
    std::string (*userFolder)();
    // 14: the system temporary folder, else ".".
    std::string (*tempFolder)();
    // 15: the user's local application data folder (created if missing), else ".".
    std::string (*localAppDataFolder)();
    // 16: the absolute, lexically normalised form of a path; for a null or
    //     empty path the current directory; "." when neither can be had.
    std::string (*fullPath)(const char* path);
    // 17: the absolute form of `path` into `buffer` (with its NUL); false when
    //     it cannot be had or does not fit `capacity` bytes (the buffer then
    //     holds an empty text if it has room for one).
    bool (*fullPathInto)(const char* path, char* buffer, size_t capacity);
};

const PlatformFileTable& platformFiles();

// Opens by mode: Read through the global mount manager, Rewrite and Append as
// entries 1 and 2. When nothing is opened and `quiet` is false, logs
// "Can't open file '<path>' from fs." at ERROR ("QZCORESTATIC").
IFile* openFile(const char* path, OpenMode mode, bool quiet = false);

}  // namespace qzvfs
