#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "VfsTestSupport.h"
#include "qz/ExtException.h"
#include "qzvfs/FileError.h"
#include "qzvfs/WholeFile.h"

namespace {

using vfstest::TempDir;

// Every entry of a folder, hidden ones included (left-over temporaries are).
std::vector<std::string> allEntries(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string failureOf(const std::string& path, const std::vector<qzvfs::FilePart>& parts) {
    try {
        qzvfs::writeWholeFile(path, parts);
    } catch (const qz::ExtException& e) {
        return e.what();
    }
    return "no exception";
}

std::string failureOf(const std::string& path, const void* data, size_t size) {
    try {
        qzvfs::writeWholeFile(path, data, size);
    } catch (const qz::ExtException& e) {
        return e.what();
    }
    return "no exception";
}

// The step a failing save reports; nullopt when it succeeds.
std::optional<qzvfs::FileErrorKind> failedStep(const std::string& path, const std::vector<qzvfs::FilePart>& parts) {
    try {
        qzvfs::writeWholeFile(path, parts);
    } catch (const qzvfs::FileError& e) {
        return e.kind();
    }
    return std::nullopt;
}

TEST(VfsWholeFile, ReplacesLongerFileWithExactBytes) {
    TempDir dir;
    const std::string path = dir / "model.tav";
    vfstest::writeText(path, std::string(1000, 'o'));
    const std::vector<uint8_t> bytes = {'T', 'A', 'V', 0, 1, 2, 0xFF};
    qzvfs::writeWholeFile(path, bytes);
    EXPECT_EQ(vfstest::readText(path), std::string("TAV\0\1\2\xFF", 7));
    EXPECT_EQ(allEntries(dir.path()), std::vector<std::string>{"model.tav"});
}

TEST(VfsWholeFile, PartsFollowEachOtherInOrderAndEmptyOnesAddNothing) {
    TempDir dir;
    const std::string path = dir / "model.tav";
    vfstest::writeText(path, std::string(1000, 'o'));
    qzvfs::writeWholeFile(path, {{"TAV", 3}, {nullptr, 0}, {"", 0}, {"\0\1", 2}, {"end", 3}});
    EXPECT_EQ(vfstest::readText(path), std::string("TAV\0\1end", 8));
    EXPECT_EQ(allEntries(dir.path()), std::vector<std::string>{"model.tav"});
}

TEST(VfsWholeFile, EmptyDataMakesEmptyFile) {
    TempDir dir;
    const std::string path = dir / "empty.tav";
    vfstest::writeText(path, "old");
    qzvfs::writeWholeFile(path, nullptr, 0);
    EXPECT_EQ(vfstest::readText(path), "");
    EXPECT_EQ(allEntries(dir.path()), std::vector<std::string>{"empty.tav"});
}

TEST(VfsWholeFile, UnopenableTargetsFailWithCantOpenAndLeaveNothing) {
    TempDir dir;
    vfstest::writeText(dir / "plain", "x");
    for (const std::string& path : {dir / "missing/m.tav", dir.path(), dir / "plain/m.tav", dir / "slash/",
                                    std::string(""), std::string("a\0b", 3)}) {
        EXPECT_EQ(failureOf(path, "abc", 3), "Can't open " + std::string(path.c_str()));  // what() ends at a NUL
        EXPECT_EQ(failedStep(path, {{"abc", 3}}), qzvfs::FileErrorKind::Open);
        EXPECT_EQ(allEntries(dir.path()), std::vector<std::string>{"plain"});
    }
    EXPECT_EQ(vfstest::readText(dir / "plain"), "x");
}

TEST(VfsWholeFile, NullDataWithSizeIsRefusedBeforeTouchingTheFile) {
    TempDir dir;
    const std::string path = dir / "m.tav";
    vfstest::writeText(path, "old");
    EXPECT_EQ(failureOf(path, nullptr, 5), "Can't write " + path + ": no data");
    EXPECT_EQ(failureOf(path, {{"abc", 3}, {nullptr, 5}}), "Can't write " + path + ": no data");
    EXPECT_EQ(failedStep(path, {{nullptr, 5}}), qzvfs::FileErrorKind::Write);
    EXPECT_EQ(vfstest::readText(path), "old");
    EXPECT_EQ(allEntries(dir.path()), std::vector<std::string>{"m.tav"});
}

// A file size limit makes the write stop short, as a full disk would: in
// the one part, or in the second of two (the count is over all parts).
TEST(VfsWholeFile, ShortWriteKeepsOldContentsAndRemovesTemporary) {
    const std::string big(10000, 'n');
    const std::vector<std::vector<qzvfs::FilePart>> splits = {
        {{big.data(), big.size()}},
        {{big.data(), 3000}, {big.data() + 3000, 7000}},
    };
    for (const auto& parts : splits) {
        TempDir dir;
        const std::string path = dir / "model.tav";
        vfstest::writeText(path, "old model");

        struct sigaction ignore {}, previous{};
        ignore.sa_handler = SIG_IGN;
        ASSERT_EQ(::sigaction(SIGXFSZ, &ignore, &previous), 0);
        rlimit saved{};
        ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
        rlimit limited = saved;
        limited.rlim_cur = 4096;
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
        std::string message;
        {
            vfstest::CapturedLog log;
            message = failureOf(path, parts);
        }
        ::setrlimit(RLIMIT_FSIZE, &saved);
        ::sigaction(SIGXFSZ, &previous, nullptr);

        EXPECT_EQ(message, "Short write to " + path + ": 4096 of 10000 bytes written") << parts.size() << " parts";
        EXPECT_EQ(vfstest::readText(path), "old model");
        EXPECT_EQ(allEntries(dir.path()), std::vector<std::string>{"model.tav"});
    }
}

TEST(VfsWholeFile, UnicodePathIsWritten) {
    TempDir dir;
    const std::string path = dir / "модель ✓.tav";
    qzvfs::writeWholeFile(path, "u8", 2);
    EXPECT_EQ(vfstest::readText(path), "u8");
}

TEST(VfsWholeFile, SymbolicLinkIsWrittenThroughAndStaysALink) {
    TempDir dir;
    ASSERT_EQ(::mkdir((dir / "real").c_str(), 0777), 0);
    vfstest::writeText(dir / "real/target.tav", "old");
    ASSERT_EQ(::symlink((dir / "real/target.tav").c_str(), (dir / "link.tav").c_str()), 0);
    qzvfs::writeWholeFile(dir / "link.tav", "new", 3);
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.tav"));
    EXPECT_EQ(vfstest::readText(dir / "real/target.tav"), "new");
    EXPECT_EQ(allEntries(dir / "real"), std::vector<std::string>{"target.tav"});
}

TEST(VfsWholeFile, ReplacedFileKeepsItsPermissions) {
    TempDir dir;
    const std::string path = dir / "m.tav";
    vfstest::writeText(path, "old");
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    qzvfs::writeWholeFile(path, "new", 3);
    struct stat info;
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
}

// The reader of a FIFO goes away after a few bytes: the save fails as a
// short write and the process lives on (no SIGPIPE), the FIFO stays one.
TEST(VfsWholeFile, FifoReaderThatLeavesFailsTheSaveWithoutEndingTheProcess) {
    TempDir dir;
    const std::string fifo = dir / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    std::thread leaving([reader] {
        char first[16];
        for (ssize_t got = 0; got <= 0;) got = ::read(reader, first, sizeof first);  // the writer has begun
        ::close(reader);
    });
    const std::string big(1 << 20, 'm');  // more than a pipe holds
    std::optional<qzvfs::FileErrorKind> step;
    {
        vfstest::CapturedLog log;
        step = failedStep(fifo, {{big.data(), big.size()}});
    }
    leaving.join();
    EXPECT_EQ(step, qzvfs::FileErrorKind::Write);
    struct stat info;
    ASSERT_EQ(::lstat(fifo.c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
    EXPECT_EQ(allEntries(dir.path()), std::vector<std::string>{"fifo"});
}

}  // namespace
