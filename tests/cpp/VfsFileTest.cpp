#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "VfsTestSupport.h"
#include "qz/ExtException.h"
#include "qzvfs/IFile.h"
#include "qzvfs/Manager.h"
#include "qzvfs/PlatformFiles.h"

namespace {

using vfstest::CapturedLog;
using vfstest::TempDir;

const qzvfs::PlatformFileTable& fs() { return qzvfs::platformFiles(); }

TEST(VfsFile, RewriteLeavesExistingFileEmptyBeforeFirstWrite) {
    TempDir dir;
    const std::string path = dir / "model.tav";
    vfstest::writeText(path, "old contents that must go");
    qzvfs::FilePtr file(fs().openRewrite(path.c_str()));
    ASSERT_TRUE(file);
    EXPECT_EQ(file->size(), 0);
    EXPECT_EQ(fs().fileSize(path.c_str()), 0u);
    EXPECT_EQ(file->getPath(), path);
    EXPECT_EQ(file->getSecondName(), "");
    EXPECT_EQ(file->write("ab", 2), 2u);
    file.reset();
    EXPECT_EQ(vfstest::readText(path), "ab");
}

TEST(VfsFile, AppendCreatesMissingFileAndKeepsExistingContents) {
    TempDir dir;
    const std::string path = dir / "log.txt";
    {
        qzvfs::FilePtr file(fs().openAppend(path.c_str()));
        ASSERT_TRUE(file);
        EXPECT_EQ(fs().pathKind(path.c_str()), qzvfs::PATH_FILE);
        EXPECT_EQ(file->write("first", 5), 5u);
    }
    {
        qzvfs::FilePtr file(fs().openAppend(path.c_str()));
        ASSERT_TRUE(file);
        EXPECT_EQ(file->tell(), 5);
        EXPECT_EQ(file->write("+second", 7), 7u);
    }
    EXPECT_EQ(vfstest::readText(path), "first+second");
}

struct OpenFailure {
    const char* name;
    bool append;
    const char* target;  // below the temp folder; "" is the folder itself
    const char* reason;
};

class VfsFileOpenFailure : public ::testing::TestWithParam<OpenFailure> {};

TEST_P(VfsFileOpenFailure, FailedOpenLogsPathCallAndSystemReasonAndReturnsNull) {
    TempDir dir;
    const OpenFailure& c = GetParam();
    const std::string path = *c.target ? dir / c.target : dir.path();
    vfstest::writeText(dir / "plain", "x");
    CapturedLog log;
    qzvfs::IFile* file = c.append ? fs().openAppend(path.c_str()) : fs().openRewrite(path.c_str());
    EXPECT_EQ(file, nullptr);
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(log.lines[0].level, qz::LOG_ERROR);
    EXPECT_NE(log.lines[0].line.find(" QZCORESTATIC ("), std::string::npos);
    const std::string call = c.append ? "CreateFile(APPEND)" : "CreateFile(REWRITE)";
    EXPECT_EQ(log.lines[0].text, "[" + path + "] " + call + ": " + c.reason);
    EXPECT_EQ(fs().pathKind((dir / "missing").c_str()), qzvfs::PATH_MISSING);
}

INSTANTIATE_TEST_SUITE_P(
    VfsHostile, VfsFileOpenFailure,
    ::testing::Values(OpenFailure{"RewriteMissingFolder", false, "missing/a.tav", "No such file or directory"},
                      OpenFailure{"AppendMissingFolder", true, "missing/a.tav", "No such file or directory"},
                      OpenFailure{"RewriteDirectory", false, "", "Is a directory"},
                      OpenFailure{"AppendDirectory", true, "", "Is a directory"},
                      OpenFailure{"RewriteBelowAFile", false, "plain/a.tav", "Not a directory"},
                      OpenFailure{"AppendBelowAFile", true, "plain/a.tav", "Not a directory"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(VfsFile, OpenByModeAddsFsLineUnlessQuiet) {
    TempDir dir;
    const std::string path = dir / "missing/x.bin";
    {
        CapturedLog log;
        EXPECT_EQ(qzvfs::openFile(path.c_str(), qzvfs::OpenMode::Rewrite), nullptr);
        ASSERT_EQ(log.lines.size(), 2u);
        EXPECT_EQ(log.lines[1].text, "Can't open file '" + path + "' from fs.");
        EXPECT_EQ(log.lines[1].level, qz::LOG_ERROR);
    }
    {
        CapturedLog log;
        EXPECT_EQ(qzvfs::openFile(path.c_str(), qzvfs::OpenMode::Read), nullptr);
        EXPECT_EQ(log.texts(), std::vector<std::string>{"Can't open file '" + path + "' from fs."});
    }
    {
        CapturedLog log;
        EXPECT_EQ(qzvfs::openFile(path.c_str(), qzvfs::OpenMode::Read, true), nullptr);
        EXPECT_TRUE(log.lines.empty());
    }
    qzvfs::FilePtr appended(qzvfs::openFile((dir / "y.bin").c_str(), qzvfs::OpenMode::Append));
    EXPECT_TRUE(appended);
}

TEST(VfsFile, WriteThroughNullFileLogsAndWritesNothing) {
    CapturedLog log;
    EXPECT_EQ(qzvfs::VFS_write(nullptr, "abc", 3), 0u);
    qzvfs::VFS_close(nullptr);  // ignored, no crash
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(log.lines[0].level, qz::LOG_ERROR);
    EXPECT_NE(log.lines[0].line.find(" ERROR   VFS ("), std::string::npos);
    EXPECT_EQ(log.lines[0].text, "VFS_write(NULL)");
}

TEST(VfsFile, PrimitiveHelpersWriteLittleEndianBytesThroughFile) {
    TempDir dir;
    const std::string path = dir / "prims.bin";
    {
        qzvfs::FilePtr file(fs().openRewrite(path.c_str()));
        ASSERT_TRUE(file);
        file->writeU16(0x1234);
        file->writeU32(1);
        file->writeU8(0xFF);
    }
    EXPECT_EQ(vfstest::readText(path), std::string("\x34\x12\x01\x00\x00\x00\xFF", 7));
}

TEST(VfsFile, SeekTellSizeAgreeAndHostileSeekIsRefused) {
    TempDir dir;
    const std::string path = dir / "seek.bin";
    qzvfs::FilePtr file(fs().openRewrite(path.c_str()));
    ASSERT_TRUE(file);
    ASSERT_EQ(file->write("0123456789", 10), 10u);
    EXPECT_TRUE(file->seek(4));
    EXPECT_EQ(file->tell(), 4);
    ASSERT_EQ(file->write("xy", 2), 2u);
    EXPECT_EQ(file->size(), 10);
    CapturedLog log;
    EXPECT_FALSE(file->seek(UINT64_MAX));
    EXPECT_EQ(log.texts(), std::vector<std::string>{"[" + path + "] SetFilePointerEx(-1): Invalid argument"});
    file.reset();
    EXPECT_EQ(vfstest::readText(path), "0123xy6789");
}

TEST(VfsFile, ReadingWriteOnlyFileFailsWithLoggedReason) {
    TempDir dir;
    const std::string path = dir / "wo.bin";
    qzvfs::FilePtr file(fs().openRewrite(path.c_str()));
    ASSERT_TRUE(file);
    CapturedLog log;
    char buffer[4];
    EXPECT_EQ(file->read(buffer, 4), 0u);
    EXPECT_EQ(log.texts(), std::vector<std::string>{"[" + path + "] ReadFile(4): Bad file descriptor"});
    EXPECT_THROW(file->readU32(), qz::ExtException);
}

class VfsReadOnly : public ::testing::Test {
protected:
    void SetUp() override {
        vfstest::writeText(dir / "ro.bin", "keep");
        vfstest::writeText(dir / "empty.bin", "");
        id = manager.mount(dir.path(), "data", "ro-test");
        ASSERT_NE(id, 0u);
    }
    TempDir dir;
    qzvfs::Manager manager;
    size_t id = 0;
};

TEST_F(VfsReadOnly, ReadOnlyFileRefusesWritesWithAlertAndKeepsContents) {
    qzvfs::FilePtr file(manager.openRead("data/ro.bin", false));
    ASSERT_TRUE(file);
    CapturedLog log;
    EXPECT_EQ(file->write("evil", 4), 0u);
    EXPECT_THROW(file->writeU32(7), qz::ExtException);
    ASSERT_EQ(log.lines.size(), 2u);
    EXPECT_EQ(log.lines[0].level, qz::LOG_ALERT);
    EXPECT_EQ(log.lines[0].text, "WinFileRO::write() is NOT allowed!");
    char buffer[8] = {};
    EXPECT_EQ(file->read(buffer, sizeof buffer), 4u);
    EXPECT_EQ(std::string(buffer, 4), "keep");
    file.reset();
    EXPECT_EQ(vfstest::readText(dir / "ro.bin"), "keep");
}

TEST_F(VfsReadOnly, EmptyFileReadsNothingAndPrimitiveReadThrows) {
    qzvfs::FilePtr file(manager.openRead("data/empty.bin", false));
    ASSERT_TRUE(file);
    EXPECT_EQ(file->size(), 0);
    char c;
    EXPECT_EQ(file->read(&c, 1), 0u);
    EXPECT_THROW(file->readU8(), qz::ExtException);
}

TEST(VfsFile, UnicodeNamesAreKeptByteForByte) {
    TempDir dir;
    const std::string name = "Модель 模型 ✓ é.tav";
    const std::string path = dir / name;
    {
        qzvfs::FilePtr file(fs().openRewrite(path.c_str()));
        ASSERT_TRUE(file);
        ASSERT_EQ(file->write("u", 1), 1u);
    }
    EXPECT_TRUE(fs().exists(path.c_str()));
    std::vector<std::string> names;
    fs().listDirectory(
        dir.path().c_str(),
        [](void* ctx, const char*, const char* entry) { static_cast<std::vector<std::string>*>(ctx)->push_back(entry); },
        &names);
    EXPECT_EQ(names, std::vector<std::string>{name});
    qzvfs::Manager manager;
    ASSERT_NE(manager.mount(dir.path(), "ü", "t"), 0u);
    qzvfs::FilePtr read(manager.openRead("ü/" + name, false));
    ASSERT_TRUE(read);
    EXPECT_EQ(read->readU8(), 'u');
}

}  // namespace
