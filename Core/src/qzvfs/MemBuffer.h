#pragma once
// A shared, growable byte buffer: the storage behind in-memory files.
//
// Contract: handed around as qzvfs::MemBufferPtr (a counted reference); the
// bytes live as long as the last reference. append() grows the storage by
// half its capacity or to the needed size, whichever is more, so a long run of
// small appends costs amortised constant time. Allocation failure is
// reported as out of memory ("qz_malloc" and the size), then std::bad_alloc
// is thrown with the buffer unchanged. Not thread-safe.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace qzvfs {

class MemBuffer {
public:
    MemBuffer() = default;
    explicit MemBuffer(size_t reserveBytes) { bytes_.reserve(reserveBytes); }

    void append(const void* data, size_t size);

    const uint8_t* data() const noexcept { return bytes_.data(); }
    size_t size() const noexcept { return bytes_.size(); }
    size_t capacity() const noexcept { return bytes_.capacity(); }
    const std::vector<uint8_t>& bytes() const noexcept { return bytes_; }
    // Moves the bytes out, leaving the buffer empty, so that a finished
    // image is handed over without a copy.
    std::vector<uint8_t> take() noexcept {
        std::vector<uint8_t> out;
        out.swap(bytes_);
        return out;
    }

private:
    std::vector<uint8_t> bytes_;
};

using MemBufferPtr = std::shared_ptr<MemBuffer>;

}  // namespace qzvfs
