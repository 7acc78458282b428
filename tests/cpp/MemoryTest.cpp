#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <sys/mman.h>

#include "CoreLogCapture.h"
#include "qz/Memory.h"
#include "qz/TextBuffer.h"

namespace {

// Beyond what the heap can ever hand out; kept out of the compiler's sight so
// it cannot reason about the failing call.
std::size_t impossibleSize() {
    static volatile std::size_t size = static_cast<std::size_t>(PTRDIFF_MAX) - 4095;
    return size;
}

bool sanitizerAllocator() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return true;
#else
    return false;
#endif
}

#define SKIP_UNDER_SANITIZER_ALLOCATOR() \
    if (sanitizerAllocator()) GTEST_SKIP() << "the sanitizer allocator aborts instead of failing"

class MemoryOutOfMemory : public ::testing::Test {
protected:
    void SetUp() override { qz::resetOutOfMemoryFlagForTests(); }
    void TearDown() override { qz::resetOutOfMemoryFlagForTests(); }
    coretest::LogCapture capture;
};

TEST_F(MemoryOutOfMemory, FirstFailureIsAlertLaterOnesAreErrorAndBothThrow) {
    SKIP_UNDER_SANITIZER_ALLOCATOR();
    const long long size = static_cast<long long>(impossibleSize());
    EXPECT_THROW(qz::malloc(impossibleSize()), std::bad_alloc);
    EXPECT_THROW(qz::malloc(impossibleSize()), std::bad_alloc);

    const auto lines = capture.lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].level, qz::LOG_ALERT);
    EXPECT_EQ(lines[1].level, qz::LOG_ERROR);
    const std::regex alert(R"(^\S+ \S+ ALERT   QZCORESTATIC \([^)]+\): Out of memory in qz_malloc for )" +
                           std::to_string(size) + R"( bytes\.\n$)");
    const std::regex error(R"(^\S+ \S+ ERROR   QZCORESTATIC \([^)]+\): More out of memory in qz_malloc for )" +
                           std::to_string(size) + R"( bytes\.\n$)");
    EXPECT_TRUE(std::regex_match(lines[0].line, alert)) << lines[0].line;
    EXPECT_TRUE(std::regex_match(lines[1].line, error)) << lines[1].line;
}

TEST_F(MemoryOutOfMemory, FailedReallocReportsItsTagAndLeavesOldBlockIntact) {
    SKIP_UNDER_SANITIZER_ALLOCATOR();
    auto* block = static_cast<char*>(qz::malloc(16));
    std::memcpy(block, "keep this text!", 16);
    EXPECT_THROW(qz::realloc(block, impossibleSize()), std::bad_alloc);
    EXPECT_STREQ(block, "keep this text!");
    qz::free(block);
    EXPECT_EQ(capture.texts(), std::vector<std::string>{"Out of memory in qz_realloc for " +
                                                        std::to_string(impossibleSize()) +
                                                        " bytes.\n"});
}

TEST_F(MemoryOutOfMemory, ThreadsFailingTogetherWriteExactlyOneAlert) {
    constexpr int kThreads = 8;
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&ready, i] {
            ready.fetch_add(1);
            while (ready.load() < kThreads) {
            }
            qz::reportOutOfMemory("qz_malloc", 100 + i);
        });
    }
    for (auto& thread : threads) thread.join();
    int alerts = 0, errors = 0;
    for (const auto& line : capture.lines()) {
        alerts += line.level == qz::LOG_ALERT;
        errors += line.level == qz::LOG_ERROR;
    }
    EXPECT_EQ(alerts, 1);
    EXPECT_EQ(errors, kThreads - 1);
}

// The system allocator may answer a zero-byte request with null; that must
// not be mistaken for exhaustion.
TEST(Memory, ZeroByteRequestsAreNotReportedAsExhaustion) {
    qz::resetOutOfMemoryFlagForTests();
    coretest::LogCapture capture;
    void* block = qz::malloc(0);
    EXPECT_NE(block, nullptr);
    block = qz::realloc(block, 0);
    EXPECT_NE(block, nullptr);
    qz::free(block);
    qz::free(nullptr);
    EXPECT_TRUE(capture.lines().empty());
}

