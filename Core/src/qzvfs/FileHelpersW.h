#pragma once
// Little-endian primitive writers shared by every byte sink (model sinks and
// file system files).
//
// Contract: a CRTP mix-in. Derived must provide
//     size_t write(const void* data, size_t size);
// returning the number of bytes it stored. Each helper calls write exactly
// once (writeBytes passes raw bytes through the same check); integers and
// floats are split into bytes lowest first, so the output does not depend on
// the host's byte order. A write that stores fewer bytes than asked for is a
// hard error: qz::ExtException ("Short write ...").
// The array writers (writeU8s ... writeFloats) store a whole span in one
// write on a little-endian host, where the memory image is the encoding, and
// element by element elsewhere.
// The writeBlobN helpers copy an object's bytes as they lie in memory (float
// and double vectors, matrices); they require a little-endian host, where the
// memory image already is the file encoding.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>
#include <type_traits>

#include <fmt/format.h>

#include "qz/ExtException.h"

namespace qzvfs {

template <class Derived>
class FileHelpersW {
public:
    void writeBytes(const void* data, size_t size) { put(data, size); }

    void writeU8(uint8_t v) { put(&v, 1); }

    void writeU16(uint16_t v) {
        const uint8_t b[2] = {uint8_t(v), uint8_t(v >> 8)};
        put(b, sizeof b);
    }

    void writeU32(uint32_t v) {
        uint8_t b[4];
        for (int i = 0; i < 4; ++i) b[i] = uint8_t(v >> (8 * i));
        put(b, sizeof b);
    }

    void writeU64(uint64_t v) {
        uint8_t b[8];
        for (int i = 0; i < 8; ++i) b[i] = uint8_t(v >> (8 * i));
        put(b, sizeof b);
    }

    void writeFloat(float v) { writeU32(std::bit_cast<uint32_t>(v)); }
    void writeDouble(double v) { writeU64(std::bit_cast<uint64_t>(v)); }

    void writeU8s(std::span<const uint8_t> v) { put(v.data(), v.size_bytes()); }
    void writeU16s(std::span<const uint16_t> v) { array(v); }
    void writeU32s(std::span<const uint32_t> v) { array(v); }
    void writeFloats(std::span<const float> v) { array(v); }

    template <class T> void writeBlob8(const T& v) { blob<8>(v); }
    template <class T> void writeBlob12(const T& v) { blob<12>(v); }
    template <class T> void writeBlob16(const T& v) { blob<16>(v); }
    template <class T> void writeBlob24(const T& v) { blob<24>(v); }
    template <class T> void writeBlob32(const T& v) { blob<32>(v); }
    template <class T> void writeBlob64(const T& v) { blob<64>(v); }
    template <class T> void writeBlob128(const T& v) { blob<128>(v); }

protected:
    ~FileHelpersW() = default;

private:
    template <size_t N, class T>
    void blob(const T& v) {
        static_assert(sizeof(T) == N, "blob width must match the object's size");
        static_assert(std::is_trivially_copyable_v<T>, "blob needs a plain object");
        static_assert(std::endian::native == std::endian::little,
                      "memory images are only the file encoding on little-endian hosts");
        put(&v, N);
    }

    template <class T>
    void array(std::span<const T> v) {
        if constexpr (std::endian::native == std::endian::little) {
            put(v.data(), v.size_bytes());
        } else {
            for (T x : v) {
                if constexpr (sizeof(T) == 2) writeU16(x);
                else writeU32(std::bit_cast<uint32_t>(x));
            }
        }
    }

    void put(const void* data, size_t size) {
        const size_t stored = static_cast<Derived*>(this)->write(data, size);
        if (stored != size)
            QZ_THROW(fmt::format("Short write: {} of {} bytes stored", stored, size));
    }
};

}  // namespace qzvfs
