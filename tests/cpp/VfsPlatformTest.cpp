#include <gtest/gtest.h>
#include <sys/time.h>

#include <algorithm>
#include <string>
#include <vector>

#include "VfsTestSupport.h"
#include "qzvfs/PlatformFiles.h"

namespace {

using vfstest::CapturedLog;
using vfstest::EnvVar;
using vfstest::TempDir;

const qzvfs::PlatformFileTable& fs() { return qzvfs::platformFiles(); }

struct Listing {
    std::vector<std::string> entries;  // "directory|name"
    static void collect(void* context, const char* directory, const char* name) {
        static_cast<Listing*>(context)->entries.push_back(std::string(directory) + "|" + name);
    }
    std::vector<std::string> sorted() const {
        auto copy = entries;
        std::sort(copy.begin(), copy.end());
        return copy;
    }
};

TEST(VfsPlatform, PathKindTellsMissingFileAndDirectory) {
    TempDir dir;
    vfstest::writeText(dir / "f", "1");
    EXPECT_EQ(fs().pathKind((dir / "none").c_str()), qzvfs::PATH_MISSING);
    EXPECT_EQ(fs().pathKind((dir / "f").c_str()), qzvfs::PATH_FILE);
    EXPECT_EQ(fs().pathKind(dir.path().c_str()), qzvfs::PATH_DIRECTORY);
    EXPECT_TRUE(fs().exists((dir / "f").c_str()));
    EXPECT_FALSE(fs().isDirectory((dir / "f").c_str()));
    EXPECT_TRUE(fs().isDirectory(dir.path().c_str()));
}

TEST(VfsPlatform, NullPathsAreMissingInsteadOfCrashing) {
    qzvfs::FileStatus status;
    char buffer[16];
    EXPECT_EQ(fs().openRead(nullptr), nullptr);
    EXPECT_EQ(fs().openRewrite(nullptr), nullptr);
    EXPECT_EQ(fs().openAppend(nullptr), nullptr);
    EXPECT_FALSE(fs().exists(nullptr));
    EXPECT_FALSE(fs().isDirectory(nullptr));
    EXPECT_EQ(fs().pathKind(nullptr), qzvfs::PATH_MISSING);
    EXPECT_FALSE(fs().makeDirectories(nullptr));
    EXPECT_FALSE(fs().remove(nullptr));
    EXPECT_EQ(fs().modificationTime(nullptr), 0);
    EXPECT_EQ(fs().fileSize(nullptr), 0u);
    EXPECT_FALSE(fs().status(nullptr, &status));
    EXPECT_FALSE(fs().fullPathInto(nullptr, buffer, sizeof buffer));
}

TEST(VfsPlatform, ListingSkipsHiddenEntriesAndPassesDirectoryAsGiven) {
    TempDir dir;
    vfstest::writeText(dir / "a.tav", "");
    vfstest::writeText(dir / ".hidden", "");
    ASSERT_TRUE(fs().makeDirectories((dir / "sub").c_str()));
    ASSERT_TRUE(fs().makeDirectories((dir / ".git").c_str()));
    Listing listing;
    EXPECT_TRUE(fs().listDirectory(dir.path().c_str(), Listing::collect, &listing));
    EXPECT_EQ(listing.sorted(), (std::vector<std::string>{dir.path() + "|a.tav", dir.path() + "|sub"}));
}

TEST(VfsPlatform, ListingMissingDirectorySucceedsWithoutCallbacks) {
    TempDir dir;
    Listing listing;
    CapturedLog log;
    EXPECT_TRUE(fs().listDirectory((dir / "missing").c_str(), Listing::collect, &listing));
    EXPECT_TRUE(listing.entries.empty());
    EXPECT_TRUE(log.lines.empty());
}

TEST(VfsPlatform, ListingAFileFailsWithLoggedReason) {
    TempDir dir;
    const std::string file = dir / "f";
    vfstest::writeText(file, "");
    Listing listing;
    CapturedLog log;
    EXPECT_FALSE(fs().listDirectory(file.c_str(), Listing::collect, &listing));
    EXPECT_EQ(log.texts(), std::vector<std::string>{"[" + file + "] opendir(): Not a directory"});
}

TEST(VfsPlatform, ListingEmptyArgumentListsCurrentDirectory) {
    TempDir dir;
    vfstest::writeText(dir / "here", "");
    const std::string previous = fs().fullPath("");
    ASSERT_EQ(::chdir(dir.path().c_str()), 0);
    Listing listing;
    const bool ok = fs().listDirectory("", Listing::collect, &listing);
    Listing nullListing;
    const bool nullOk = fs().listDirectory(nullptr, Listing::collect, &nullListing);
    ASSERT_EQ(::chdir(previous.c_str()), 0);
    EXPECT_TRUE(ok);
    EXPECT_TRUE(nullOk);
    EXPECT_EQ(listing.entries, std::vector<std::string>{"|here"});
    EXPECT_EQ(nullListing.entries, std::vector<std::string>{"|here"});
}

TEST(VfsPlatform, MakeDirectoriesCreatesNestedAndAcceptsExisting) {
    TempDir dir;
    const std::string nested = dir / "a/b//c/";
    EXPECT_TRUE(fs().makeDirectories(nested.c_str()));
    EXPECT_TRUE(vfstest::isDir(dir / "a/b/c"));
    EXPECT_TRUE(fs().makeDirectories(nested.c_str()));
    EXPECT_TRUE(fs().makeDirectories(dir.path().c_str()));
    EXPECT_TRUE(fs().makeDirectories("/"));
    EXPECT_FALSE(fs().makeDirectories(""));
}

TEST(VfsPlatform, MakeDirectoriesThroughAFileFails) {
    TempDir dir;
    vfstest::writeText(dir / "file", "");
    EXPECT_FALSE(fs().makeDirectories((dir / "file").c_str()));
    EXPECT_FALSE(fs().makeDirectories((dir / "file/sub").c_str()));
}

TEST(VfsPlatform, RemoveDeletesFilesAndEmptyDirectoriesOnly) {
    TempDir dir;
    vfstest::writeText(dir / "f", "");
    ASSERT_TRUE(fs().makeDirectories((dir / "full/inner").c_str()));
    ASSERT_TRUE(fs().makeDirectories((dir / "empty").c_str()));
    EXPECT_TRUE(fs().remove((dir / "f").c_str()));
    EXPECT_TRUE(fs().remove((dir / "empty").c_str()));
    EXPECT_FALSE(fs().remove((dir / "full").c_str()));
    EXPECT_FALSE(fs().remove((dir / "f").c_str()));
    EXPECT_EQ(fs().pathKind((dir / "full/inner").c_str()), qzvfs::PATH_DIRECTORY);
}

TEST(VfsPlatform, SizeTimeAndStatusOfWrittenFile) {
    TempDir dir;
    const std::string path = dir / "sized.bin";
    {
        qzvfs::FilePtr file(fs().openRewrite(path.c_str()));
        ASSERT_TRUE(file);
        ASSERT_EQ(file->write("12345", 5), 5u);
    }
    const timeval times[2] = {{1000000000, 0}, {1234567890, 0}};
    ASSERT_EQ(::utimes(path.c_str(), times), 0);
    EXPECT_EQ(fs().fileSize(path.c_str()), 5u);
    EXPECT_EQ(fs().modificationTime(path.c_str()), 1234567890);
    qzvfs::FileStatus status;
    ASSERT_TRUE(fs().status(path.c_str(), &status));
    EXPECT_EQ(status.size, 5u);
    EXPECT_EQ(status.modificationTime, 1234567890);
    EXPECT_EQ(status.kind, qzvfs::PATH_FILE);
    ASSERT_TRUE(fs().status(dir.path().c_str(), &status));
    EXPECT_EQ(status.kind, qzvfs::PATH_DIRECTORY);
    EXPECT_FALSE(fs().status((dir / "missing").c_str(), &status));
    EXPECT_EQ(fs().fileSize((dir / "missing").c_str()), 0u);
    EXPECT_EQ(fs().modificationTime((dir / "missing").c_str()), 0);
}

TEST(VfsPlatform, FullPathResolvesDotsByText) {
    const std::string cwd = fs().fullPath(nullptr);
    ASSERT_FALSE(cwd.empty());
    EXPECT_EQ(cwd[0], '/');
    EXPECT_EQ(fs().fullPath(""), cwd);
    EXPECT_EQ(fs().fullPath("/a/./b/../c//d/"), "/a/c/d");
    EXPECT_EQ(fs().fullPath("/../.."), "/");
    EXPECT_EQ(fs().fullPath("x/y"), (cwd == "/" ? "" : cwd) + "/x/y");
}

TEST(VfsPlatform, FullPathIntoBufferNeedsRoomForTerminator) {
    char buffer[7];
    std::memset(buffer, 'z', sizeof buffer);
    EXPECT_TRUE(fs().fullPathInto("/ab/cd", buffer, 7));
    EXPECT_STREQ(buffer, "/ab/cd");
    EXPECT_FALSE(fs().fullPathInto("/ab/cde", buffer, 7));
    EXPECT_STREQ(buffer, "");
    EXPECT_FALSE(fs().fullPathInto("/a", nullptr, 7));
    EXPECT_FALSE(fs().fullPathInto("/a", buffer, 0));
}

TEST(VfsPlatform, TempFolderFollowsTmpdirOnlyWhenItIsADirectory) {
    TempDir dir;
    {
        EnvVar tmp("TMPDIR", dir.path() + "/");
        EXPECT_EQ(fs().tempFolder(), dir.path());
    }
    {
        EnvVar tmp("TMPDIR", dir / "missing");
        EXPECT_EQ(fs().tempFolder(), "/tmp");
    }
}

TEST(VfsPlatform, LocalAppDataFolderIsXdgDataHomeElseHomeLocalShare) {
    TempDir dir;
    {
        EnvVar data("XDG_DATA_HOME", dir / "data");
        EXPECT_EQ(fs().localAppDataFolder(), dir / "data");
        EXPECT_TRUE(vfstest::isDir(dir / "data"));
    }
    {
        EnvVar data("XDG_DATA_HOME", std::string("relative/ignored"));
        EnvVar home("HOME", dir.path());
        EXPECT_EQ(fs().localAppDataFolder(), dir / ".local/share");
    }
    {
        vfstest::writeText(dir / "file", "");
        EnvVar data("XDG_DATA_HOME", dir / "file/data");
        EXPECT_EQ(fs().localAppDataFolder(), ".");
    }
}

}  // namespace

namespace {

TEST(VfsPlatform, PathsPastTheOldLengthLimitWork) {
    vfstest::TempDir dir;
    std::string folder = dir.path();
    for (int i = 0; i < 12; ++i) folder += "/" + std::string(30, char('a' + i));
    ASSERT_GT(folder.size(), 360u);
    ASSERT_TRUE(qzvfs::platformFiles().makeDirectories(folder.c_str()));
    const std::string path = folder + "/model.tav";
    {
        qzvfs::FilePtr file(qzvfs::platformFiles().openRewrite(path.c_str()));
        ASSERT_TRUE(file);
        EXPECT_EQ(file->write("long", 4), 4u);
    }
    EXPECT_EQ(qzvfs::platformFiles().fileSize(path.c_str()), 4u);
    EXPECT_EQ(qzvfs::platformFiles().fullPath(path.c_str()), path);
}

}  // namespace
