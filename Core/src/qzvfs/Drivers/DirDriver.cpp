#include "qzvfs/Drivers/DirDriver.h"

#include <dirent.h>

#include <cerrno>

#include "qzvfs/OsError.h"
#include "qzvfs/PlatformFiles.h"
#include "qzvfs/PosixFileRO.h"

namespace qzvfs {
namespace {

// Empty when the folder can be listed, else the reason.
std::string readableDirectoryError(const std::string& root, const std::string& source) {
    if (!platformFiles().isDirectory(root.c_str())) return "'" + source + "' is not a directory";
    DIR* dir = ::opendir(root.c_str());
    if (!dir) return "Can't read directory '" + source + "': " + osErrorText(errno);
    ::closedir(dir);
    return {};
}

}  // namespace

DriverFactory DirDriver::factory() {
    return [](const std::string& source, std::string& error) -> std::shared_ptr<IDriver> {
        if (source.empty() || source.find('\0') != std::string::npos ||
            !platformFiles().isDirectory(source.c_str()))
            return nullptr;  // not a folder: another driver's kind
        const std::string root = platformFiles().fullPath(source.c_str());
        error = readableDirectoryError(root, source);
        if (!error.empty()) return nullptr;
        return std::make_shared<DirDriver>(source, root);
    };
}

DirDriver::DirDriver(std::string source, std::string root) : IDriver(std::move(source)), root_(std::move(root)) {}

bool DirDriver::remount(std::string& error) {
    error = readableDirectoryError(root_, source());
    return error.empty();
}

IFile* DirDriver::openRead(const std::string& virtualPath, const std::string& name) {
    return PosixFileRO::open(realPath(name), virtualPath, name, shared_from_this());
}

bool DirDriver::exists(const std::string& name) { return platformFiles().exists(realPath(name).c_str()); }

std::string DirDriver::realPath(const std::string& name) const {
    return root_ == "/" ? "/" + name : root_ + "/" + name;
}

}  // namespace qzvfs
