#include "io/MemBinaryFileR.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include <fmt/format.h>

namespace model {

MemBinaryFileR::MemBinaryFileR(std::vector<uint8_t> bytes, std::vector<std::string> strings)
    : bytes(std::move(bytes)), strings(std::move(strings)) {}

size_t MemBinaryFileR::read(void* data, size_t size) {
    if (size == 0 || position >= bytes.size()) return 0;
    const size_t n = static_cast<size_t>(std::min<uint64_t>(size, bytes.size() - position));
    std::memcpy(data, bytes.data() + position, n);
    position += n;
    return n;
}

std::string MemBinaryFileR::readString() {
    const uint32_t index = readU32();
    if (index >= strings.size())
        throw std::out_of_range(fmt::format(
            "MemBinaryFileR: string index {} outside the table of {} strings", index, strings.size()));
    return strings[index];
}

}  // namespace model
