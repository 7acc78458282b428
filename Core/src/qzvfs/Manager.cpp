#include "qzvfs/Manager.h"

#include "qz/Log.h"
#include "qzvfs/Drivers/DirDriver.h"

namespace qzvfs {
namespace {

constexpr const char* kTag = "QZCORESTATIC";

// The name of `path` below `mountPoint`, or nothing when the path is not
// inside it. The mount point itself is not a file and gives nothing.
std::optional<std::string> nameBelow(const std::string& path, const std::string& mountPoint) {
    if (mountPoint.empty()) return path.empty() ? std::nullopt : std::optional<std::string>(path);
    if (path.size() <= mountPoint.size() + 1 || path.compare(0, mountPoint.size(), mountPoint) != 0 ||
        path[mountPoint.size()] != '/')
        return std::nullopt;
    return path.substr(mountPoint.size() + 1);
}

}  // namespace

Manager::Manager(bool defaultDrivers) {
    if (defaultDrivers) factories_.push_back(DirDriver::factory());
}

Manager::~Manager() = default;

Manager& Manager::global() {
    // Never destroyed: files may be closed while static objects die.
    static Manager* manager = new Manager;
    return *manager;
}

void Manager::addDriverFactory(DriverFactory factory) {
    std::lock_guard<std::mutex> lock(mutex_);
    factories_.push_back(std::move(factory));
}

std::optional<std::string> Manager::normalizePath(const std::string& path) {
    if (path.find('\0') != std::string::npos) return std::nullopt;
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        const std::string part = path.substr(start, end - start);
        if (part == "..") {
            if (parts.empty()) return std::nullopt;
            parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    std::string result;
    for (const auto& part : parts) {
        if (!result.empty()) result += '/';
        result += part;
    }
    return result;
}

size_t Manager::mount(const std::string& source, const std::string& mountPoint, const std::string& tag) {
    const auto point = normalizePath(mountPoint);
    if (!point) {
        qz::log(kTag, qz::LOG_ERROR, "Invalid mount point %s.", mountPoint.c_str());
        return 0;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& mount : mounts_) {
        if (mount.driver->source() != source || mount.driver->mountPoint() != *point) continue;
        qz::log(kTag, qz::LOG_WARNING, "Source %s is already mounted to the same mount %s.", source.c_str(),
                point->c_str());
        std::string error;
        if (!mount.driver->remount(error)) {
            qz::log(kTag, qz::LOG_ERROR, "Driver errors while remounting %s:", source.c_str());
            qz::log(kTag, qz::LOG_ERROR, "\t%s", error.c_str());
            return 0;
        }
        ++mount.count;
        return mount.driver->id();
    }

    std::vector<std::string> errors;
    std::shared_ptr<IDriver> driver;
    for (const auto& factory : factories_) {
        std::string error;
        driver = factory(source, error);
        if (driver) break;
        if (!error.empty()) errors.push_back(std::move(error));
    }
    if (!driver) {
        if (errors.empty()) {
            qz::log(kTag, qz::LOG_ERROR, "No suitable driver found to mount %s", source.c_str());
        } else {
            qz::log(kTag, qz::LOG_ERROR, "Drivers errors while mounting %s:", source.c_str());
            for (const auto& error : errors) qz::log(kTag, qz::LOG_ERROR, "\t%s", error.c_str());
        }
        return 0;
    }
    driver->mountPoint_ = *point;
    driver->tag_ = tag;
    driver->id_ = nextId_++;
    mounts_.push_back({driver, 1});
    qz::log(kTag, qz::LOG_INFO, "Mounted: %s into: %s with tag: %s", source.c_str(), point->c_str(), tag.c_str());
    return driver->id();
}

bool Manager::unmountLocked(size_t index) {
    Mount& mount = mounts_[index];
    const IDriver& driver = *mount.driver;
    if (mount.count > 1) {
        --mount.count;
        qz::log(kTag, qz::LOG_WARNING, "Driver %s:%s(%s) mount count: %d.", driver.typeName(),
                driver.mountPoint().c_str(), driver.source().c_str(), mount.count);
        return true;
    }
    if (driver.openFiles() > 0) {
        qz::log(kTag, qz::LOG_ERROR, "Can't unmount driver %s:%s(%s). Reason: as it has files opened.",
                driver.typeName(), driver.mountPoint().c_str(), driver.source().c_str());
        return false;
    }
    qz::log(kTag, qz::LOG_DEBUG, "Unmounted source: %s, tag: %s, driver: %s.", driver.source().c_str(),
            driver.tag().c_str(), driver.typeName());
    mounts_.erase(mounts_.begin() + static_cast<std::ptrdiff_t>(index));
    return true;
}

bool Manager::unmount(size_t driverId) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (size_t i = 0; i < mounts_.size(); ++i)
        if (mounts_[i].driver->id() == driverId) return unmountLocked(i);
    qz::log(kTag, qz::LOG_ERROR, "Can't found drivers with given id == %zu", driverId);
    return false;
}

bool Manager::unmount_by_tag(const std::string& tag) {
    std::lock_guard<std::mutex> lock(mutex_);
    bool found = false;
    bool all = true;
    // Backwards, so erasing keeps the indices still to visit valid.
    for (size_t i = mounts_.size(); i-- > 0;) {
        if (mounts_[i].driver->tag() != tag) continue;
        found = true;
        all = unmountLocked(i) && all;
    }
    if (!found) {
        const std::string reason = "no drivers with tag '" + tag + "'";
        qz::log(kTag, qz::LOG_ERROR, "Can't unmount drivers. Reason: %s", reason.c_str());
    }
    return found && all;
}

bool Manager::unmount_by_source(const std::string& source) {
    std::lock_guard<std::mutex> lock(mutex_);
    bool found = false;
    bool all = true;
    for (size_t i = mounts_.size(); i-- > 0;) {
        if (mounts_[i].driver->source() != source) continue;
        found = true;
        all = unmountLocked(i) && all;
    }
    if (!found) {
        const std::string reason = "no drivers with source '" + source + "'";
        qz::log(kTag, qz::LOG_ERROR, "Can't unmount drivers. Reason: %s", reason.c_str());
    }
    return found && all;
}

IFile* Manager::openRead(const std::string& path, bool quiet) {
    if (const auto name = normalizePath(path)) {
        std::lock_guard<std::mutex> lock(mutex_);
        for (size_t i = mounts_.size(); i-- > 0;) {
            IDriver& driver = *mounts_[i].driver;
            const auto below = nameBelow(*name, driver.mountPoint());
            if (!below) continue;
            if (IFile* file = driver.openRead(path, *below)) return file;
        }
    }
    if (!quiet) qz::log(kTag, qz::LOG_ERROR, "Can't open file: %s.", path.c_str());
    return nullptr;
}

IFile* Manager::openWrite(const std::string& path, bool quiet) {
    if (!quiet) qz::log(kTag, qz::LOG_ERROR, "Trying to open %s on ro vfs.", path.c_str());
    return nullptr;
}

IFile* Manager::open(const std::string& path, OpenMode mode, bool quiet) {
    if (mode == OpenMode::Read) return openRead(path, quiet);
    if (!quiet)
        qz::log(kTag, qz::LOG_ERROR, "Can't open file not for reading: %s. VFS supports only open for reading.",
                path.c_str());
    return nullptr;
}

bool Manager::exists(const std::string& path) {
    const auto name = normalizePath(path);
    if (!name) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    for (size_t i = mounts_.size(); i-- > 0;) {
        IDriver& driver = *mounts_[i].driver;
        if (const auto below = nameBelow(*name, driver.mountPoint()); below && driver.exists(*below)) return true;
    }
    return false;
}

size_t Manager::mountedCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return mounts_.size();
}

}  // namespace qzvfs
