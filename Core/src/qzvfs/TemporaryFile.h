#pragma once
// qzvfs::TemporaryFile: the new contents of a file, made in the target's
// folder and put in place of the target only when complete.
//
// Contract
// - Made for one replacement in one folder (a path, "." for the current
//   one); used by one thread. The functions that talk to the system return 0
//   or the errno value of the failure and log nothing: the caller knows the
//   path to name.
// - openFolder() must succeed before anything else is called.
// - create() makes the file: unnamed (O_TMPFILE) where the file system offers
//   it, else under a fresh unpredictable hidden name opened with
//   O_CREAT | O_EXCL | O_NOFOLLOW, so a name planted beforehand is never
//   followed. `mode` is the mode asked for (the umask applies). The returned
//   descriptor belongs to the caller and must stay open until link().
// - link() gives an unnamed file a hidden name in the folder (no-op for a
//   named one); replace(name) renames it over `name` in the folder (a bare
//   name, no slash); flushFolder() forces the folder's entries to disk.
// - The destructor removes the hidden name unless replace() succeeded, so a
//   failed replacement leaves nothing behind; it closes the folder.
// - removeAbandoned() deletes the hidden files that saves of processes of
//   this host which are gone left in the folder (killed midway); quiet, best
//   effort. Files of living processes are kept.

#include <sys/types.h>

#include <string>

namespace qzvfs {

class TemporaryFile {
public:
    explicit TemporaryFile(std::string folder);
    ~TemporaryFile();
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    int openFolder();
    void removeAbandoned();
    int create(mode_t mode, int& descriptor);
    int link(int descriptor);
    int replace(const std::string& name);
    int flushFolder();

    // The hidden name in the folder; empty while the file has none.
    const std::string& name() const { return name_; }

private:
    std::string folder_;
    int folderFd_ = -1;
    bool folderReadable_ = false;  // opened for reading: it can be listed and flushed
    std::string name_;
    bool replaced_ = false;
};

}  // namespace qzvfs
