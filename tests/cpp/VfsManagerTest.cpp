#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "VfsTestSupport.h"
#include "qzvfs/Manager.h"
#include "qzvfs/PlatformFiles.h"

namespace {

using vfstest::CapturedLog;
using vfstest::TempDir;

std::string readAll(qzvfs::IFile& file) {
    std::string text(static_cast<size_t>(file.size()), '\0');
    text.resize(file.read(text.data(), text.size()));
    return text;
}

class VfsManager : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(qzvfs::platformFiles().makeDirectories((dir / "sub").c_str()));
        vfstest::writeText(dir / "sub/a.bin", "payload");
        vfstest::writeText(dir / "top.txt", "top");
    }
    TempDir dir;
    qzvfs::Manager manager;
};

TEST_F(VfsManager, DirectoryMountReadsFilesBackWithTheirNames) {
    CapturedLog log;
    const size_t id = manager.mount(dir.path(), "/models/", "art");
    ASSERT_NE(id, 0u);
    EXPECT_EQ(log.texts(), std::vector<std::string>{"Mounted: " + dir.path() + " into: models with tag: art"});
    qzvfs::FilePtr file(manager.openRead("models//sub/./a.bin", false));
    ASSERT_TRUE(file);
    EXPECT_EQ(readAll(*file), "payload");
    EXPECT_EQ(file->getPath(), "models//sub/./a.bin");
    EXPECT_EQ(file->getSecondName(), "sub/a.bin");
    EXPECT_EQ(file->getRealPath(), dir / "sub/a.bin");
    EXPECT_EQ(file->getMountPoint(), "models");
    EXPECT_EQ(file->getSource(), dir.path());
    EXPECT_TRUE(manager.exists("models/top.txt"));
    EXPECT_FALSE(manager.exists("models/none"));
}

TEST_F(VfsManager, OpeningForWritingIsRefusedWithItsMessages) {
    manager.mount(dir.path(), "m", "t");
    {
        CapturedLog log;
        EXPECT_EQ(manager.openWrite("m/top.txt", false), nullptr);
        EXPECT_EQ(manager.open("m/top.txt", qzvfs::OpenMode::Rewrite, false), nullptr);
        EXPECT_EQ(manager.open("m/top.txt", qzvfs::OpenMode::Append, false), nullptr);
        EXPECT_EQ(log.texts(),
                  (std::vector<std::string>{
                      "Trying to open m/top.txt on ro vfs.",
                      "Can't open file not for reading: m/top.txt. VFS supports only open for reading.",
                      "Can't open file not for reading: m/top.txt. VFS supports only open for reading."}));
        for (const auto& line : log.lines) EXPECT_EQ(line.level, qz::LOG_ERROR);
    }
    CapturedLog quiet;
    EXPECT_EQ(manager.openWrite("m/top.txt", true), nullptr);
    EXPECT_EQ(manager.open("m/top.txt", qzvfs::OpenMode::Rewrite, true), nullptr);
    EXPECT_TRUE(quiet.lines.empty());
    EXPECT_EQ(vfstest::readText(dir / "top.txt"), "top");
}

TEST_F(VfsManager, PathsClimbingOutOfTheMountOpenNothing) {
    TempDir outside;
    vfstest::writeText(outside / "secret", "s");
    manager.mount(dir / "sub", "m", "t");
    const std::string escape = "m/../../" + outside.path().substr(1) + "/secret";
    for (const std::string& path : {std::string("../top.txt"), std::string("m/../../top.txt"), escape,
                                    std::string("m"), std::string("m/"), std::string(""),
                                    std::string("m/a.bin\0x", 9), std::string("m/missing")}) {
        CapturedLog log;
        EXPECT_EQ(manager.openRead(path, false), nullptr) << path;
        EXPECT_EQ(log.texts(), std::vector<std::string>{"Can't open file: " + std::string(path.c_str()) + "."});
    }
    qzvfs::FilePtr ok(manager.openRead("m/x/../a.bin", true));
    EXPECT_TRUE(ok);
}

TEST_F(VfsManager, DirectoriesAreNotFiles) {
    manager.mount(dir.path(), "", "t");
    EXPECT_EQ(manager.openRead("sub", true), nullptr);
    qzvfs::FilePtr file(manager.openRead("/top.txt", true));
    EXPECT_TRUE(file);
}

TEST_F(VfsManager, MountFailuresAreLoggedWithTheirMessages) {
    {
        CapturedLog log;
        EXPECT_EQ(manager.mount(dir.path(), "a/../../b", "t"), 0u);
        EXPECT_EQ(log.texts(), std::vector<std::string>{"Invalid mount point a/../../b."});
    }
    {
        CapturedLog log;
        EXPECT_EQ(manager.mount(dir / "top.txt", "m", "t"), 0u);
        EXPECT_EQ(manager.mount(dir / "missing", "m", "t"), 0u);
        EXPECT_EQ(log.texts(), (std::vector<std::string>{"No suitable driver found to mount " + dir / "top.txt",
                                                         "No suitable driver found to mount " + dir / "missing"}));
    }
    qzvfs::Manager failing(false);
    failing.addDriverFactory([](const std::string&, std::string& error) -> std::shared_ptr<qzvfs::IDriver> {
        error = "archive is damaged";
        return nullptr;
    });
    failing.addDriverFactory([](const std::string&, std::string& error) -> std::shared_ptr<qzvfs::IDriver> {
        error = "bad header";
        return nullptr;
    });
    CapturedLog log;
    EXPECT_EQ(failing.mount("pack.zip", "m", "t"), 0u);
    EXPECT_EQ(log.texts(), (std::vector<std::string>{"Drivers errors while mounting pack.zip:",
                                                     "\tarchive is damaged", "\tbad header"}));
    EXPECT_EQ(failing.mountedCount(), 0u);
}

