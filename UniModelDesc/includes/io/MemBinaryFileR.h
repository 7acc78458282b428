#pragma once
// model::MemBinaryFileR: reads back bytes written by model::MemBinaryFileW.
//
// Contract: owns a copy of the bytes and of the string table (the strings in
// pool index order). read() copies from the current position and returns the
// count copied (short at the end). seek() accepts any position; reading past
// the end delivers 0 bytes. readString() reads a u32 pool index and returns
// that table entry; an index outside the table throws std::out_of_range.
// isOpen() is always true; getName() is "buffer".

#include <cstdint>
#include <string>
#include <vector>

#include "io/IBinaryFileR.h"

namespace model {

class MemBinaryFileR final : public io::IBinaryFileR {
public:
    explicit MemBinaryFileR(std::vector<uint8_t> bytes, std::vector<std::string> strings = {});

    bool isOpen() const override { return true; }
    size_t read(void* data, size_t size) override;
    void seek(uint64_t position) override { this->position = position; }
    uint64_t tell() const override { return position; }
    std::string getName() const override { return "buffer"; }
    std::string readString() override;

private:
    std::vector<uint8_t> bytes;
    std::vector<std::string> strings;
    uint64_t position = 0;
};

}  // namespace model
