#include "qzvfs/MemWriter.h"

#include "qz/ExtException.h"

namespace qzvfs {

MemWriter::MemWriter(MemBufferPtr buffer) : buffer(std::move(buffer)) {
    if (!this->buffer) QZ_THROW("MemWriter needs a buffer");
}

const std::string& MemWriter::getPath() const {
    static const std::string name = "qzvfs::MemWriter";
    return name;
}

size_t MemWriter::read(void*, size_t) { return 0; }

size_t MemWriter::write(const void* data, size_t size) {
    if (!buffer) return 0;
    buffer->append(data, size);
    return size;
}

int64_t MemWriter::tell() { return size(); }

bool MemWriter::seek(uint64_t position) {
    return buffer && position == buffer->size();
}

int64_t MemWriter::size() { return buffer ? static_cast<int64_t>(buffer->size()) : -1; }

const uint8_t* MemWriter::mappedData() { return buffer ? buffer->data() : nullptr; }

void MemWriter::close() { buffer.reset(); }

}  // namespace qzvfs
