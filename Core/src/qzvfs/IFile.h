#pragma once
// qzvfs::IFile: the one interface behind which the file layer hands out files
// (operating-system files, files read through a mounted driver, memory files).
//
// Contract
// - Paths are UTF-8.
// - Ownership: whoever opened a file owns it and ends it with close() (or
//   VFS_close, or by holding it in a qzvfs::FilePtr). For pooled
//   operating-system files close() destroys the object; the pointer is dead
//   afterwards. Never `delete` a file obtained from the file layer.
// - A file object is used by one thread at a time.
// - read/write return the number of bytes transferred; a count below the one
//   asked for means end of file (read) or failure (write), and the failure has
//   been logged by the file. The primitive helpers of FileHelpersR/W turn a
//   short count into qz::ExtException.
// - The virtual operations keep this slot order; implementers override, never
//   reorder.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "qzvfs/FileHelpersR.h"
#include "qzvfs/FileHelpersW.h"

namespace qzvfs {

class IFile : public FileHelpersR<IFile>, public FileHelpersW<IFile> {
public:
    // Slot 0. Releases the operating-system resource if it is still held.
    virtual ~IFile();

    // Slot 1. The path the file was opened with (UTF-8).
    virtual const std::string& getPath() const = 0;

    // Slot 2. A second stored name: the name below its mount point for files
    // opened through a driver; empty for files opened for writing.
    virtual const std::string& getSecondName() const;

    // Slot 3. Reads up to `size` bytes into `buffer`; returns the count read
    // (0 at end of file or on failure).
    virtual size_t read(void* buffer, size_t size) = 0;

    // Slot 4. Writes `size` bytes from `buffer`; returns the count written.
    virtual size_t write(const void* buffer, size_t size) = 0;

    // Slot 5. Current position; -1 when it cannot be had.
    virtual int64_t tell() = 0;

    // Slot 6. Moves to `position` from the start; true on success.
    virtual bool seek(uint64_t position) = 0;

    // Slot 7. Size in bytes; -1 when it cannot be had.
    virtual int64_t size() = 0;

    // Slot 8. The whole contents when the file keeps them in memory (mapped
    // and memory files, `size()` bytes); nullptr for every other kind.
    virtual const uint8_t* mappedData();

    // Slot 9. Ends the use of the file (see Ownership above).
    virtual void close() = 0;

    // Slots 10 to 12: answered by the driver that opened the file. Files
    // opened straight from the operating system answer with their own path,
    // an empty mount point and an empty source.
    virtual std::string getRealPath() const;    // operating-system path
    virtual std::string getMountPoint() const;  // mount point of the driver
    virtual std::string getSource() const;      // source the driver mounted
};

// Writes through slot 4. A null file logs "VFS_write(NULL)" (ERROR, "VFS") and
// returns 0.
size_t VFS_write(IFile* file, const void* data, size_t size);

// Closes through slot 9; a null file is ignored.
void VFS_close(IFile* file);

// Owning handle that closes its file when it goes out of scope.
struct FileCloser {
    void operator()(IFile* file) const noexcept { VFS_close(file); }
};
using FilePtr = std::unique_ptr<IFile, FileCloser>;

}  // namespace qzvfs
