#pragma once
// A growable, zero-terminated text buffer that keeps its capacity between
// uses, so repeated texts of similar length allocate only once.
//
// Growth rule: when a text of n bytes (plus its terminating zero) does not
// fit, the capacity becomes the whole part of n * 1.8 + 1, computed in single
// precision. Memory comes from qz::realloc, so exhaustion is reported
// ("qz_realloc") and thrown as std::bad_alloc; the old contents stay intact
// when growing fails. Not thread-safe; movable, not copyable.

#include <cstddef>
#include <string_view>

namespace qz {

class TextBuffer {
public:
    TextBuffer() = default;
    ~TextBuffer();
    TextBuffer(TextBuffer&& other) noexcept;
    TextBuffer& operator=(TextBuffer&& other) noexcept;
    TextBuffer(const TextBuffer&) = delete;
    TextBuffer& operator=(const TextBuffer&) = delete;

    // Replaces the contents with `text` (which may contain zero bytes and may
    // point into this buffer's own storage).
    void assign(std::string_view text);

    // Always a valid zero-terminated string ("" before the first assign).
    const char* c_str() const noexcept { return data_ ? data_ : ""; }
    std::string_view view() const noexcept { return {c_str(), size_}; }
    std::size_t size() const noexcept { return size_; }
    // Bytes reserved including room for the terminating zero; 0 before use.
    std::size_t capacity() const noexcept { return capacity_; }

    // Capacity chosen for a text of `length` bytes that does not fit.
    static std::size_t grownCapacity(std::size_t length);

private:
    char* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

}  // namespace qz
