// The file layer below saving: platform files and their failures, the
// mounting manager and the pool of file objects.

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "CoreTestSupport.h"
#include "qz/ExtException.h"
#include "qzvfs/FilePool.h"
#include "qzvfs/IFile.h"
#include "qzvfs/Manager.h"
#include "qzvfs/PlatformFiles.h"
#include "qzvfs/PosixFileRaw.h"

namespace {

using coretest::LogCapture;
using coretest::TempDir;

const qzvfs::PlatformFileTable& fs() { return qzvfs::platformFiles(); }

// A close the system refuses must reach the caller (some file systems report
// lost data only there), and the number is never closed twice: it may belong
// to another file by then.
TEST(VfsClose, RefusedCloseIsReportedOnceAndTheNumberIsNotClosedAgain) {
    TempDir dir;
    auto* file = qzvfs::PosixFileRaw::openRewrite(dir / "a.tav");
    ASSERT_TRUE(file);
    const int fd = file->descriptor();
    ASSERT_EQ(::close(fd), 0);
    LogCapture log;
    errno = 0;
    EXPECT_FALSE(file->closeDescriptor());
    EXPECT_EQ(errno, EBADF);
    auto* other = qzvfs::PosixFileRaw::openRewrite(dir / "b.tav");
    ASSERT_EQ(other->descriptor(), fd);
    EXPECT_TRUE(file->closeDescriptor());
    file->close();
    EXPECT_EQ(other->write("xyz", 3), 3u);
    other->close();
    EXPECT_EQ(coretest::readText(dir / "b.tav"), "xyz");
}

TEST(VfsFile, RefusedCallsAreLoggedWithTheirReasonsAndRewriteAndAppendKeepWhatTheySay) {
    TempDir dir;
    const std::string path = dir / "f.bin", missing = dir / "missing/x.bin";
    coretest::writeText(path, "old contents that must go");
    LogCapture log;
    EXPECT_EQ(qzvfs::openFile(missing.c_str(), qzvfs::OpenMode::Read, true), nullptr);  // quiet
    EXPECT_EQ(qzvfs::openFile(missing.c_str(), qzvfs::OpenMode::Read), nullptr);
    EXPECT_EQ(fs().openAppend(dir.path().c_str()), nullptr);
    EXPECT_EQ(qzvfs::VFS_write(nullptr, "abc", 3), 0u);
    {
        qzvfs::FilePtr file(fs().openRewrite(path.c_str()));
        EXPECT_EQ(fs().fileSize(path.c_str()), 0u);
        ASSERT_EQ(file->write("0123456789", 10), 10u);
        EXPECT_FALSE(file->seek(UINT64_MAX));
        char buffer[4];
        EXPECT_EQ(file->read(buffer, 4), 0u);
    }
    qzvfs::FilePtr(fs().openAppend(path.c_str()))->write("+", 1);
    EXPECT_EQ(coretest::readText(path), "0123456789+");
    EXPECT_EQ(log.texts(), (std::vector<std::string>{"Can't open file '" + missing + "' from fs.",
                                                     "[" + dir.path() + "] CreateFile(APPEND): Is a directory", "VFS_write(NULL)",
                                                     "[" + path + "] SetFilePointerEx(-1): Invalid argument",
                                                     "[" + path + "] ReadFile(4): Bad file descriptor"}));
}

class VfsManager : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(fs().makeDirectories((dir / "sub").c_str()));
        coretest::writeText(dir / "sub/a.bin", "payload");
        coretest::writeText(dir / "top.txt", "top");
    }
    std::string read(const std::string& path) {
        qzvfs::FilePtr file(manager.openRead(path, false));
        if (!file) return "<none>";
        std::string text(static_cast<size_t>(file->size()), '\0');
        text.resize(file->read(text.data(), text.size()));
        return text;
    }
    TempDir dir;
    qzvfs::Manager manager;
    LogCapture log;
};

TEST_F(VfsManager, MountedFilesReadBackAndWritingIsRefusedWithItsMessages) {
    ASSERT_NE(manager.mount(dir.path(), "/models/", "art"), 0u);
    EXPECT_EQ(read("models//sub/./a.bin"), "payload");
    qzvfs::FilePtr file(manager.openRead("models/top.txt", false));
    EXPECT_EQ(file->write("evil", 4), 0u);
    EXPECT_EQ(log.lines().back().level, qz::LOG_ALERT);
    EXPECT_EQ(manager.openWrite("models/top.txt", true), nullptr);  // quiet
    EXPECT_EQ(manager.openWrite("models/top.txt", false), nullptr);
    EXPECT_EQ(manager.open("models/top.txt", qzvfs::OpenMode::Append, false), nullptr);
    EXPECT_EQ(coretest::readText(dir / "top.txt"), "top");
    EXPECT_EQ(log.texts(), (std::vector<std::string>{
                               "Mounted: " + dir.path() + " into: models with tag: art",
                               "WinFileRO::write() is NOT allowed!", "Trying to open models/top.txt on ro vfs.",
                               "Can't open file not for reading: models/top.txt. VFS supports only open for reading."}));
}

