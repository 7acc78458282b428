#include "io/IBinaryFileW.h"

#include <limits>

#include <fmt/format.h>

#include "qz/ExtException.h"

namespace io {

void IBinaryFileW::writeString(const std::string& s) {
    if (s.size() > std::numeric_limits<uint32_t>::max())
        QZ_THROW(fmt::format("String of {} bytes is too long for a u32 length", s.size()));
    writeU32(static_cast<uint32_t>(s.size()));
    writeBytes(s.data(), s.size());
}

}  // namespace io
