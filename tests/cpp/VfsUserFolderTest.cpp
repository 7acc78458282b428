#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "VfsTestSupport.h"
#include "qzvfs/PlatformFiles.h"
#include "qzvfs/UserFolders.h"

namespace {

using vfstest::CapturedLog;
using vfstest::EnvVar;
using vfstest::TempDir;

const std::string kSavedGamesFailed[] = {
    "Can't get 'Saved Games'",
    "Failed to open '%USERPROFILE%\\Saved Games', trying to use 'MyDocuments\\My Games'",
};

// Points HOME and the XDG variables at a temporary folder for one test.
class VfsUserFolder : public ::testing::Test {
protected:
    TempDir dir;
    EnvVar home{"HOME", dir.path()};
    EnvVar data{"XDG_DATA_HOME", std::nullopt};
    EnvVar config{"XDG_CONFIG_HOME", std::nullopt};
};

TEST_F(VfsUserFolder, SavedGamesUnderXdgDataHomeIsCreatedQuietly) {
    EnvVar xdg("XDG_DATA_HOME", dir / "xdg data");
    CapturedLog log;
    EXPECT_EQ(qzvfs::platformFiles().userFolder(), dir / "xdg data/Saved Games");
    EXPECT_TRUE(vfstest::isDir(dir / "xdg data/Saved Games"));
    EXPECT_TRUE(log.lines.empty());
}

TEST_F(VfsUserFolder, SavedGamesFallsBackToHomeLocalShare) {
    EXPECT_EQ(qzvfs::userFolder(), dir / ".local/share/Saved Games");
    EXPECT_TRUE(vfstest::isDir(dir / ".local/share/Saved Games"));
}

TEST_F(VfsUserFolder, RelativeXdgDataHomeIsIgnored) {
    EnvVar xdg("XDG_DATA_HOME", std::string("relative"));
    EXPECT_EQ(qzvfs::userFolder(), dir / ".local/share/Saved Games");
}

TEST_F(VfsUserFolder, MyGamesInXdgDocumentsFolderWhenSavedGamesFails) {
    vfstest::writeText(dir / "not-a-folder", "");
    EnvVar xdg("XDG_DATA_HOME", dir / "not-a-folder");
    ASSERT_TRUE(qzvfs::platformFiles().makeDirectories((dir / "cfg").c_str()));
    vfstest::writeText(dir / "cfg/user-dirs.dirs",
                       "# written by a test\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
                       "XDG_DOCUMENTS_DIR=\"$HOME/Docs Folder\"\n");
    EnvVar cfg("XDG_CONFIG_HOME", dir / "cfg");
    CapturedLog log;
    EXPECT_EQ(qzvfs::userFolder(), dir / "Docs Folder/My Games");
    EXPECT_TRUE(vfstest::isDir(dir / "Docs Folder/My Games"));
    EXPECT_EQ(log.texts(), (std::vector<std::string>{kSavedGamesFailed[0], kSavedGamesFailed[1],
                                                     "Successfully opened 'MyDocuments\\My Games'"}));
    EXPECT_EQ(log.lines[0].level, qz::LOG_ERROR);
    EXPECT_EQ(log.lines[1].level, qz::LOG_ERROR);
    EXPECT_EQ(log.lines[2].level, qz::LOG_INFO);
}

TEST_F(VfsUserFolder, DocumentsFolderItselfWhenMyGamesCannotBeCreated) {
    vfstest::writeText(dir / "not-a-folder", "");
    EnvVar xdg("XDG_DATA_HOME", dir / "not-a-folder");
    ASSERT_TRUE(qzvfs::platformFiles().makeDirectories((dir / "Documents").c_str()));
    vfstest::writeText(dir / "Documents/My Games", "a file in the way");
    CapturedLog log;
    EXPECT_EQ(qzvfs::userFolder(), dir / "Documents");
    EXPECT_EQ(log.texts(),
              (std::vector<std::string>{kSavedGamesFailed[0], kSavedGamesFailed[1],
                                        "Can't create 'My Games' as \"" + dir / "Documents/My Games" + "\"",
                                        "Failed to open 'MyDocuments\\My Games', trying to use 'MyDocuments'",
                                        "Successfully opened 'MyDocuments'"}));
    EXPECT_EQ(log.lines[4].level, qz::LOG_INFO);
}

TEST_F(VfsUserFolder, CurrentFolderWhenNothingCanBeHad) {
    // HOME is a file: nothing below it can be created.
    vfstest::writeText(dir / "home-file", "");
    EnvVar badHome("HOME", dir / "home-file");
    CapturedLog log;
    EXPECT_EQ(qzvfs::userFolder(), ".");
    EXPECT_EQ(log.texts(),
              (std::vector<std::string>{kSavedGamesFailed[0], kSavedGamesFailed[1],
                                        "Can't get 'My Documents' folder",
                                        "Failed to open 'MyDocuments\\My Games', trying to use 'MyDocuments'",
                                        "Can't get 'My Documents' folder",
                                        "Failed to open 'MyDocuments', using current folder '.'"}));
    ASSERT_EQ(log.lines.size(), 6u);
    EXPECT_EQ(log.lines[5].level, qz::LOG_WARNING);
}

struct UserDirsCase {
    const char* name;
    const char* contents;
    std::optional<std::string> expected;
};

class VfsUserDirsParse : public ::testing::TestWithParam<UserDirsCase> {};

TEST_P(VfsUserDirsParse, OnlyQuotedAbsoluteOrHomeRelativeValuesCount) {
    const auto& c = GetParam();
    EXPECT_EQ(qzvfs::parseUserDirs(c.contents, "XDG_DOCUMENTS_DIR", std::string("/home/u")), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    VfsHostile, VfsUserDirsParse,
    ::testing::Values(
        UserDirsCase{"HomeRelative", "XDG_DOCUMENTS_DIR=\"$HOME/Docs\"\n", "/home/u/Docs"},
        UserDirsCase{"HomeAlone", "XDG_DOCUMENTS_DIR=\"$HOME/\"", "/home/u"},
        UserDirsCase{"Absolute", "  XDG_DOCUMENTS_DIR=\"/data/docs/\"", "/data/docs"},
        UserDirsCase{"Relative", "XDG_DOCUMENTS_DIR=\"docs\"", std::nullopt},
        UserDirsCase{"Unquoted", "XDG_DOCUMENTS_DIR=$HOME/Docs", std::nullopt},
        UserDirsCase{"Unterminated", "XDG_DOCUMENTS_DIR=\"$HOME/Docs", std::nullopt},
        UserDirsCase{"Commented", "# XDG_DOCUMENTS_DIR=\"/x\"", std::nullopt},
        UserDirsCase{"OtherKeyWithSamePrefix", "XDG_DOCUMENTS_DIRS=\"/x\"", std::nullopt},
        UserDirsCase{"EscapedQuote", "XDG_DOCUMENTS_DIR=\"/a \\\"b\\\"\"", "/a \"b\""},
        UserDirsCase{"LastValidWins", "XDG_DOCUMENTS_DIR=\"/first\"\nXDG_DOCUMENTS_DIR=\"/second\"\n"
                                      "XDG_DOCUMENTS_DIR=\"bad\"\n",
                     "/second"},
        UserDirsCase{"Empty", "", std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(VfsUserDirs, HomeRelativeValueWithoutHomeIsIgnored) {
    EXPECT_EQ(qzvfs::parseUserDirs("XDG_DOCUMENTS_DIR=\"$HOME/D\"", "XDG_DOCUMENTS_DIR", std::nullopt),
              std::nullopt);
}

}  // namespace
