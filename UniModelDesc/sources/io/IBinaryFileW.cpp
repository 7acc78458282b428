#include "io/IBinaryFileW.h"

#include <algorithm>
#include <limits>
#include <vector>

#include <fmt/format.h>

#include "qz/ExtException.h"

namespace io {

void IBinaryFileW::writeString(const std::string& s) {
    if (s.size() > std::numeric_limits<uint32_t>::max())
        QZ_THROW(fmt::format("String of {} bytes is too long for a u32 length", s.size()));
    writeU32(static_cast<uint32_t>(s.size()));
    writeBytes(s.data(), s.size());
}

void IBinaryFileW::writeMade(size_t size, size_t unit, const model::FillPiece& fill, std::shared_ptr<const void>) {
    // About 64 KiB at a time: the block stays in the cache between being
    // made and being stored.
    unit = std::max<size_t>(1, unit);
    const size_t step = std::max<size_t>(1, (size_t(1) << 16) / unit) * unit;
    std::vector<uint8_t> block(std::min(step, size));
    for (size_t offset = 0; offset < size; offset += step) {
        const size_t n = std::min(step, size - offset);
        fill(offset, std::span<uint8_t>(block.data(), n));
        writeBytes(block.data(), n);
    }
}

}  // namespace io
