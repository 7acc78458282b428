#include "io/tav2/DataPool20.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include <fmt/format.h>

#include "qz/ExtException.h"

namespace model {

namespace {

// Suffix keys are built from the last byte towards the first, so the key of
// every suffix of a run follows from the key of the next shorter one in one
// step: indexing a run costs its length, not its length squared. The step is
// a full 64-bit mix (not a polynomial), which keeps distinct strings apart
// however they are chosen; a shared key is still checked against the bytes.
constexpr std::uint64_t kEmptyKey = 0x6A09E667F3BCC909ull;
constexpr std::uint64_t kMaxPoolSize = 0xFFFFFFFFull;
constexpr std::size_t kFirstCapacity = 1024;

std::uint64_t mix(std::uint64_t z) noexcept {
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

std::uint64_t prependByte(std::uint64_t key, std::uint8_t byte) noexcept {
    return mix(key + 0x9E3779B97F4A7C15ull * (std::uint64_t(byte) + 1));
}

std::uint64_t keyOf(std::string_view s) noexcept {
    std::uint64_t key = kEmptyKey;
    for (size_t i = s.size(); i-- > 0;) key = prependByte(key, std::uint8_t(s[i]));
    return key;
}

std::uint32_t fragmentOf(std::uint64_t slot) noexcept { return std::uint32_t(slot >> 32); }
std::uint32_t offsetOf(std::uint64_t slot) noexcept { return std::uint32_t(slot); }

}  // namespace

void DataPool20::checkRoom(size_t size) const {
    if (size > kMaxPoolSize - bytes_.size())
        QZ_THROW(fmt::format("The data pool is too large for 32-bit offsets: {} bytes.",
                             std::uint64_t(bytes_.size()) + size));
}

size_t DataPool20::write(const void* data, size_t size) {
    checkRoom(size);
    bytes_.append(data, size);
    return size;
}

std::uint32_t DataPool20::addString(std::string_view s) {
    s = s.substr(0, std::min(s.size(), s.find('\0')));
    indexNewRuns();
    const std::uint32_t found = find(keyOf(s));
    if (found != kEmpty) {
        if (standsAt(found, s)) return found;
        const std::uint32_t offset = scan(s);
        if (offset != kEmpty) return offset;
    }
    static const std::uint8_t nul = 0;
    checkRoom(s.size() + 1);
    const std::uint32_t offset = size();
    write(s.data(), s.size());
    write(&nul, 1);
    return offset;
}

void DataPool20::indexNewRuns() {
    const std::uint8_t* data = bytes_.data();
    const size_t end = bytes_.size();
    for (size_t nul = indexedEnd_; nul < end; ++nul) {
        if (data[nul] != 0) continue;
        // A run adds at most one entry per byte and its NUL.
        while (2 * (used_ + (nul + 1 - indexedEnd_)) > slots_.size()) grow();
        indexRun(indexedEnd_, nul);
        indexedEnd_ = nul + 1;
    }
}

// Every string that stands at `nul` with its NUL is a suffix of the run
// [start, nul).
void DataPool20::indexRun(std::size_t start, std::size_t nul) {
    const std::uint8_t* data = bytes_.data();
    std::uint64_t key = kEmptyKey;
    for (size_t offset = nul;; --offset) {
        if (offset != nul) key = prependByte(key, data[offset]);
        remember(key, static_cast<std::uint32_t>(offset));
        if (offset == start) break;
    }
}

void DataPool20::grow() {
    const std::size_t capacity = slots_.empty() ? kFirstCapacity : 2 * slots_.size();
    slots_.assign(capacity, kEmptySlot);
    shift_ = 64 - std::countr_zero(capacity);
    used_ = 0;
    const std::uint8_t* data = bytes_.data();
    size_t start = 0;
    for (size_t nul = 0; nul < indexedEnd_; ++nul) {
        if (data[nul] != 0) continue;
        indexRun(start, nul);
        start = nul + 1;
    }
}

void DataPool20::remember(std::uint64_t key, std::uint32_t offset) {
    const std::uint32_t fragment = std::uint32_t(key);
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = std::size_t(key >> shift_);; i = (i + 1) & mask) {
        std::uint64_t& slot = slots_[i];
        if (slot == kEmptySlot) {
            slot = std::uint64_t(fragment) << 32 | offset;
            ++used_;
            return;
        }
        if (fragmentOf(slot) == fragment) {
            if (offset < offsetOf(slot)) slot = std::uint64_t(fragment) << 32 | offset;
            return;
        }
    }
}

std::uint32_t DataPool20::find(std::uint64_t key) const {
    if (slots_.empty()) return kEmpty;
    const std::uint32_t fragment = std::uint32_t(key);
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = std::size_t(key >> shift_);; i = (i + 1) & mask) {
        const std::uint64_t slot = slots_[i];
        if (slot == kEmptySlot) return kEmpty;
        if (fragmentOf(slot) == fragment) return offsetOf(slot);
    }
}

bool DataPool20::standsAt(std::uint32_t offset, std::string_view s) const {
    const std::size_t total = bytes_.size();
    if (offset > total || total - offset < s.size() + 1) return false;
    const std::uint8_t* at = bytes_.data() + offset;
    return std::memcmp(at, s.data(), s.size()) == 0 && at[s.size()] == 0;
}

std::uint32_t DataPool20::scan(std::string_view s) const {
    const std::uint8_t* begin = bytes_.data();
    const std::uint8_t* end = begin + bytes_.size();
    for (const std::uint8_t* nul = std::find(begin, end, 0); nul != end; nul = std::find(nul + 1, end, 0)) {
        const size_t before = size_t(nul - begin);
        if (before >= s.size() && standsAt(std::uint32_t(before - s.size()), s))
            return std::uint32_t(before - s.size());
    }
    return kEmpty;
}

}  // namespace model
