#pragma once
// io::IBinaryFileR: a byte source for reading back what the model writers
// wrote.
//
// Contract: the primitive readers of qzvfs::FileHelpersR (readU8 ...
// readDouble, readBlobN, readBytes) sit on top of read() and decode
// little-endian bytes; running out of bytes throws qz::ExtException. A source
// is used by one thread.

#include <cstddef>
#include <cstdint>
#include <string>

#include "qzvfs/FileHelpersR.h"

namespace io {

class IBinaryFileR : public qzvfs::FileHelpersR<IBinaryFileR> {
public:
    virtual ~IBinaryFileR() = default;

    // True while the source can deliver data.
    virtual bool isOpen() const = 0;

    // Copies up to `size` bytes from the current position into `data`;
    // returns the count copied (less at the end of the data).
    virtual size_t read(void* data, size_t size) = 0;

    // Sets the current position.
    virtual void seek(uint64_t position) = 0;

    // The current position.
    virtual uint64_t tell() const = 0;

    // A display name of the source, for messages.
    virtual std::string getName() const = 0;

    // Reads a string. This base form reads a u32 byte length and the bytes,
    // the counterpart of io::IBinaryFileW::writeString.
    virtual std::string readString();
};

}  // namespace io
