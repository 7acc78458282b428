// Saving a whole file: the target is replaced only by complete, flushed
// data, every failure names its step, and nothing is left behind.

#include <gtest/gtest.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "CoreTestSupport.h"
#include "qzvfs/FileError.h"
#include "qzvfs/WholeFile.h"

namespace {

// The file system calls of a save as the library makes them, in order, and
// the one of them that is to fail with EIO.
std::vector<std::string> g_calls;
std::string g_failing;
bool g_watching = false;

bool refused(const char* call) {
    if (!g_watching) return false;
    g_calls.push_back(call);
    if (g_failing != call) return false;
    errno = EIO;
    return true;
}

}  // namespace

// Test-binary versions of the calls, which the statically linked library uses.
extern "C" int fsync(int fd) {
    static auto* real = reinterpret_cast<int (*)(int)>(dlsym(RTLD_NEXT, "fsync"));
    struct stat info {};
    ::fstat(fd, &info);
    return refused(S_ISDIR(info.st_mode) ? "fsync folder" : "fsync file") ? -1 : real(fd);
}

extern "C" int renameat(int from, const char* old, int to, const char* name) {
    static auto* real = reinterpret_cast<int (*)(int, const char*, int, const char*)>(dlsym(RTLD_NEXT, "renameat"));
    return refused("rename") ? -1 : real(from, old, to, name);
}

// The stretches of the file the disk was asked to start writing, in order.
std::vector<std::pair<long long, long long>> g_started;

extern "C" int sync_file_range(int fd, off64_t offset, off64_t count, unsigned int flags) {
    static auto* real =
        reinterpret_cast<int (*)(int, off64_t, off64_t, unsigned int)>(dlsym(RTLD_NEXT, "sync_file_range"));
    g_started.push_back({offset, count});
    return real(fd, offset, count, flags);
}

