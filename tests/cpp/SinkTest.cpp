#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "io/IBinaryFileW.h"
#include "io/MemBinaryFileW.h"
#include "qz/ExtException.h"
#include "qzvfs/MemWriter.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A sink that stores at most `limit` bytes per call, like a full disk.
struct StingySink final : io::IBinaryFileW {
    explicit StingySink(size_t limit) : limit(limit) {}
    bool isOpen() const override { return true; }
    size_t write(const void*, size_t size) override { return size < limit ? size : limit; }
    void seek(uint64_t) override {}
    uint64_t tell() const override { return 0; }
    std::string getName() const override { return "stingy"; }
    size_t limit;
};

struct PrimitiveCase {
    const char* name;
    void (*fill)(io::IBinaryFileW&);
    Bytes expected;
};

class SinkPrimitiveBytes : public ::testing::TestWithParam<PrimitiveCase> {};

TEST_P(SinkPrimitiveBytes, WritesLittleEndianLowestByteFirst) {
    model::MemBinaryFileW sink;
    GetParam().fill(sink);
    EXPECT_EQ(sink.getData(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    SinkAllWidths, SinkPrimitiveBytes,
    ::testing::Values(
        PrimitiveCase{"u8", [](io::IBinaryFileW& w) { w.writeU8(0xAB); }, {0xAB}},
        PrimitiveCase{"u16", [](io::IBinaryFileW& w) { w.writeU16(0x1234); }, {0x34, 0x12}},
        PrimitiveCase{"u32", [](io::IBinaryFileW& w) { w.writeU32(0xDEADBEEF); }, {0xEF, 0xBE, 0xAD, 0xDE}},
        PrimitiveCase{"u64", [](io::IBinaryFileW& w) { w.writeU64(0x0102030405060708ull); },
                      {8, 7, 6, 5, 4, 3, 2, 1}},
        PrimitiveCase{"f32", [](io::IBinaryFileW& w) { w.writeFloat(1.0f); }, {0x00, 0x00, 0x80, 0x3F}},
        PrimitiveCase{"f64", [](io::IBinaryFileW& w) { w.writeDouble(1.0); },
                      {0, 0, 0, 0, 0, 0, 0xF0, 0x3F}},
        PrimitiveCase{"baseString", [](io::IBinaryFileW& w) { w.io::IBinaryFileW::writeString("ab"); },
                      {2, 0, 0, 0, 'a', 'b'}}),
    [](const auto& info) { return std::string(info.param.name); });

struct Refusal {
    const char* name;
    void (*call)();
};

class SinkRefusal : public ::testing::TestWithParam<Refusal> {};

TEST_P(SinkRefusal, ThrowsInsteadOfWritingOrInventingBytes) {
    EXPECT_THROW(GetParam().call(), qz::ExtException);
}

INSTANTIATE_TEST_SUITE_P(
    Sink, SinkRefusal,
    ::testing::Values(
        Refusal{"ShortWrite", [] { StingySink(2).writeU32(7); }},
        Refusal{"FullSink", [] { StingySink(0).writeBytes("x", 1); }},
        Refusal{"StringWithEmbeddedNul", [] { model::MemBinaryFileW().writeString(std::string("a\0b", 3)); }},
        Refusal{"MemWriterAfterClose",
                [] {
                    qzvfs::MemWriter file(std::make_shared<qzvfs::MemBuffer>());
                    file.close();
                    file.writeU8(1);
                }}),
    [](const auto& info) { return std::string(info.param.name); });

// Two blocks of 1 MiB written through writeShared between bytes of the
// sink's own, and a block 1 byte short of that size.
TEST(MemSink, HeldBlockComesOutElsewhereThanWhereItWasWritten) {
    const auto big = [](uint8_t fill, size_t size) { return std::make_shared<const Bytes>(size, fill); };
    const auto first = big(1, model::MemBinaryFileW::kShareFrom), second = big(2, model::MemBinaryFileW::kShareFrom);
    const auto small = big(3, model::MemBinaryFileW::kShareFrom - 1);
    for (const bool holding : {false, true}) {
        model::MemBinaryFileW sink;
        if (holding) sink.holdLargeBlocks();
        sink.writeU8(0xA0);
        sink.writeShared(*first, first);
        sink.writeShared(*small, small);
        sink.writeShared(*second, second);
        sink.writeU16(0xB1B2);
        Bytes expected{0xA0};
        for (const auto& block : {first, small, second}) expected.insert(expected.end(), block->begin(), block->end());
        expected.insert(expected.end(), {0xB2, 0xB1});
        EXPECT_EQ(sink.getData().size(), holding ? 3 + small->size() : expected.size());

        sink.seek(0);
        if (holding) {
            EXPECT_THROW(sink.writeU8(0), std::logic_error);
        }
        sink.seek(sink.getData().size());
        Bytes joined;
        size_t heldPieces = 0;
        for (const model::FilePiece& piece : sink.takePieces()) {
            joined.insert(joined.end(), piece.bytes.begin(), piece.bytes.end());
            heldPieces += piece.keeper == first || piece.keeper == second;
        }
        EXPECT_EQ(joined, expected);
        EXPECT_EQ(heldPieces, holding ? 2u : 0u);
    }
}

}  // namespace
