#include "io/IBinaryFileR.h"

namespace io {

std::string IBinaryFileR::readString() {
    const uint32_t length = readU32();
    // Read in slices so that a corrupt length fails on the missing bytes
    // instead of first allocating up to 4 GiB.
    std::string s;
    char chunk[4096];
    for (uint32_t left = length; left > 0;) {
        const uint32_t n = left < sizeof chunk ? left : uint32_t(sizeof chunk);
        readBytes(chunk, n);
        s.append(chunk, n);
        left -= n;
    }
    return s;
}

}  // namespace io
