#pragma once
// qzvfs::PosixFileRO: a read-only operating-system file. Every write is
// refused: it logs "WinFileRO::write() is NOT allowed!" at ALERT and returns 0.
//
// Contract: made only by open() (used by drivers); opening is quiet — it
// returns nullptr with errno set, without logging, when the path is missing,
// unreadable or not a regular file. Lifetime as for PosixFileRaw.

#include "qzvfs/PosixFileRaw.h"

namespace qzvfs {

class PosixFileRO : public PosixFileRaw {
public:
    // Opens `osPath` for reading; the file reports `path` as its path and
    // `secondName` as its second name, and belongs to `driver` (may be null).
    static PosixFileRO* open(const std::string& osPath, std::string path, std::string secondName,
                             std::shared_ptr<IDriver> driver);

    PosixFileRO(FilePool::Key key, int descriptor, std::string path, std::string secondName,
                std::shared_ptr<IDriver> driver);

    size_t write(const void* buffer, size_t size) override;
};

}  // namespace qzvfs
