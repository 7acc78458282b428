#include "Indices.h"

#include <algorithm>
#include <limits>
#include <vector>

#include <fmt/format.h>

#include "io/IBinaryFileR.h"
#include "io/IBinaryFileW.h"
#include "qz/ExtException.h"

namespace model {

uint8_t Indices::widthCode(const std::vector<uint32_t>& indices) noexcept {
    const uint32_t largest = indices.empty() ? 0 : *std::max_element(indices.begin(), indices.end());
    return largest <= 0xFF ? 0 : largest <= 0xFFFF ? 1 : 2;
}

void Indices::writeTo(io::IBinaryFileW& writer) const {
    if (indices.size() > std::numeric_limits<uint32_t>::max())
        QZ_THROW(fmt::format("Index list of {} indices is too long to write.", indices.size()));
    const uint8_t code = widthCode(indices);
    writer.writeU8(code);
    writer.writeU32(static_cast<uint32_t>(indices.size()));
    writer.writeU32(primitiveKind);
    switch (code) {
    case 0:
        writer.writeU8s(std::vector<uint8_t>(indices.begin(), indices.end()));
        break;
    case 1:
        writer.writeU16s(std::vector<uint16_t>(indices.begin(), indices.end()));
        break;
    default:
        writer.writeU32s(indices);
        break;
    }
}

void Indices::readFrom(io::IBinaryFileR& reader) {
    const uint8_t code = reader.readU8();
    if (code > 2) QZ_THROW(fmt::format("Unknown index width code {}.", code));
    const uint32_t count = reader.readU32();
    const uint32_t kind = reader.readU32();
    // No reserve(count): a corrupt count must fail on the missing bytes, not
    // on a huge allocation.
    std::vector<uint32_t> read;
    for (uint32_t n = 0; n < count; ++n)
        read.push_back(code == 0 ? reader.readU8() : code == 1 ? reader.readU16() : reader.readU32());
    primitiveKind = kind;
    indices = std::move(read);
}

}  // namespace model