TEST_F(VfsManager, SecondMountRaisesCountAndEachUnmountLowersIt) {
    const size_t id = manager.mount(dir.path(), "m", "t");
    CapturedLog log;
    EXPECT_EQ(manager.mount(dir.path(), "m", "t"), id);
    EXPECT_EQ(manager.mountedCount(), 1u);
    EXPECT_TRUE(manager.unmount(id));
    EXPECT_EQ(manager.mountedCount(), 1u);
    EXPECT_TRUE(manager.unmount(id));
    EXPECT_EQ(manager.mountedCount(), 0u);
    const std::string& src = dir.path();
    EXPECT_EQ(log.texts(), (std::vector<std::string>{"Source " + src + " is already mounted to the same mount m.",
                                                     "Driver DirDriver:m(" + src + ") mount count: 1.",
                                                     "Unmounted source: " + src + ", tag: t, driver: DirDriver."}));
    EXPECT_EQ(log.lines[1].level, qz::LOG_WARNING);
    EXPECT_EQ(log.lines[2].level, qz::LOG_DEBUG);
}

TEST_F(VfsManager, RemountOfVanishedSourceFails) {
    TempDir gone;
    const std::string source = gone / "src";
    ASSERT_TRUE(qzvfs::platformFiles().makeDirectories(source.c_str()));
    ASSERT_NE(manager.mount(source, "m", "t"), 0u);
    ASSERT_TRUE(qzvfs::platformFiles().remove(source.c_str()));
    vfstest::writeText(source, "now a file");
    CapturedLog log;
    EXPECT_EQ(manager.mount(source, "m", "t"), 0u);
    ASSERT_EQ(log.lines.size(), 3u);
    EXPECT_EQ(log.lines[1].text, "Driver errors while remounting " + source + ":");
    EXPECT_EQ(log.lines[2].text, "\t'" + source + "' is not a directory");
}

TEST_F(VfsManager, DriverWithOpenFilesIsNotUnmounted) {
    const size_t id = manager.mount(dir.path(), "m", "t");
    qzvfs::FilePtr file(manager.openRead("m/top.txt", false));
    ASSERT_TRUE(file);
    {
        CapturedLog log;
        EXPECT_FALSE(manager.unmount(id));
        EXPECT_FALSE(manager.unmount_by_tag("t"));
        EXPECT_FALSE(manager.unmount_by_source(dir.path()));
        const std::string refusal = "Can't unmount driver DirDriver:m(" + dir.path() + "). Reason: as it has files opened.";
        EXPECT_EQ(log.texts(), (std::vector<std::string>{refusal, refusal, refusal}));
    }
    file.reset();
    EXPECT_TRUE(manager.unmount_by_tag("t"));
    EXPECT_EQ(manager.mountedCount(), 0u);
}

TEST_F(VfsManager, UnmountOfUnknownDriversFailsWithReason) {
    manager.mount(dir.path(), "m", "t");
    CapturedLog log;
    EXPECT_FALSE(manager.unmount(9999));
    EXPECT_FALSE(manager.unmount_by_tag("nope"));
    EXPECT_FALSE(manager.unmount_by_source("/nowhere"));
    EXPECT_EQ(log.texts(), (std::vector<std::string>{"Can't found drivers with given id == 9999",
                                                     "Can't unmount drivers. Reason: no drivers with tag 'nope'",
                                                     "Can't unmount drivers. Reason: no drivers with source '/nowhere'"}));
    EXPECT_TRUE(manager.unmount_by_source(dir.path()));
}

TEST_F(VfsManager, LatestMountShadowsEarlierOne) {
    TempDir other;
    vfstest::writeText(other / "top.txt", "newer");
    manager.mount(dir.path(), "m", "old");
    manager.mount(other.path(), "m", "new");
    qzvfs::FilePtr newer(manager.openRead("m/top.txt", false));
    ASSERT_TRUE(newer);
    EXPECT_EQ(readAll(*newer), "newer");
    newer.reset();
    manager.unmount_by_tag("new");
    qzvfs::FilePtr older(manager.openRead("m/top.txt", false));
    ASSERT_TRUE(older);
    EXPECT_EQ(readAll(*older), "top");
}

TEST_F(VfsManager, OpenFileOutlivesItsManager) {
    auto local = std::make_unique<qzvfs::Manager>();
    local->mount(dir.path(), "m", "t");
    qzvfs::FilePtr file(local->openRead("m/sub/a.bin", false));
    ASSERT_TRUE(file);
    local.reset();
    EXPECT_EQ(readAll(*file), "payload");
    EXPECT_EQ(file->getMountPoint(), "m");
}

TEST_F(VfsManager, TableEntryZeroReadsThroughGlobalManagerQuietly) {
    auto& global = qzvfs::Manager::global();
    ASSERT_NE(global.mount(dir.path(), "vfs-test-mount", "vfs-test"), 0u);
    {
        qzvfs::FilePtr file(qzvfs::platformFiles().openRead("vfs-test-mount/top.txt"));
        ASSERT_TRUE(file);
        EXPECT_EQ(readAll(*file), "top");
        CapturedLog log;
        EXPECT_EQ(qzvfs::platformFiles().openRead("vfs-test-mount/none"), nullptr);
        EXPECT_TRUE(log.lines.empty());
        qzvfs::FilePtr byMode(qzvfs::openFile("vfs-test-mount/sub/a.bin", qzvfs::OpenMode::Read));
        EXPECT_TRUE(byMode);
    }
    EXPECT_TRUE(global.unmount_by_tag("vfs-test"));
}

}  // namespace
