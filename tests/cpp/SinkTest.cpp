#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "io/IBinaryFileW.h"
#include "io/MemBinaryFileR.h"
#include "io/MemBinaryFileW.h"
#include "qz/ExtException.h"
#include "qzvfs/MemWriter.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A sink that stores at most `limit` bytes per call, like a full disk.
class StingySink final : public io::IBinaryFileW {
public:
    explicit StingySink(size_t limit) : limit(limit) {}
    bool isOpen() const override { return true; }
    size_t write(const void* data, size_t size) override {
        const size_t n = size < limit ? size : limit;
        const auto* p = static_cast<const uint8_t*>(data);
        bytes.insert(bytes.end(), p, p + n);
        return n;
    }
    void seek(uint64_t) override {}
    uint64_t tell() const override { return bytes.size(); }
    std::string getName() const override { return "stingy"; }
    Bytes bytes;
    size_t limit;
};

Bytes written(void (*fill)(io::IBinaryFileW&)) {
    model::MemBinaryFileW sink;
    fill(sink);
    return sink.getData();
}

struct PrimitiveCase {
    const char* name;
    void (*fill)(io::IBinaryFileW&);
    Bytes expected;
};

class SinkPrimitiveBytes : public ::testing::TestWithParam<PrimitiveCase> {};

