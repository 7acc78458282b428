#pragma once
// io::IBinaryFileW: the byte sink the model writers write into.
//
// Contract: the primitive writers of qzvfs::FileHelpersW (writeU8 ...
// writeDouble, writeBlobN, writeBytes) sit on top of write() and emit
// little-endian bytes; they throw qz::ExtException when write() stores fewer
// bytes than asked. A sink is created for one save and used by one thread.
// The virtual operations keep this slot order.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "io/FileImage.h"
#include "qzvfs/FileHelpersW.h"

namespace io {

class IBinaryFileW : public qzvfs::FileHelpersW<IBinaryFileW> {
public:
    virtual ~IBinaryFileW() = default;

    // True while the sink accepts data.
    virtual bool isOpen() const = 0;

    // Stores `size` bytes at the current position; returns the count stored.
    virtual size_t write(const void* data, size_t size) = 0;

    // Sets the current position.
    virtual void seek(uint64_t position) = 0;

    // The current position.
    virtual uint64_t tell() const = 0;

    // A display name of the sink, for messages.
    virtual std::string getName() const = 0;

    // Writes a string. This base form writes a u32 byte length and the bytes
    // (no terminator); throws qz::ExtException for a string of 4 GiB or more.
    virtual void writeString(const std::string& s);

    // Stores `bytes` like writeBytes. A sink may instead hold on to them
    // through `keeper` and store them only when its bytes go to the file;
    // the caller must leave them unchanged as long as `keeper` lives.
    virtual void writeShared(std::span<const uint8_t> bytes, std::shared_ptr<const void> keeper) {
        (void)keeper;
        writeBytes(bytes.data(), bytes.size());
    }

    // Stores the `size` bytes that `fill` makes (see model::FilePiece; size
    // a multiple of `unit`). A sink may instead keep `fill` and `keeper` and
    // make the bytes only when they go to the file; this base form makes
    // them a block at a time and writes them.
    virtual void writeMade(size_t size, size_t unit, const model::FillPiece& fill, std::shared_ptr<const void> keeper);
};

}  // namespace io
