#pragma once
// qzvfs::DirDriver: serves the files below one operating-system folder.
//
// Contract: its factory takes sources that are existing directories (others
// are not its kind) and fails with an error text when such a directory cannot
// be read. The folder is fixed as an absolute path at mount time. Files open
// as qzvfs::PosixFileRO; only regular files open. Names come normalised from
// the manager, so they cannot climb out of the folder by "..";
// symbolic links inside the folder are followed.

#include <memory>
#include <string>

#include "qzvfs/Drivers/IDriver.h"

namespace qzvfs {

class DirDriver : public IDriver, public std::enable_shared_from_this<DirDriver> {
public:
    static DriverFactory factory();

    DirDriver(std::string source, std::string root);

    const char* typeName() const override { return "DirDriver"; }
    bool remount(std::string& error) override;
    IFile* openRead(const std::string& virtualPath, const std::string& name) override;
    bool exists(const std::string& name) override;
    std::string realPath(const std::string& name) const override;

private:
    std::string root_;
};

}  // namespace qzvfs