struct GrowthCase {
    std::size_t capacityBefore;  // length of a first text that sets it, or 0
    std::size_t length;
    std::size_t expectedCapacity;
};

class MemoryTextBufferGrowth : public ::testing::TestWithParam<GrowthCase> {};

TEST_P(MemoryTextBufferGrowth, CapacityFollowsOnePointEightRule) {
    const GrowthCase c = GetParam();
    qz::TextBuffer buffer;
    if (c.capacityBefore) buffer.assign(std::string(c.capacityBefore, 'x'));
    const std::string text(c.length, 'y');
    buffer.assign(text);
    EXPECT_EQ(buffer.capacity(), c.expectedCapacity);
    EXPECT_EQ(buffer.view(), text);
    EXPECT_EQ(buffer.c_str()[c.length], '\0');
}

INSTANTIATE_TEST_SUITE_P(
    Memory, MemoryTextBufferGrowth,
    ::testing::Values(GrowthCase{0, 0, 1},           // empty text still needs its zero
                      GrowthCase{0, 10, 19},         // 10 * 1.8 + 1
                      GrowthCase{10, 18, 19},        // fits: capacity is kept
                      GrowthCase{10, 19, 35},        // 19 * 1.8 + 1 = 35.2
                      GrowthCase{10, 2, 19},         // shrinking keeps capacity
                      GrowthCase{0, 1000000, 1800001}));

TEST(Memory, TextBufferAssignFromItsOwnContents) {
    qz::TextBuffer buffer;
    buffer.assign("abcdef");
    buffer.assign(buffer.view().substr(2));
    EXPECT_STREQ(buffer.c_str(), "cdef");
    EXPECT_EQ(buffer.size(), 4u);
}

}  // namespace

namespace {

// The VmFlags line of the /proc/self/smaps mapping that holds `address`.
std::string mappingFlags(const void* address) {
    std::FILE* smaps = std::fopen("/proc/self/smaps", "r");
    if (!smaps) return {};
    const auto at = reinterpret_cast<std::uintptr_t>(address);
    bool inside = false;
    std::string flags;
    char line[512];
    while (std::fgets(line, sizeof line, smaps)) {
        unsigned long long from = 0, to = 0;
        if (std::sscanf(line, "%llx-%llx ", &from, &to) == 2 && std::strchr(line, '-') < std::strchr(line, ' ')) {
            inside = at >= from && at < to;
        } else if (inside && std::strncmp(line, "VmFlags:", 8) == 0) {
            flags = line + 8;
            break;
        }
    }
    std::fclose(smaps);
    return flags;
}

}  // namespace

TEST(MemoryHugePages, AdviceCoversTheWholeHugePagesOfABigBuffer) {
    std::FILE* thp = std::fopen("/sys/kernel/mm/transparent_hugepage/enabled", "r");
    if (!thp) GTEST_SKIP() << "no transparent huge pages here";
    std::fclose(thp);
    std::vector<std::uint8_t> big(std::size_t(16) << 20);
    qz::adviseHugePages(big.data(), big.size());
    EXPECT_NE(mappingFlags(big.data() + big.size() / 2).find(" hg"), std::string::npos);
}

TEST(MemoryHugePages, RangesWithoutAWholeHugePageAreLeftAlone) {
    // A mapping of its own, so that no other advice shares its flags.
    const std::size_t length = std::size_t(8) << 20;
    void* region = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(region, MAP_FAILED);
    auto* bytes = static_cast<std::uint8_t*>(region);
    qz::adviseHugePages(nullptr, std::size_t(64) << 20);
    qz::adviseHugePages(bytes + (1 << 20), (3 << 20) / 2);  // 1.5 MiB: never a whole huge page
    qz::adviseHugePages(bytes, SIZE_MAX);                    // would wrap past the end of the address space
    EXPECT_EQ(mappingFlags(bytes).find(" hg"), std::string::npos);
    munmap(region, length);
}
