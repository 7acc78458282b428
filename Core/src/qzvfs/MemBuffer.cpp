#include "qzvfs/MemBuffer.h"

#include <algorithm>
#include <new>

#include "qz/Memory.h"

namespace qzvfs {

void MemBuffer::append(const void* data, size_t size) {
    if (size == 0) return;
    const size_t needed = bytes_.size() + size;
    if (needed > bytes_.capacity()) {
        const size_t grown = std::max(bytes_.capacity() + bytes_.capacity() / 2, needed);
        try {
            bytes_.reserve(grown);
        } catch (const std::bad_alloc&) {
            qz::reportOutOfMemory("qz_malloc", static_cast<long long>(grown));
            throw;
        }
    }
    const auto* p = static_cast<const uint8_t*>(data);
    bytes_.insert(bytes_.end(), p, p + size);
}

}  // namespace qzvfs
