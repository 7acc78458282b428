#include "qzvfs/UserFolders.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include "qz/Log.h"
#include "qzvfs/PlatformFiles.h"

namespace qzvfs {
namespace {

constexpr const char* kTag = "QZCORESTATIC";

std::string withoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

std::string join(const std::string& base, const char* name) {
    return base == "/" ? std::string("/") + name : base + "/" + name;
}

// An XDG variable counts only when it holds an absolute path.
std::optional<std::string> absoluteEnv(const char* name) {
    const char* value = std::getenv(name);
    if (!value || value[0] != '/') return std::nullopt;
    return withoutTrailingSlashes(value);
}

std::optional<std::string> dataHome() {
    if (auto value = absoluteEnv("XDG_DATA_HOME")) return value;
    if (auto home = homeFolder()) return join(*home, ".local/share");
    return std::nullopt;
}

std::optional<std::string> configHome() {
    if (auto value = absoluteEnv("XDG_CONFIG_HOME")) return value;
    if (auto home = homeFolder()) return join(*home, ".config");
    return std::nullopt;
}

bool makeDirectories(const std::string& path) { return platformFiles().makeDirectories(path.c_str()); }

std::optional<std::string> savedGamesFolder() {
    auto data = dataHome();
    if (!data) return std::nullopt;
    std::string folder = join(*data, "Saved Games");
    if (!makeDirectories(folder)) return std::nullopt;
    return folder;
}

}  // namespace

std::optional<std::string> homeFolder() {
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/') return withoutTrailingSlashes(home);
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_dir && found->pw_dir[0] == '/')
        return withoutTrailingSlashes(found->pw_dir);
    return std::nullopt;
}

std::optional<std::string> parseUserDirs(const std::string& contents, const std::string& key,
                                         const std::optional<std::string>& home) {
    std::optional<std::string> result;
    std::istringstream lines(contents);
    std::string line;
    while (std::getline(lines, line)) {
        size_t at = line.find_first_not_of(" \t");
        if (at == std::string::npos || line[at] == '#') continue;
        if (line.compare(at, key.size(), key) != 0) continue;
        at += key.size();
        if (at >= line.size() || line[at] != '=') continue;
        ++at;
        if (at >= line.size() || line[at] != '"') continue;
        ++at;
        std::string value;
        bool closed = false;
        for (; at < line.size(); ++at) {
            if (line[at] == '\\' && at + 1 < line.size()) {
                value += line[++at];
            } else if (line[at] == '"') {
                closed = true;
                break;
            } else {
                value += line[at];
            }
        }
        if (!closed) continue;
        if (value == "$HOME" || value.rfind("$HOME/", 0) == 0) {
            if (!home) continue;
            value = *home + value.substr(5);
        } else if (value.empty() || value[0] != '/') {
            continue;  // only absolute and $HOME-relative paths are valid
        }
        result = withoutTrailingSlashes(value);
    }
    return result;
}

std::optional<std::string> documentsFolder(bool create) {
    const auto home = homeFolder();
    std::optional<std::string> folder;
    if (auto config = configHome()) {
        std::ifstream file(join(*config, "user-dirs.dirs"));
        if (file) {
            std::stringstream contents;
            contents << file.rdbuf();
            folder = parseUserDirs(contents.str(), "XDG_DOCUMENTS_DIR", home);
        }
    }
    if (!folder && home) folder = join(*home, "Documents");
    if (!folder) return std::nullopt;
    if (create && !makeDirectories(*folder)) return std::nullopt;
    return folder;
}

std::string userFolder() {
    // Step 1: the saved-games folder.
    if (auto folder = savedGamesFolder()) return *folder;
    qz::log(kTag, qz::LOG_ERROR, "Can't get 'Saved Games'");
    qz::log(kTag, qz::LOG_ERROR, "Failed to open '%%USERPROFILE%%\\Saved Games', trying to use 'MyDocuments\\My Games'");

    // Step 2: "My Games" in the documents folder.
    if (auto documents = documentsFolder(true)) {
        const std::string games = join(*documents, "My Games");
        if (makeDirectories(games)) {
            qz::log(kTag, qz::LOG_INFO, "Successfully opened 'MyDocuments\\My Games'");
            return games;
        }
        qz::log(kTag, qz::LOG_ERROR, "Can't create 'My Games' as \"%s\"", games.c_str());
    } else {
        qz::log(kTag, qz::LOG_ERROR, "Can't get 'My Documents' folder");
    }
    qz::log(kTag, qz::LOG_ERROR, "Failed to open 'MyDocuments\\My Games', trying to use 'MyDocuments'");

    // Step 3: the documents folder itself.
    if (auto documents = documentsFolder(true)) {
        qz::log(kTag, qz::LOG_INFO, "Successfully opened 'MyDocuments'");
        return *documents;
    }
    qz::log(kTag, qz::LOG_ERROR, "Can't get 'My Documents' folder");
    qz::log(kTag, qz::LOG_WARNING, "Failed to open 'MyDocuments', using current folder '.'");
    return ".";
}

std::string tempFolder() {
    if (const char* value = std::getenv("TMPDIR"); value && *value) {
        const std::string folder = withoutTrailingSlashes(value);
        if (platformFiles().isDirectory(folder.c_str())) return platformFiles().fullPath(folder.c_str());
    }
    if (platformFiles().isDirectory("/tmp")) return "/tmp";
    return ".";
}

std::string localAppDataFolder() {
    auto data = dataHome();
    if (data && makeDirectories(*data)) return *data;
    return ".";
}

}  // namespace qzvfs