TEST_P(SinkPrimitiveBytes, WritesLittleEndianLowestByteFirst) {
    EXPECT_EQ(written(GetParam().fill), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    SinkAllWidths, SinkPrimitiveBytes,
    ::testing::Values(
        PrimitiveCase{"u8", [](io::IBinaryFileW& w) { w.writeU8(0xAB); }, {0xAB}},
        PrimitiveCase{"u16", [](io::IBinaryFileW& w) { w.writeU16(0x1234); }, {0x34, 0x12}},
        PrimitiveCase{"u32one", [](io::IBinaryFileW& w) { w.writeU32(1); }, {1, 0, 0, 0}},
        PrimitiveCase{"u32", [](io::IBinaryFileW& w) { w.writeU32(0xDEADBEEF); }, {0xEF, 0xBE, 0xAD, 0xDE}},
        PrimitiveCase{"u64", [](io::IBinaryFileW& w) { w.writeU64(0x0102030405060708ull); },
                      {8, 7, 6, 5, 4, 3, 2, 1}},
        PrimitiveCase{"f32", [](io::IBinaryFileW& w) { w.writeFloat(1.0f); }, {0x00, 0x00, 0x80, 0x3F}},
        PrimitiveCase{"f32neg", [](io::IBinaryFileW& w) { w.writeFloat(-2.5f); }, {0x00, 0x00, 0x20, 0xC0}},
        PrimitiveCase{"f64", [](io::IBinaryFileW& w) { w.writeDouble(1.0); },
                      {0, 0, 0, 0, 0, 0, 0xF0, 0x3F}},
        PrimitiveCase{"blob12", [](io::IBinaryFileW& w) {
                          const float v[3] = {1.0f, 0.0f, -2.5f};
                          w.writeBlob12(v);
                      },
                      {0, 0, 0x80, 0x3F, 0, 0, 0, 0, 0, 0, 0x20, 0xC0}},
        PrimitiveCase{"baseString", [](io::IBinaryFileW& w) { w.io::IBinaryFileW::writeString("ab"); },
                      {2, 0, 0, 0, 'a', 'b'}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SinkPrimitive, ShortWriteIsAHardError) {
    StingySink sink(2);
    EXPECT_THROW(sink.writeU32(7), qz::ExtException);
    StingySink full(0);
    EXPECT_THROW(full.writeU8(7), qz::ExtException);
    EXPECT_THROW(full.writeBytes("x", 1), qz::ExtException);
}

TEST(SinkPrimitive, ReadersDecodeWhatWritersWrote) {
    model::MemBinaryFileW w;
    w.writeU8(0xFE);
    w.writeU16(0xBEEF);
    w.writeU32(0x89ABCDEF);
    w.writeU64(0xFEDCBA9876543210ull);
    w.writeFloat(-0.15625f);
    w.writeDouble(3.25);
    model::MemBinaryFileR r(w.getData());
    EXPECT_EQ(r.readU8(), 0xFE);
    EXPECT_EQ(r.readU16(), 0xBEEF);
    EXPECT_EQ(r.readU32(), 0x89ABCDEFu);
    EXPECT_EQ(r.readU64(), 0xFEDCBA9876543210ull);
    EXPECT_EQ(r.readFloat(), -0.15625f);
    EXPECT_EQ(r.readDouble(), 3.25);
}

TEST(SinkPrimitive, ReadingPastTheEndThrowsInsteadOfInventingBytes) {
    model::MemBinaryFileR r(Bytes{1, 2, 3});
    EXPECT_THROW(r.readU32(), qz::ExtException);
    model::MemBinaryFileR empty(Bytes{});
    EXPECT_THROW(empty.readU8(), qz::ExtException);
}

TEST(SinkPrimitive, BaseReadStringRefusesALengthBeyondTheData) {
    model::MemBinaryFileR r(Bytes{0xFF, 0xFF, 0xFF, 0xFF, 'a'});
    EXPECT_THROW(r.io::IBinaryFileR::readString(), qz::ExtException);
}

TEST(SinkMemBinaryFileW, WriteAtOffset5Of13InsertsAndMovesTheTailUp) {
    model::MemBinaryFileW sink;
    Bytes original(13);
    for (size_t i = 0; i < original.size(); ++i) original[i] = uint8_t(0x10 + i);
    EXPECT_EQ(sink.write(original.data(), original.size()), 13u);
    sink.seek(5);
    const uint8_t inserted[4] = {0xA0, 0xA1, 0xA2, 0xA3};
    EXPECT_EQ(sink.write(inserted, 4), 4u);

    const Bytes expected = {0x10, 0x11, 0x12, 0x13, 0x14, 0xA0, 0xA1, 0xA2, 0xA3,
                            0x15, 0x16, 0x17, 0x18, 0x19, 0x1A, 0x1B, 0x1C};
    EXPECT_EQ(sink.getData(), expected);
    EXPECT_EQ(sink.tell(), 9u);
}

TEST(SinkMemBinaryFileW, WriteAfterSeekPastTheEndThrowsAndStoresNothing) {
    model::MemBinaryFileW sink;
    sink.writeU32(1);
    sink.seek(100);
    EXPECT_THROW(sink.writeU8(9), std::out_of_range);
    EXPECT_EQ(sink.getData(), (Bytes{1, 0, 0, 0}));
}

TEST(SinkMemBinaryFileW, GrowsPastItsInitialReserveWithoutLosingBytes) {
    model::MemBinaryFileW sink;
    for (uint32_t i = 0; i < 5000; ++i) sink.writeU32(i);
    ASSERT_EQ(sink.getData().size(), 20000u);
    model::MemBinaryFileR r(sink.getData());
    for (uint32_t i = 0; i < 5000; ++i) ASSERT_EQ(r.readU32(), i);
}

TEST(SinkMemBinaryFileW, SameStringTwiceWritesTheSameIndexAndPoolsItOnce) {
    model::MemBinaryFileW sink;
    sink.writeString("model::Node");
    sink.writeString("");
    sink.writeString("model::Node");
    EXPECT_EQ(sink.getData(), (Bytes{0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0}));
    Bytes table;
    sink.getStrings().serialize(table);
    const std::string expected("model::Node\0\0", 13);
    EXPECT_EQ(std::string(table.begin(), table.end()), expected);
    EXPECT_EQ(sink.getName(), "buffer");
    EXPECT_TRUE(sink.isOpen());
}

TEST(SinkMemBinaryFileW, StringWithEmbeddedNulIsRefusedNotTruncated) {
    model::MemBinaryFileW sink;
    EXPECT_THROW(sink.writeString(std::string("a\0b", 3)), qz::ExtException);
    EXPECT_TRUE(sink.getData().empty());
}

TEST(SinkMemBinaryFileR, StringIndexOutsideTheTableIsOutOfRange) {
    model::MemBinaryFileR r(Bytes{1, 0, 0, 0, 0, 0, 0, 0}, {"only"});
    EXPECT_THROW(r.readString(), std::out_of_range);
    EXPECT_EQ(r.readString(), "only");
}

TEST(SinkMemWriter, AppendsToTheSharedBufferWhateverTheSeek) {
    auto buffer = std::make_shared<qzvfs::MemBuffer>();
    qzvfs::MemWriter file(buffer);
    file.writeU16(0x0102);
    EXPECT_FALSE(file.seek(0));
    file.writeU8(3);
    EXPECT_TRUE(file.seek(3));
    EXPECT_EQ(buffer->bytes(), (Bytes{2, 1, 3}));
    EXPECT_EQ(file.size(), 3);
    EXPECT_EQ(file.tell(), 3);
    EXPECT_EQ(file.getPath(), "qzvfs::MemWriter");
    EXPECT_EQ(file.getBuffer(), buffer);
}

TEST(SinkMemWriter, AfterCloseWritesFailAndTheBufferOutlivesTheFile) {
    auto buffer = std::make_shared<qzvfs::MemBuffer>();
    qzvfs::MemWriter file(buffer);
    file.writeU8(7);
    file.close();
    EXPECT_EQ(file.write("x", 1), 0u);
    EXPECT_THROW(file.writeU8(1), qz::ExtException);
    EXPECT_EQ(file.getBuffer(), nullptr);
    EXPECT_EQ(file.size(), -1);
    EXPECT_EQ(buffer->bytes(), (Bytes{7}));
}

TEST(SinkMemWriter, NullBufferIsRefused) {
    EXPECT_THROW(qzvfs::MemWriter(nullptr), qz::ExtException);
}

TEST(SinkMemWriter, ReadingAWriterDeliversNothing) {
    qzvfs::MemWriter file(std::make_shared<qzvfs::MemBuffer>());
    file.writeU32(5);
    EXPECT_THROW(file.readU8(), qz::ExtException);
}

}  // namespace
