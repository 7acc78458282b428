// Bounds-checked arrays, the library exception and out-of-memory reporting.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "CoreTestSupport.h"
#include "qz/Array.h"
#include "qz/ExtException.h"
#include "qz/Memory.h"

namespace {

class ArrayBadIndex : public ::testing::TestWithParam<std::size_t> {};

// Negative indices converted to size_t are huge; they must not wrap into the array.
TEST_P(ArrayBadIndex, IndexAtOrPastEndThrowsOutOfRangeAndWritesNothing) {
    qz::array<int, 4> values{1, 2, 3, 4};
    const auto& constValues = values;
    for (const auto& access : std::vector<std::function<void()>>{
             [&] { (void)values[GetParam()]; }, [&] { (void)constValues[GetParam()]; },
             [&] { (void)values.at(GetParam()); }, [&] { (void)constValues.at(GetParam()); }}) {
        EXPECT_EQ(coretest::messageOf<std::out_of_range>(access), "qz::array: index out of range");
    }
    EXPECT_EQ(values, (qz::array<int, 4>{1, 2, 3, 4}));
}

INSTANTIATE_TEST_SUITE_P(Array, ArrayBadIndex,
                         ::testing::Values(std::size_t{4}, std::size_t{1} << 40, static_cast<std::size_t>(-1)));

TEST(CoreException, ThrowMacroRecordsMessageAndProjectRelativeSite) {
    const int expectedLine = __LINE__ + 2;
    try {
        QZ_THROW(std::string(300, 'm'));
    } catch (const qz::ExtException& error) {
        EXPECT_EQ(std::string(error.what()), std::string(300, 'm'));
        EXPECT_EQ(error.line(), expectedLine);
        EXPECT_EQ(error.file(), "tests/cpp/CoreTest.cpp");
    }
}

// Beyond what the heap can ever hand out; hidden from the compiler.
std::size_t impossibleSize() {
    static volatile std::size_t size = static_cast<std::size_t>(PTRDIFF_MAX) - 4095;
    return size;
}

class MemoryOutOfMemory : public ::testing::Test {
protected:
    void SetUp() override {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
        GTEST_SKIP() << "the sanitizer allocator aborts instead of failing";
#endif
        qz::resetOutOfMemoryFlagForTests();
    }
    void TearDown() override { qz::resetOutOfMemoryFlagForTests(); }
    coretest::LogCapture capture;
};

TEST_F(MemoryOutOfMemory, FirstFailureIsAlertLaterOnesErrorAndFailedReallocKeepsTheBlock) {
    const std::string size = std::to_string(impossibleSize());
    EXPECT_THROW(qz::malloc(impossibleSize()), std::bad_alloc);
    auto* block = static_cast<char*>(qz::malloc(16));
    std::memcpy(block, "keep this text!", 16);
    EXPECT_THROW(qz::realloc(block, impossibleSize()), std::bad_alloc);
    EXPECT_STREQ(block, "keep this text!");
    qz::free(block);
    const auto lines = capture.lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].level, qz::LOG_ALERT);
    EXPECT_EQ(lines[1].level, qz::LOG_ERROR);
    EXPECT_NE(lines[0].line.find(" ALERT   QZCORESTATIC ("), std::string::npos);
    EXPECT_EQ(capture.texts(), (std::vector<std::string>{"Out of memory in qz_malloc for " + size + " bytes.",
                                                         "More out of memory in qz_realloc for " + size + " bytes."}));
}

TEST_F(MemoryOutOfMemory, ThreadsFailingTogetherWriteExactlyOneAlert) {
    constexpr int kThreads = 8;
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i)
        threads.emplace_back([&ready, i] {
            ready.fetch_add(1);
            while (ready.load() < kThreads) std::this_thread::yield();
            qz::reportOutOfMemory("qz_malloc", 100 + i);
        });
    for (auto& thread : threads) thread.join();
    int alerts = 0;
    for (const auto& line : capture.lines()) alerts += line.level == qz::LOG_ALERT;
    EXPECT_EQ(alerts, 1);
    EXPECT_EQ(capture.lines().size(), std::size_t{kThreads});
}

// The system allocator may answer a zero-byte request with null; that is no exhaustion.
TEST_F(MemoryOutOfMemory, ZeroByteRequestsAreNotReportedAsExhaustion) {
    void* block = qz::realloc(qz::malloc(0), 0);
    EXPECT_NE(block, nullptr);
    qz::free(block);
    EXPECT_TRUE(capture.lines().empty());
}

}  // namespace
