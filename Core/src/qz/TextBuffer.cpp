#include "qz/TextBuffer.h"

#include <cstring>
#include <limits>
#include <new>
#include <utility>

#include "qz/Memory.h"

namespace qz {

TextBuffer::~TextBuffer() { qz::free(data_); }

TextBuffer::TextBuffer(TextBuffer&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0)) {}

TextBuffer& TextBuffer::operator=(TextBuffer&& other) noexcept {
    if (this != &other) {
        qz::free(data_);
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
        capacity_ = std::exchange(other.capacity_, 0);
    }
    return *this;
}

std::size_t TextBuffer::grownCapacity(std::size_t length) {
    const float wanted = static_cast<float>(length) * 1.8f + 1.0f;
    // Past what size_t holds no heap could serve the request anyway; the
    // float result must also never round below the text and its zero.
    if (wanted >= 18446744073709551615.0f) {
        reportOutOfMemory("qz_realloc", std::numeric_limits<long long>::max());
        throw std::bad_alloc();
    }
    const std::size_t grown = static_cast<std::size_t>(wanted);
    return grown > length ? grown : length + 1;
}

void TextBuffer::assign(std::string_view text) {
    if (text.size() + 1 > capacity_) {
        const std::size_t capacity = grownCapacity(text.size());
        if (data_ && text.data() >= data_ && text.data() < data_ + capacity_) {
            // The text lives in our own storage, which realloc may move.
            const std::size_t offset = static_cast<std::size_t>(text.data() - data_);
            data_ = static_cast<char*>(qz::realloc(data_, capacity));
            text = std::string_view(data_ + offset, text.size());
        } else {
            data_ = static_cast<char*>(qz::realloc(data_, capacity));
        }
        capacity_ = capacity;
    }
    std::memmove(data_, text.data(), text.size());
    data_[text.size()] = '\0';
    size_ = text.size();
}

}  // namespace qz
