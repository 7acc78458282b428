#pragma once
// Little-endian primitive readers, the counterpart of qzvfs::FileHelpersW.
//
// Contract: a CRTP mix-in. Derived must provide
//     size_t read(void* data, size_t size);
// returning the number of bytes it delivered. Each helper calls read exactly
// once (readBytes fills a caller's buffer under the same check) and
// assembles integers and floats from bytes lowest first. Running out of bytes
// is a hard error: qz::ExtException ("Short read ..."), so a helper never
// returns a value made of bytes that were not there. readBlobN fills an
// object with its in-memory image (little-endian hosts only).

#include <bit>
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include <fmt/format.h>

#include "qz/ExtException.h"

namespace qzvfs {

template <class Derived>
class FileHelpersR {
public:
    void readBytes(void* data, size_t size) { take(data, size); }

    uint8_t readU8() {
        uint8_t b;
        take(&b, 1);
        return b;
    }

    uint16_t readU16() {
        uint8_t b[2];
        take(b, sizeof b);
        return uint16_t(b[0] | (b[1] << 8));
    }

    uint32_t readU32() {
        uint8_t b[4];
        take(b, sizeof b);
        uint32_t v = 0;
        for (int i = 3; i >= 0; --i) v = (v << 8) | b[i];
        return v;
    }

    uint64_t readU64() {
        uint8_t b[8];
        take(b, sizeof b);
        uint64_t v = 0;
        for (int i = 7; i >= 0; --i) v = (v << 8) | b[i];
        return v;
    }

    float readFloat() { return std::bit_cast<float>(readU32()); }
    double readDouble() { return std::bit_cast<double>(readU64()); }

    template <class T> void readBlob8(T& v) { blob<8>(v); }
    template <class T> void readBlob12(T& v) { blob<12>(v); }
    template <class T> void readBlob16(T& v) { blob<16>(v); }
    template <class T> void readBlob24(T& v) { blob<24>(v); }
    template <class T> void readBlob32(T& v) { blob<32>(v); }
    template <class T> void readBlob64(T& v) { blob<64>(v); }
    template <class T> void readBlob128(T& v) { blob<128>(v); }

protected:
    ~FileHelpersR() = default;

private:
    template <size_t N, class T>
    void blob(T& v) {
        static_assert(sizeof(T) == N, "blob width must match the object's size");
        static_assert(std::is_trivially_copyable_v<T>, "blob needs a plain object");
        static_assert(std::endian::native == std::endian::little,
                      "memory images are only the file encoding on little-endian hosts");
        take(&v, N);
    }

    void take(void* data, size_t size) {
        const size_t got = static_cast<Derived*>(this)->read(data, size);
        if (got != size)
            QZ_THROW(fmt::format("Short read: {} of {} bytes available", got, size));
    }
};

}  // namespace qzvfs
