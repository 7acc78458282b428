// Messages of the Core library that users read in their logs, word for word
// and with their levels: support notes and users' scripts search for them.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <tuple>

#include "CoreTestSupport.h"
#include "qz/tasks/SyncTaskQueue.h"
#include "qzvfs/Manager.h"
#include "qzvfs/UserFolders.h"

namespace {

using namespace coretest;
// Name, what provokes the messages, the lines expected with their levels as the
// log writes them ("$D" is the temporary folder).
using Case = std::tuple<const char*, std::function<void(const TempDir&)>, std::string>;

class UserVisibleMessage : public ::testing::TestWithParam<Case> {};

TEST_P(UserVisibleMessage, TextOrLevelHasNotDrifted) {
    TempDir dir;
    // HOME is the temporary folder, where 'My Games' cannot be made; no 'Saved
    // Games' and no configuration can be had below that file either.
    const std::string file = dir / "Documents/My Games";
    std::filesystem::create_directory(dir / "Documents");
    writeText(file, "");
    EnvVar home("HOME", dir.path()), data("XDG_DATA_HOME", file), config("XDG_CONFIG_HOME", file);
    LogCapture log;
    std::get<1>(GetParam())(dir);
    std::string got, expected = std::get<2>(GetParam());
    for (const auto& line : log.lines()) got += qz::levelName(line.level) + (" " + line.text) + "\n";
    for (size_t at; (at = expected.find("$D")) != std::string::npos;) expected.replace(at, 2, dir.path());
    EXPECT_EQ(got, expected);
}

const std::string kSavedGamesFailed = "ERROR   Can't get 'Saved Games'\nERROR   Failed to open "
    "'%USERPROFILE%\\Saved Games', trying to use 'MyDocuments\\My Games'\n";

INSTANTIATE_TEST_SUITE_P(CoreMessages, UserVisibleMessage, ::testing::Values(
    Case{"UserFolderMyGames", [](auto& d) { EnvVar home("HOME", d / "new"); qzvfs::userFolder(); },
         kSavedGamesFailed + "INFO    Successfully opened 'MyDocuments\\My Games'\n"},
    Case{"UserFolderDocuments", [](auto&) { qzvfs::userFolder(); },
         kSavedGamesFailed + "ERROR   Can't create 'My Games' as \"$D/Documents/My Games\"\nERROR   Failed to open "
         "'MyDocuments\\My Games', trying to use 'MyDocuments'\nINFO    Successfully opened 'MyDocuments'\n"},
    // HOME is a file: no documents folder can be had.
    Case{"UserFolderCurrent", [](auto& d) { EnvVar home("HOME", d / "Documents/My Games"); qzvfs::userFolder(); },
         kSavedGamesFailed + "ERROR   Can't get 'My Documents' folder\nERROR   Failed to open "
         "'MyDocuments\\My Games', trying to use 'MyDocuments'\nERROR   Can't get 'My Documents' folder\n"
         "WARNING Failed to open 'MyDocuments', using current folder '.'\n"},
    Case{"TaskQueueDestroyedWithPendingTasks", [](auto&) { qz::SyncTaskQueue().push("left", [] {}); },
         "WARNING qz::SyncTaskQueue is destructed with pending tasks on board\n"},
    Case{"DriverFactoryRefusesTheSource", [](auto&) {
             qzvfs::Manager manager(false);
             manager.addDriverFactory([](auto&, std::string& error) { error = "bad header"; return nullptr; });
             manager.mount("pack.zip", "m", "t"); },
         "ERROR   Drivers errors while mounting pack.zip:\nERROR   \tbad header\n"}),
    [](const auto& info) { return std::string(std::get<0>(info.param)); });

}  // namespace
