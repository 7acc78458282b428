#pragma once
// qzvfs::PosixFileRaw: an operating-system file (a file descriptor) behind
// qzvfs::IFile, read and write.
//
// Contract
// - Objects live in the library's FilePool; they are made only by the open
//   functions here (or by drivers) and end with close(), which closes the
//   descriptor and returns the block to the pool.
// - openRewrite creates the file or truncates it to zero length;
//   openAppend creates the file if missing, keeps its contents and places the
//   position at its end. Both open for writing only and return nullptr on
//   failure after logging "[<path>] CreateFile(REWRITE): <reason>" (or
//   "CreateFile(APPEND)", "SetFilePointerEx(END)").
// - read/write/tell/seek/size log failures in the same "[path] call: reason"
//   form ("ReadFile(<size>)", "WriteFile(<size>)", "SetFilePointerEx(+0)",
//   "SetFilePointerEx(<position>)", "GetFileSizeEx()") and report them through
//   their result (short count, -1, false). Interrupted calls are resumed.

#include <memory>
#include <string>

#include "qzvfs/FilePool.h"
#include "qzvfs/IFile.h"

namespace qzvfs {

class IDriver;

class PosixFileRaw : public IFile {
public:
    static PosixFileRaw* openRewrite(const std::string& path);
    static PosixFileRaw* openAppend(const std::string& path);

    // Takes ownership of `descriptor`. `driver` (may be null) is the driver
    // that opened the file; it is told when the file closes.
    PosixFileRaw(FilePool::Key, int descriptor, std::string path, std::string secondName = {},
                 std::shared_ptr<IDriver> driver = {});
    ~PosixFileRaw() override;
    PosixFileRaw(const PosixFileRaw&) = delete;
    PosixFileRaw& operator=(const PosixFileRaw&) = delete;

    const std::string& getPath() const override { return path_; }
    const std::string& getSecondName() const override { return secondName_; }
    size_t read(void* buffer, size_t size) override;
    size_t write(const void* buffer, size_t size) override;
    int64_t tell() override;
    bool seek(uint64_t position) override;
    int64_t size() override;
    void close() override;
    std::string getRealPath() const override;
    std::string getMountPoint() const override;
    std::string getSource() const override;

    // Forces written data to the storage device; false (logged as
    // "[path] fsync(): reason") when the system reports a failure.
    bool flush();

    // Closes the descriptor now instead of at close(); false (logged as
    // "[path] close(): reason") when the system reports a failure, which is
    // where some file systems report data they could not store. The
    // descriptor is gone either way; later calls return true.
    bool closeDescriptor();

    int descriptor() const { return fd_; }

private:
    static PosixFileRaw* openForWriting(const std::string& path, bool truncate);

    int fd_;
    std::string path_;
    std::string secondName_;
    std::shared_ptr<IDriver> driver_;
};

}  // namespace qzvfs
