#pragma once
// model::MemBinaryFileW: the in-memory sink of the format 10 writer.
//
// Contract
// - write() INSERTS the bytes at the current position: bytes after it move
//   up, the position advances by the size. At the end this is an append; a
//   writer may seek back and insert a block (the string table) in front of
//   what it wrote. A write at a position past the end throws
//   std::out_of_range and stores nothing. seek() itself accepts any position.
// - writeString() pools the string (stored once, see qz::StringPool) and
//   writes its u32 pool index; strings with an embedded NUL can't be pooled
//   and throw qz::ExtException.
// - isOpen() is always true; getName() is "buffer".
// - getData() exposes the bytes written so far; takeData() moves them out
//   and leaves the sink empty; getStrings() the pool, whose serialize() gives
//   the string table.
// - reserve(size) makes room for size bytes in all, so that a writer that
//   knows its output is big avoids growing the buffer step by step; it
//   throws std::bad_alloc (after the out-of-memory report) like a write.
//   A buffer of 8 MiB or more is offered huge pages (qz::adviseHugePages).
// - After holdLargeBlocks(), writeShared() of kShareFrom bytes or more at
//   the end holds on to the caller's bytes instead of copying them;
//   getData() and takeData() then lack them, tell() and seek() do not count
//   them, and a later write in front of them throws std::logic_error.
//   writeMade() of kShareFrom bytes or more is held the same way, as a made
//   piece that makes its bytes only when the file is written.
//   takePieces() gives the whole output in file order, the sink's own bytes
//   and the held ones, and leaves the sink empty. Smaller blocks, and every
//   block without holdLargeBlocks(), are copied like writeBytes().

#include <cstdint>
#include <vector>

#include "io/IBinaryFileW.h"
#include "io/IClassWriter.h"
#include "qz/StringPool.h"

namespace model {

class MemBinaryFileW final : public io::IBinaryFileW {
public:
    MemBinaryFileW();

    bool isOpen() const override { return true; }
    size_t write(const void* data, size_t size) override;
    void seek(uint64_t position) override { this->position = position; }
    uint64_t tell() const override { return position; }
    std::string getName() const override { return "buffer"; }
    void writeString(const std::string& s) override;
    void writeShared(std::span<const uint8_t> bytes, std::shared_ptr<const void> keeper) override;
    void writeMade(size_t size, size_t unit, const FillPiece& fill, std::shared_ptr<const void> keeper) override;

    // Blocks this big are worth holding on to instead of copying.
    static constexpr size_t kShareFrom = size_t(1) << 20;
    void holdLargeBlocks() noexcept { holding = true; }

    const std::vector<uint8_t>& getData() const noexcept { return data; }
    std::vector<uint8_t> takeData() noexcept;
    FileImage takePieces();
    void reserve(size_t size);
    const qz::StringPool& getStrings() const noexcept { return strings; }

private:
    // From this capacity on the buffer is offered huge pages.
    static constexpr size_t kHugeImage = size_t(8) << 20;

    // A held block and the length of the sink's own bytes in front of it.
    struct Held {
        size_t at;
        FilePiece piece;
    };

    std::vector<uint8_t> data;
    std::vector<Held> held;
    bool holding = false;
    uint64_t position = 0;
    qz::StringPool strings;
};

}  // namespace model
