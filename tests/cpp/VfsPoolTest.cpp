#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <set>
#include <thread>
#include <vector>

#include "VfsTestSupport.h"
#include "qzvfs/FilePool.h"
#include "qzvfs/PlatformFiles.h"

namespace {

TEST(VfsPool, ClosingFilesReturnsTheirBlocks) {
    vfstest::TempDir dir;
    auto& pool = qzvfs::FilePool::global();
    const size_t before = pool.blocksInUse();
    std::vector<qzvfs::IFile*> files;
    for (int i = 0; i < 100; ++i) {
        files.push_back(qzvfs::platformFiles().openRewrite((dir / std::to_string(i)).c_str()));
        ASSERT_NE(files.back(), nullptr);
    }
    EXPECT_EQ(pool.blocksInUse(), before + 100);
    for (auto* file : files) qzvfs::VFS_close(file);
    EXPECT_EQ(pool.blocksInUse(), before);
}

TEST(VfsPool, ConcurrentAllocationNeverHandsOutOneBlockTwice) {
    qzvfs::FilePool pool;
    constexpr int kThreads = 4;
    constexpr int kRounds = 2000;
    std::vector<std::thread> threads;
    std::atomic<int> corrupted{0};
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            std::vector<unsigned char*> held;
            for (int round = 0; round < kRounds; ++round) {
                auto* block = static_cast<unsigned char*>(pool.allocate());
                if (!block) {
                    ++corrupted;
                    return;
                }
                std::memset(block, t + 1, qzvfs::FilePool::kPayloadSize);
                held.push_back(block);
                if (held.size() == 8 || round + 1 == kRounds) {
                    for (auto* b : held) {
                        for (size_t i = 0; i < qzvfs::FilePool::kPayloadSize; ++i)
                            if (b[i] != t + 1) {
                                ++corrupted;
                                break;
                            }
                        pool.release(b);
                    }
                    held.clear();
                }
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(corrupted.load(), 0);
    EXPECT_EQ(pool.blocksInUse(), 0u);
}

TEST(VfsPool, DoubleReleaseIsRefusedAndDoesNotCorruptFreeList) {
    qzvfs::FilePool pool;
    void* a = pool.allocate();
    ASSERT_NE(a, nullptr);
    pool.release(a);
    vfstest::CapturedLog log;
    pool.release(a);
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(log.lines[0].level, qz::LOG_ALERT);
    void* first = pool.allocate();
    void* second = pool.allocate();
    EXPECT_NE(first, second);
    EXPECT_EQ(pool.blocksInUse(), 2u);
}

TEST(VfsPool, ExhaustedPoolReturnsNullWithEnomemAndRecovers) {
    qzvfs::FilePool pool;
    const size_t capacity = qzvfs::FilePool::kMaxChunks * qzvfs::FilePool::kBlocksPerChunk;
    std::vector<void*> blocks;
    blocks.reserve(capacity);
    for (size_t i = 0; i < capacity; ++i) {
        blocks.push_back(pool.allocate());
        ASSERT_NE(blocks.back(), nullptr);
    }
    errno = 0;
    EXPECT_EQ(pool.allocate(), nullptr);
    EXPECT_EQ(errno, ENOMEM);
    pool.release(blocks.back());
    EXPECT_EQ(pool.allocate(), blocks.back());
}

}  // namespace
