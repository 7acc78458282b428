#pragma once
// Saving a finished byte vector to a file in one piece.
//
// writeWholeFile(path, data, size) replaces the file at `path` (UTF-8) with
// exactly `size` bytes from `data`; writeWholeFile(path, parts) with the
// parts one after the other, for a file built in pieces that would otherwise
// have to be joined in memory first:
//   - the bytes go to a new hidden temporary file in the target's folder,
//     opened for rewriting through the platform file table, written with one
//     VFS_write per part, forced to disk and closed; only then is the
//     temporary renamed over the target. A reader sees the old file or the new one, never a
//     half-written one, and a failure leaves the old file untouched and no
//     temporary file behind.
//   - a target that is a symbolic link is written through the link; an
//     existing target keeps its permission bits.
// Throws qz::ExtException:
//   "Can't open <path>"                            the file cannot be created
//                                                  (missing folder, target is
//                                                  a folder, no permission...)
//   "Short write to <path>: <n> of <size> bytes written"  (disk full, limit;
//                                                  counted over all parts)
//   "Can't flush <path>: <reason>"                 the system refused the data
//   "Can't close <path>: <reason>"                 the system reported a
//                                                  failure on closing
//   "Can't replace <path>: <reason>"               the final rename failed
//   "Can't write <path>: no data"                  data is null, size is not 0
//                                                  (of any part)
// Failures of the system calls are also logged in "[path] call: reason" form.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qzvfs {

// A run of bytes owned by the caller, valid for the call.
struct FilePart {
    const void* data;
    size_t size;
};

void writeWholeFile(const std::string& path, const void* data, size_t size);
void writeWholeFile(const std::string& path, const std::vector<FilePart>& parts);

inline void writeWholeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    writeWholeFile(path, bytes.data(), bytes.size());
}

}  // namespace qzvfs
