#pragma once
// qzvfs::SaveTarget: what a path that is about to be rewritten names, seen
// the way an open for rewriting would see it.
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
// - The descriptor is blocking, close-on-exec; the object closes it unless
//   release() handed it over. Used by one thread.

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
    // The descriptor, now the caller's (-1 for Missing).
    int release();

private:
    [[noreturn]] void fail(const char* call, int error);

    std::string path_;
    Kind kind_ = Kind::Missing;
    int fd_ = -1;
    struct stat status_ {};
    std::string location_;
};

}  // namespace qzvfs
