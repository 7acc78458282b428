#pragma once
// Per-user folders of the file layer (entries 13 to 15 of the platform file
// table), on the XDG base-directory conventions.
//
// Contract
// - The home folder is $HOME when it holds an absolute path, else the home folder of
//   the user's account entry. XDG_* variables count only when they hold an
//   absolute path.
// - userFolder() takes the first folder that can be had:
//   1. $XDG_DATA_HOME (else ~/.local/share) plus "/Saved Games", created if
//      missing;
//   2. the documents folder plus "/My Games", created with its parents;
//   3. the documents folder itself;
//   else ".". Each fall-back is logged (ERROR, INFO and WARNING lines with
//   source "QZCORESTATIC"), exactly as the steps below in UserFolders.cpp.
// - The documents folder is XDG_DOCUMENTS_DIR from
//   $XDG_CONFIG_HOME/user-dirs.dirs (else ~/.config/user-dirs.dirs), else
//   ~/Documents; it is created when asked for.
// - Results are absolute paths without a trailing slash, or ".".

#include <optional>
#include <string>

namespace qzvfs {

std::string userFolder();
std::string tempFolder();
std::string localAppDataFolder();

// The user's home folder, or nothing when it cannot be had.
std::optional<std::string> homeFolder();

// The documents folder (created, with its parents, when `create` is true), or
// nothing when it cannot be had or created.
std::optional<std::string> documentsFolder(bool create);

// The value of `key` (e.g. "XDG_DOCUMENTS_DIR") in the user-dirs file text
// `contents`: the last valid assignment of a double-quoted absolute path or
// "$HOME/..." path; `home` replaces "$HOME". Nothing when absent or invalid.
std::optional<std::string> parseUserDirs(const std::string& contents, const std::string& key,
                                         const std::optional<std::string>& home);

}  // namespace qzvfs
