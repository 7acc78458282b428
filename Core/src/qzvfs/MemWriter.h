#pragma once
// qzvfs::MemWriter: a write-only memory file that appends to a shared
// qzvfs::MemBuffer.
//
// Contract: every write appends at the end of the buffer (the position is
// always the buffer's length, so seek succeeds only to that position) and
// returns the size written. size() and tell() return the buffer's length.
// close() drops this file's buffer reference; afterwards writes store nothing
// (return 0, which the primitive helpers turn into an error), tell()/size()
// return -1 and getBuffer() returns null. Reading is not supported: read()
// returns 0. The name is "qzvfs::MemWriter". The object is owned by whoever
// created it (close() does not destroy it).

#include "qzvfs/IFile.h"
#include "qzvfs/MemBuffer.h"

namespace qzvfs {

class MemWriter final : public IFile {
public:
    // Throws qz::ExtException when buffer is null.
    explicit MemWriter(MemBufferPtr buffer);

    const std::string& getPath() const override;
    size_t read(void* buffer, size_t size) override;
    size_t write(const void* buffer, size_t size) override;
    int64_t tell() override;
    bool seek(uint64_t position) override;
    int64_t size() override;
    const uint8_t* mappedData() override;
    void close() override;

    // The buffer written to (shared), so that the finished bytes can be
    // taken out; null after close().
    MemBufferPtr getBuffer() const { return buffer; }

private:
    MemBufferPtr buffer;
};

}  // namespace qzvfs