TEST_F(VfsManager, PathsClimbingOutOfTheMountOpenNothing) {
    TempDir outside;
    coretest::writeText(outside / "secret", "s");
    manager.mount(dir / "sub", "m", "t");
    for (const std::string& path : {std::string("../top.txt"), std::string("m/../../top.txt"),
                                    "m/../../" + outside.path().substr(1) + "/secret", std::string("m/"),
                                    std::string("m/a.bin\0x", 9), std::string("m/missing")})
        EXPECT_EQ(read(path), "<none>") << path;
    EXPECT_EQ(log.texts("Can't open file: m/../../top.txt.").size(), 1u);
    EXPECT_EQ(read("m/x/../a.bin"), "payload");
}

TEST_F(VfsManager, MountCountsAndRefusedMountsAndUnmountsAreLoggedWithTheirMessages) {
    const size_t id = manager.mount(dir.path(), "m", "t");
    const std::string& src = dir.path();
    EXPECT_EQ(manager.mount(dir.path(), "m", "t"), id);
    EXPECT_EQ(manager.mount(dir.path(), "a/../../b", "t"), 0u);
    EXPECT_EQ(manager.mount(dir / "top.txt", "m", "t"), 0u);
    EXPECT_TRUE(manager.unmount(id));
    EXPECT_EQ(manager.mountedCount(), 1u);
    qzvfs::FilePtr file(manager.openRead("m/top.txt", false));
    EXPECT_FALSE(manager.unmount_by_tag("t"));
    file.reset();
    EXPECT_FALSE(manager.unmount(9999));
    EXPECT_FALSE(manager.unmount_by_source("/nowhere"));
    EXPECT_TRUE(manager.unmount_by_tag("t"));
    EXPECT_EQ(manager.mountedCount(), 0u);
    const auto texts = log.texts();
    EXPECT_EQ(std::vector<std::string>(texts.begin() + 1, texts.end()),
              (std::vector<std::string>{"Source " + src + " is already mounted to the same mount m.",
                                        "Invalid mount point a/../../b.", "No suitable driver found to mount " + src + "/top.txt",
                                        "Driver DirDriver:m(" + src + ") mount count: 1.",
                                        "Can't unmount driver DirDriver:m(" + src + "). Reason: as it has files opened.",
                                        "Can't found drivers with given id == 9999",
                                        "Can't unmount drivers. Reason: no drivers with source '/nowhere'",
                                        "Unmounted source: " + src + ", tag: t, driver: DirDriver."}));
}

TEST(VfsPool, ConcurrentAllocationNeverHandsOutOneBlockTwiceAndClosedFilesReturnTheirs) {
    qzvfs::FilePool pool;
    std::vector<std::thread> threads;
    std::atomic<int> corrupted{0};
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            std::vector<unsigned char*> held;
            for (int round = 0; round < 2000; ++round) {
                auto* block = static_cast<unsigned char*>(pool.allocate());
                std::memset(block, t + 1, qzvfs::FilePool::kPayloadSize);
                held.push_back(block);
                if (held.size() < 8 && round + 1 < 2000) continue;
                for (auto* b : held) {
                    for (size_t i = 0; i < qzvfs::FilePool::kPayloadSize; ++i) corrupted += b[i] != t + 1;
                    pool.release(b);
                }
                held.clear();
            }
        });
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(corrupted.load(), 0);
    EXPECT_EQ(pool.blocksInUse(), 0u);
    TempDir dir;
    const size_t before = qzvfs::FilePool::global().blocksInUse();
    qzvfs::VFS_close(fs().openRewrite((dir / "f").c_str()));
    EXPECT_EQ(qzvfs::FilePool::global().blocksInUse(), before);
}

TEST(VfsPool, DoubleReleaseIsRefusedAndDoesNotCorruptTheFreeList) {
    qzvfs::FilePool pool;
    void* a = pool.allocate();
    pool.release(a);
    LogCapture log;
    pool.release(a);
    EXPECT_EQ(log.lines().at(0).level, qz::LOG_ALERT);
    EXPECT_NE(pool.allocate(), pool.allocate());
}

}  // namespace
