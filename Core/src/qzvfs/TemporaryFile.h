#pragma once
// qzvfs::TemporaryFile: the new contents of a file, made in the target's
// folder and put in place of the target only when complete.
//
// Contract
// - Made for one replacement in one folder, given as an open descriptor
//   (read access when `readable`, else search only), which it takes over and
//   closes; used by one thread. The functions that talk to the system return
//   0 or the errno value of the failure and log nothing: the caller knows the
//   path to name.
// - create() makes the file: unnamed (O_TMPFILE) where the file system offers
//   it, else under a fresh unpredictable hidden name opened with
//   O_CREAT | O_EXCL | O_NOFOLLOW, so a name planted beforehand is never
//   followed. `mode` is the mode asked for (the umask applies). The returned
//   descriptor belongs to the caller and must stay open until link().
// - Every hidden name is ".qzsave-<random>-<check>.tmp", where the check
//   binds the name to the file's inode, and the file holds an exclusive
//   lock (flock) from before it has that name until the object goes: a
//   hidden file is known for this library's, and for alive, whatever process
//   namespace or host made it.
// - link() gives an unnamed file a hidden name in the folder (no-op for a
//   named one); replace(name) renames it over `name` in the folder (a bare
//   name, no slash); flushFolder() forces the folder's entries to disk.
// - The destructor removes the hidden name unless replace() succeeded, so a
//   failed replacement leaves nothing behind; then it lets go of the lock and
//   closes the folder.
// - removeAbandoned() deletes the hidden files of saves that were killed
//   midway: only names whose check matches their file and whose lock can be
//   taken, so a live save's file and a user's file of a like name stay.
//   Quiet, best effort; lists a folder once per process (later calls for the
//   same folder do nothing).

#include <sys/types.h>

#include <string>

namespace qzvfs {

class TemporaryFile {
public:
    TemporaryFile(int folder, bool readable);
    ~TemporaryFile();
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    void removeAbandoned();
    int create(mode_t mode, int& descriptor);
    int link(int descriptor);
    int replace(const std::string& name);
    int flushFolder();

    // The hidden name in the folder; empty while the file has none.
    const std::string& name() const { return name_; }

private:
    int hold(int descriptor);

    int folderFd_;
    bool folderReadable_;  // opened for reading: it can be listed and flushed
    int lockFd_ = -1;      // shares the file's open description, and so its lock
    std::string name_;
    bool replaced_ = false;
};

}  // namespace qzvfs
