#pragma once
// Saving a finished byte vector to a file in one piece.
//
// writeWholeFile(path, data, size) rewrites the file at `path` (UTF-8) with
// exactly `size` bytes from `data`; writeWholeFile(path, parts) with the
// parts one after the other, for a file built in pieces that would otherwise
// have to be joined in memory first. The result is what opening `path` for
// rewriting and writing the bytes would give, without a torn file wherever
// that can be avoided:
//   - an ordinary file with one name, in a folder where the caller may create
//     files (or a missing file there): the bytes go to a new file in the
//     target's folder (unnamed where the file system allows, else under a
//     fresh hidden name), are forced to disk, and only then does that file
//     take the target's name; the folder is then flushed so the new name
//     survives a power cut. A reader sees the old file or the new one; a
//     failure or a killed process leaves the old file untouched and no file
//     beside it (hidden files of earlier saves whose process is gone are
//     removed). The file keeps its permission bits and owner. The replaced
//     file is closed by a thread of its own once the new one has its name,
//     so the system frees its space just after the call returns.
//   - an ordinary file with more than one name, in a folder where the caller
//     cannot create files, or whose owner could not be kept: the bytes are
//     written into the file itself, which is then cut to their length and
//     forced to disk; every name keeps seeing the file.
//   - a FIFO, device or socket (directly or through links): opened for
//     writing (a socket connected to) and the bytes written into it; nothing
//     is created or renamed beside it. A reader that goes away fails the save
//     (the process gets no SIGPIPE).
//   - a symbolic link is written through and stays; one that points nowhere
//     makes the file it points to.
// Throws qzvfs::FileError, whose kind tells the failing step:
//   Open    "Can't open <path>"   where an open for rewriting would fail (no
//           permission on the file, missing folder, a folder, name too long,
//           FIFO without a reader, empty path, a NUL in the path...);
//           nothing is changed
//   Write   "Short write to <path>: <n> of <size> bytes written" (disk full,
//           limit; counted over all parts), "Can't write <path>: <reason>",
//           "Can't write <path>: no data" (data and fill null, size not 0, of
//           any part; refused before anything is touched)
//   Flush   "Can't flush <path>: <reason>"   data or new name refused by disk
//   Close   "Can't close <path>: <reason>"   the system failed the close
//   Rename  "Can't replace <path>: <reason>" the new file could not be put in
//           place
// Every failure is logged: the system call as "[path] call: reason"
// (QZCORESTATIC), the message of kinds other than Open at ERROR under "VFS".
// Log lines and messages name `path` as given, never the hidden file.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qzvfs {

// A run of bytes owned by the caller, valid for the call. A part without
// data but with `fill` is made as it is written, a stage at a time:
// fill(offset, out, n) puts its bytes [offset, offset + n) into `out`
// (aligned for any scalar), is asked only for whole multiples of `unit`
// bytes, and must not throw.
struct FilePart {
    const void* data;
    size_t size;
    std::function<void(size_t offset, void* out, size_t n)> fill = {};
    size_t unit = 1;
};

void writeWholeFile(const std::string& path, const void* data, size_t size);
void writeWholeFile(const std::string& path, const std::vector<FilePart>& parts);

inline void writeWholeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    writeWholeFile(path, bytes.data(), bytes.size());
}

}  // namespace qzvfs
