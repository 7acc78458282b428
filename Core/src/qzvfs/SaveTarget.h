#pragma once
// qzvfs::SaveTarget: what a path that is about to be rewritten names, seen
// the way an open for rewriting would see it, and the folder that holds it.
//
// Contract
// - The constructor opens `path` (UTF-8, no NUL) for writing without creating
//   or truncating anything, following symbolic links:
//     Missing   nothing is there (or a symbolic link that points nowhere);
//               location() is where opening for writing would create it;
//     Regular   an ordinary file, open for writing; location() is the file
//               itself after every symbolic link;
//     Stream    a FIFO, device or socket (a socket is connected to), open for
//               writing; whatever is written goes to its reader.
//   When such an open would fail (no permission, a folder, a missing folder
//   part, a FIFO without a reader, ...) it logs "[path] CreateFile(REWRITE):
//   reason" and throws qzvfs::FileError of kind Open, "Can't open " + path;
//   nothing is changed then.
// - For Missing, and for Regular with one name, the folder of location() is
//   opened too (hasFolder()); everything done beside the file afterwards goes
//   through that descriptor, never through the path again. For Regular, the
//   entry name() in that folder was checked to be the very file opened
//   (device and inode): the path is resolved again only to find the folder,
//   and a link swapped in between is caught. An open that keeps changing
//   under the check fails as above (reason EAGAIN).
// - A folder that cannot be opened leaves hasFolder() false and its errno in
//   folderError(); the caller decides (a Regular file can still be rewritten
//   in place).
// - The descriptors are blocking, close-on-exec; the object closes them
//   unless release()/releaseFolder() handed them over. Used by one thread.

#include <sys/stat.h>

#include <string>

namespace qzvfs {

class SaveTarget {
public:
    enum class Kind { Missing, Regular, Stream };

    explicit SaveTarget(const std::string& path);
    ~SaveTarget();
    SaveTarget(const SaveTarget&) = delete;
    SaveTarget& operator=(const SaveTarget&) = delete;

    Kind kind() const { return kind_; }
    // The status of the open file (Regular and Stream).
    const struct stat& status() const { return status_; }
    const std::string& location() const { return location_; }
    // The file's entry in its folder: the last part of location().
    std::string name() const;
    // The descriptor, now the caller's (-1 for Missing).
    int release();

    bool hasFolder() const { return folderFd_ >= 0; }
    int folderError() const { return folderError_; }
    // Opened for reading (listable, flushable) rather than only for search.
    bool folderReadable() const { return folderReadable_; }
    // The folder's descriptor, now the caller's.
    int releaseFolder();

private:
    // One attempt; false when the file seen through the path is no longer
    // the one opened.
    bool open();
    bool openFolder();
    void closeAll();
    [[noreturn]] void fail(const char* call, int error);

    std::string path_;
    Kind kind_ = Kind::Missing;
    int fd_ = -1;
    struct stat status_ {};
    std::string location_;
    int folderFd_ = -1;
    int folderError_ = 0;
    bool folderReadable_ = false;
};

}  // namespace qzvfs
