#pragma once
// Byte sink/source pair for model-object tests: strings use the plain
// length-prefixed encoding of the io base classes, so expected bytes can be
// spelled out by hand with Bytes.

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "io/IBinaryFileR.h"
#include "io/IBinaryFileW.h"

namespace modeltest {

class ByteSink final : public io::IBinaryFileW {
public:
    bool isOpen() const override { return true; }
    size_t write(const void* data, size_t size) override {
        const auto* p = static_cast<const uint8_t*>(data);
        bytes.insert(bytes.end(), p, p + size);
        return size;
    }
    void seek(uint64_t) override {}
    uint64_t tell() const override { return bytes.size(); }
    std::string getName() const override { return "test"; }

    std::vector<uint8_t> bytes;
};

class ByteSource final : public io::IBinaryFileR {
public:
    explicit ByteSource(std::vector<uint8_t> b) : bytes(std::move(b)) {}
    bool isOpen() const override { return true; }
    size_t read(void* data, size_t size) override {
        const size_t n = pos < bytes.size() ? std::min(size, bytes.size() - pos) : 0;
        std::memcpy(data, bytes.data() + pos, n);
        pos += n;
        return n;
    }
    void seek(uint64_t p) override { pos = p; }
    uint64_t tell() const override { return pos; }
    std::string getName() const override { return "test"; }

    std::vector<uint8_t> bytes;
    size_t pos = 0;
};

// Hand-built expected bytes, little-endian.
struct Bytes {
    std::vector<uint8_t> v;
    Bytes& u8(uint8_t x) {
        v.push_back(x);
        return *this;
    }
    Bytes& u32(uint32_t x) {
        for (int i = 0; i < 4; ++i) v.push_back(uint8_t(x >> (8 * i)));
        return *this;
    }
    Bytes& f32(float f) {
        uint32_t x;
        std::memcpy(&x, &f, 4);
        return u32(x);
    }
    Bytes& f64(double d) {
        uint64_t x;
        std::memcpy(&x, &d, 8);
        for (int i = 0; i < 8; ++i) v.push_back(uint8_t(x >> (8 * i)));
        return *this;
    }
    Bytes& str(const std::string& s) {
        u32(uint32_t(s.size()));
        v.insert(v.end(), s.begin(), s.end());
        return *this;
    }
    Bytes& raw(std::initializer_list<uint8_t> b) {
        v.insert(v.end(), b);
        return *this;
    }
};

}  // namespace modeltest
