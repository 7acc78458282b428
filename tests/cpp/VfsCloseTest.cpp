#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <string>

#include "VfsTestSupport.h"
#include "qzvfs/PosixFileRaw.h"

namespace {

using vfstest::TempDir;

struct Closer {
    void operator()(qzvfs::PosixFileRaw* file) const { file->close(); }
};
using FileHandle = std::unique_ptr<qzvfs::PosixFileRaw, Closer>;

// A close the system refuses must reach the caller: some file systems report
// data they could not store only there.
TEST(VfsClose, RefusedCloseIsReportedOnceWithItsReason) {
    TempDir dir;
    FileHandle file(qzvfs::PosixFileRaw::openRewrite(dir / "a.tav"));
    ASSERT_TRUE(file);
    ASSERT_EQ(::close(file->descriptor()), 0);  // the descriptor is already gone
    errno = 0;
    EXPECT_FALSE(file->closeDescriptor());
    EXPECT_EQ(errno, EBADF);
    EXPECT_EQ(file->descriptor(), -1);
    // The descriptor is never closed twice (it may belong to another file by now).
    EXPECT_TRUE(file->closeDescriptor());
}

TEST(VfsClose, DescriptorClosedEarlyIsNotClosedAgainByTheFile) {
    TempDir dir;
    FileHandle file(qzvfs::PosixFileRaw::openRewrite(dir / "b.tav"));
    ASSERT_TRUE(file);
    ASSERT_EQ(file->write("abc", 3), 3u);
    const int fd = file->descriptor();
    ASSERT_TRUE(file->closeDescriptor());
    // A new file now takes the number; closing the first must leave it open.
    FileHandle other(qzvfs::PosixFileRaw::openRewrite(dir / "c.tav"));
    ASSERT_TRUE(other);
    ASSERT_EQ(other->descriptor(), fd);
    file.reset();
    EXPECT_EQ(other->write("xyz", 3), 3u);
    EXPECT_EQ(vfstest::readText(dir / "b.tav"), "abc");
}

}  // namespace
