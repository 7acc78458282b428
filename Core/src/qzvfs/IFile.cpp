#include "qzvfs/IFile.h"

#include "qz/Log.h"

namespace qzvfs {

IFile::~IFile() = default;

const std::string& IFile::getSecondName() const {
    static const std::string empty;
    return empty;
}

const uint8_t* IFile::mappedData() { return nullptr; }

std::string IFile::getRealPath() const { return getPath(); }
std::string IFile::getMountPoint() const { return {}; }
std::string IFile::getSource() const { return {}; }

size_t VFS_write(IFile* file, const void* data, size_t size) {
    if (!file) {
        qz::log("VFS", qz::LOG_ERROR, "VFS_write(NULL)");
        return 0;
    }
    return file->write(data, size);
}

void VFS_close(IFile* file) {
    if (file) file->close();
}

}  // namespace qzvfs
