#include "io/MemBinaryFileW.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>

#include <fmt/format.h>

#include "qz/ExtException.h"
#include "qz/Memory.h"

namespace model {

MemBinaryFileW::MemBinaryFileW() : strings(4096) { data.reserve(4096); }

size_t MemBinaryFileW::write(const void* bytes, size_t size) {
    if (position > data.size())
        throw std::out_of_range(fmt::format(
            "MemBinaryFileW: write at position {} past the end ({} bytes)", position, data.size()));
    if (size == 0) return 0;
    if (!held.empty() && position < held.back().at)
        throw std::logic_error("MemBinaryFileW: write in front of a held block");
    const size_t needed = data.size() + size;
    if (needed > data.capacity()) reserve(std::max(data.capacity() + data.capacity() / 2, needed));
    const auto* p = static_cast<const uint8_t*>(bytes);
    data.insert(data.begin() + static_cast<ptrdiff_t>(position), p, p + size);
    position += size;
    return size;
}

void MemBinaryFileW::reserve(size_t size) {
    if (size <= data.capacity()) return;
    try {
        data.reserve(size);
    } catch (const std::bad_alloc&) {
        qz::reportOutOfMemory("qz_malloc", static_cast<long long>(size));
        throw;
    }
    // The image of a big model is written once from end to end into fresh
    // memory; huge pages spare a page fault per 4 KiB of it.
    if (data.capacity() >= kHugeImage) qz::adviseHugePages(data.data(), data.capacity());
}

std::vector<uint8_t> MemBinaryFileW::takeData() noexcept {
    std::vector<uint8_t> out;
    out.swap(data);
    held.clear();
    position = 0;
    return out;
}

void MemBinaryFileW::writeShared(std::span<const uint8_t> bytes, std::shared_ptr<const void> keeper) {
    if (!holding || bytes.size() < kShareFrom || position != data.size() || !keeper) {
        writeBytes(bytes.data(), bytes.size());
        return;
    }
    held.push_back({data.size(), {bytes, std::move(keeper)}});
}

void MemBinaryFileW::writeMade(size_t size, size_t unit, const FillPiece& fill, std::shared_ptr<const void> keeper) {
    if (!holding || size < kShareFrom || position != data.size() || !keeper) {
        IBinaryFileW::writeMade(size, unit, fill, std::move(keeper));
        return;
    }
    held.push_back({data.size(), {{}, std::move(keeper), fill, size, unit}});
}

FileImage MemBinaryFileW::takePieces() {
    auto taken = std::make_shared<std::vector<uint8_t>>();
    taken->swap(data);
    position = 0;
    const std::shared_ptr<const std::vector<uint8_t>> own = std::move(taken);
    FileImage pieces;
    size_t from = 0;
    const auto ownPiece = [&](size_t to) {
        if (to > from) pieces.push_back({std::span<const uint8_t>(own->data() + from, to - from), own});
        from = to;
    };
    for (Held& block : held) {
        ownPiece(block.at);
        pieces.push_back(std::move(block.piece));
    }
    ownPiece(own->size());
    held.clear();
    return pieces;
}

void MemBinaryFileW::writeString(const std::string& s) {
    if (std::memchr(s.data(), '\0', s.size()) != nullptr)
        QZ_THROW(fmt::format("String with an embedded NUL can't be pooled: \"{}\"", s.c_str()));
    const int64_t index = strings.indexOf(s.c_str());
    if (index < 0 || index > std::numeric_limits<uint32_t>::max())
        QZ_THROW(fmt::format("String pool index {} doesn't fit a u32", index));
    writeU32(static_cast<uint32_t>(index));
}

}  // namespace model