namespace {

using coretest::TempDir;
using qzvfs::FileErrorKind;

// Every entry of a folder, hidden ones included (left-over temporaries are).
std::vector<std::string> allEntries(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

// How many descriptors of this process are open on the file at `path`, or
// on the file that had that name until it was replaced.
int descriptorsOn(const std::string& path) {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        const std::string target = std::filesystem::read_symlink(entry.path(), error);
        count += !error && (target == path || target == path + " (deleted)");
    }
    return count;
}

struct Outcome {
    std::optional<FileErrorKind> kind;  // nullopt when the save succeeded
    std::string message;
};

Outcome save(const std::string& path, const std::vector<qzvfs::FilePart>& parts) {
    coretest::LogCapture quiet;
    try {
        qzvfs::writeWholeFile(path, parts);
    } catch (const qzvfs::FileError& e) {
        return {e.kind(), e.what()};
    }
    return {};
}

TEST(VfsWholeFile, PartsReplaceALongerFileInOrderAndEmptyOnesAddNothing) {
    TempDir dir;
    coretest::writeText(dir / "model.tav", std::string(1000, 'o'));
    EXPECT_EQ(save(dir / "model.tav", {{"TAV", 3}, {nullptr, 0}, {"", 0}, {"\0\1", 2}, {"end", 3}}).kind, std::nullopt);
    EXPECT_EQ(coretest::readText(dir / "model.tav"), std::string("TAV\0\1end", 8));
    EXPECT_EQ(allEntries(dir.path()), std::vector<std::string>{"model.tav"});
}

// The data must be on disk before the file takes the target's name, and the
// folder after it, or a crash could leave an empty file or the old one.
// A made part's byte at file offset i is i * 7 mod 251, so that a stage
// written twice, skipped or out of order shows.
qzvfs::FilePart madePart(size_t from, size_t size, size_t unit, std::vector<std::pair<size_t, size_t>>* asked) {
    return {nullptr, size,
            [from, unit, asked](size_t offset, void* out, size_t n) {
                if (offset % unit != 0 || n % unit != 0 || n == 0) asked->push_back({offset, n});  // a wrong request
                for (size_t i = 0; i < n; ++i) static_cast<char*>(out)[i] = char((from + offset + i) * 7 % 251);
            },
            unit};
}

// (size, unit): empty, within one stage, exactly one stage of 512 KiB, one
// unit past it, several stages of a unit that does not divide the stage, a
// unit larger than the stage.
class VfsWholeFileMade : public testing::TestWithParam<std::pair<size_t, size_t>> {};

TEST_P(VfsWholeFileMade, MadePartIsWrittenWholeInOrderAndAskedForWholeUnitsOnly) {
    const auto [size, unit] = GetParam();
    TempDir dir;
    std::vector<std::pair<size_t, size_t>> wrong;
    EXPECT_EQ(save(dir / "m.tav", {{"TAV", 3}, madePart(3, size, unit, &wrong), {"end", 3}}).kind, std::nullopt);
    std::string expected = "TAV";
    for (size_t i = 3; i < 3 + size; ++i) expected += char(i * 7 % 251);
    expected += "end";
    EXPECT_TRUE(coretest::readText(dir / "m.tav") == expected);
    EXPECT_TRUE(wrong.empty());
}

INSTANTIATE_TEST_SUITE_P(Stages, VfsWholeFileMade,
                         testing::Values(std::pair<size_t, size_t>{0, 1}, std::pair<size_t, size_t>{1000, 8},
                                         std::pair<size_t, size_t>{1 << 19, 1},
                                         std::pair<size_t, size_t>{(1 << 19) + 16, 16},
                                         std::pair<size_t, size_t>{12 * 300001, 12},
                                         std::pair<size_t, size_t>{1800000, 600000}));

// Parts of several stretches of 8 MiB, given and made, reach the file whole,
// whether it is replaced or (having a second name) rewritten in place; the
// disk is asked to start on each stretch once, in order, as it is handed
// over, so that the flush at the end waits for the last ones only.
TEST(VfsWholeFile, BigPartsReachTheFileWholeAndTheDiskStartsOnEachStretchInOrder) {
    constexpr size_t kStretch = size_t(8) << 20;
    for (const bool inPlace : {false, true}) {
        TempDir dir;
        coretest::writeText(dir / "m.tav", "old");
        if (inPlace) std::filesystem::create_hard_link(dir / "m.tav", dir / "other.tav");
        std::string given(2 * kStretch + 12345, '\0');
        for (size_t i = 0; i < given.size(); ++i) given[i] = char((3 + i) * 7 % 251);
        const size_t made = kStretch + 5;
        std::vector<std::pair<size_t, size_t>> wrong;
        g_started.clear();
        EXPECT_EQ(save(dir / "m.tav", {{"TAV", 3}, {given.data(), given.size()}, madePart(3 + given.size(), made, 1, &wrong),
                                       {"end", 3}})
                      .kind,
                  std::nullopt);
        std::string expected = "TAV" + given;
        for (size_t i = 3 + given.size(); i < 3 + given.size() + made; ++i) expected += char(i * 7 % 251);
        expected += "end";
        EXPECT_TRUE(coretest::readText(dir / "m.tav") == expected) << inPlace;
        ASSERT_FALSE(g_started.empty()) << inPlace;
        long long next = 0;
        for (const auto& [offset, count] : g_started) {
            EXPECT_EQ(offset, next) << inPlace;
            EXPECT_GE(count, static_cast<long long>(kStretch)) << inPlace;
            next = offset + count;
        }
        EXPECT_LE(next, static_cast<long long>(expected.size())) << inPlace;
        EXPECT_GT(next + static_cast<long long>(kStretch), static_cast<long long>(expected.size())) << inPlace;
    }
}

TEST(VfsWholeFile, DataIsFlushedBeforeTheRenameAndTheFolderAfterIt) {
    TempDir dir;
    coretest::writeText(dir / "model.tav", "old");
    g_calls.clear();
    g_watching = true;
    const Outcome outcome = save(dir / "model.tav", {{"new", 3}});
    g_watching = false;
    EXPECT_EQ(outcome.kind, std::nullopt);
    EXPECT_EQ(g_calls, (std::vector<std::string>{"fsync file", "rename", "fsync folder"}));
}

// The replaced file is closed off the saving thread, soon after the save:
// until then the system keeps its space.
TEST(VfsWholeFile, ReplacedFileIsClosedOnceTheNewOneHasItsName) {
    TempDir dir;
    const std::string path = dir / "model.tav";
    coretest::writeText(path, std::string(1 << 20, 'o'));
    EXPECT_EQ(save(path, {{"new", 3}}).kind, std::nullopt);
    EXPECT_EQ(coretest::readText(path), "new");
    for (int wait = 0; wait < 500 && descriptorsOn(path) != 0; ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(descriptorsOn(path), 0);
}

struct Fault {
    const char* name;
    const char* call;
    FileErrorKind kind;
    const char* message;  // before the path
    bool oldKept;
};

class VfsWholeFileFault : public ::testing::TestWithParam<Fault> {};

TEST_P(VfsWholeFileFault, RefusedCallFailsTheSaveWithItsStepAndLeavesNoTemporary) {
    TempDir dir;
    const std::string path = dir / "model.tav";
    coretest::writeText(path, "old");
    g_failing = GetParam().call;
    g_watching = true;
    const Outcome outcome = save(path, {{"new", 3}});
    g_watching = false;
    g_failing.clear();
    EXPECT_EQ(outcome.kind, GetParam().kind);
    EXPECT_EQ(outcome.message, GetParam().message + path + ": Input/output error");
    EXPECT_EQ(coretest::readText(path), GetParam().oldKept ? "old" : "new");
    EXPECT_EQ(allEntries(dir.path()), std::vector<std::string>{"model.tav"});
    EXPECT_EQ(descriptorsOn(path), 0);
}

INSTANTIATE_TEST_SUITE_P(Vfs, VfsWholeFileFault,
                         ::testing::Values(Fault{"FileFlush", "fsync file", FileErrorKind::Flush, "Can't flush ", true},
                                           Fault{"Rename", "rename", FileErrorKind::Rename, "Can't replace ", true},
                                           Fault{"FolderFlush", "fsync folder", FileErrorKind::Flush, "Can't flush ", false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(VfsWholeFile, UnopenableTargetsAndMissingDataFailBeforeTouchingAnything) {
    TempDir dir;
    coretest::writeText(dir / "plain", "x");
    for (const std::string& path : {dir / "missing/m.tav", dir.path(), dir / "plain/m.tav", dir / "slash/",
                                    std::string(""), std::string("a\0b", 3)}) {
        const Outcome outcome = save(path, {{"abc", 3}});
        EXPECT_EQ(outcome.kind, FileErrorKind::Open);
        EXPECT_EQ(outcome.message, "Can't open " + std::string(path.c_str()));  // what() ends at a NUL
    }
    const Outcome missing = save(dir / "plain", {{"abc", 3}, {nullptr, 5}});
    EXPECT_EQ(missing.kind, FileErrorKind::Write);
    EXPECT_EQ(missing.message, "Can't write " + dir / "plain" + ": no data");
    EXPECT_EQ(coretest::readText(dir / "plain"), "x");
    EXPECT_EQ(allEntries(dir.path()), std::vector<std::string>{"plain"});
}

// The reader of a FIFO goes away after a few bytes: the save fails as a
// short write and the process lives on (no SIGPIPE), the FIFO stays one;
// with bytes given and with bytes made a stage at a time (whose maker is
// stopped half-way).
class VfsWholeFileFifo : public testing::TestWithParam<bool> {};

TEST_P(VfsWholeFileFifo, FifoReaderThatLeavesFailsTheSaveWithoutEndingTheProcess) {
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
    const std::string big(4 << 20, 'm');  // more than a pipe holds
    std::vector<std::pair<size_t, size_t>> wrong;
    const Outcome outcome =
        save(fifo, {GetParam() ? madePart(0, big.size(), 4, &wrong) : qzvfs::FilePart{big.data(), big.size()}});
    leaving.join();
    EXPECT_EQ(outcome.kind, FileErrorKind::Write);
    EXPECT_EQ(outcome.message.rfind("Short write to " + fifo + ": ", 0), 0u) << outcome.message;
    struct stat info;
    ASSERT_EQ(::lstat(fifo.c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
    EXPECT_EQ(allEntries(dir.path()), std::vector<std::string>{"fifo"});
    EXPECT_TRUE(wrong.empty());
}

INSTANTIATE_TEST_SUITE_P(Parts, VfsWholeFileFifo, testing::Bool());

}  // namespace
