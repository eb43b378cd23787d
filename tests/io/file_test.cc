#include "io/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace lorebox {
namespace {

namespace fs = std::filesystem;
using testing::read_file;
using testing::TempDir;
using testing::write_file;

class FileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    write_file(dir_ / "file", "old content");
    fs::create_directory(dir_ / "dir");
    fs::create_symlink(dir_ / "file", dir_ / "file-link");
    fs::create_directory_symlink(dir_ / "dir", dir_ / "dir-link");
  }

  TempDir dir_;
};

TEST_F(FileTest, EachModeOpensWhatItShouldAndNamesThePathOtherwise) {
  struct Case {
    const char* name;
    OpenMode mode;
    int error;  // 0 when the open succeeds
  };
  const Case cases[] = {
      {"file", OpenMode::ReadNoFollow, 0},
      {"file-link", OpenMode::ReadNoFollow, ELOOP},
      {"file-link", OpenMode::Read, 0},
      {"missing", OpenMode::Read, ENOENT},
      {"dir", OpenMode::Directory, 0},
      {"dir-link", OpenMode::Directory, 0},
      {"dir-link", OpenMode::DirectoryNoFollow, ENOTDIR},  // Linux reports a link so
      {"file", OpenMode::Directory, ENOTDIR},
      {"file", OpenMode::CreateExclusive, EEXIST},
      {"new-file", OpenMode::CreateExclusive, 0},
      {"dir", OpenMode::CreateOrTruncate, EISDIR},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int code = 0;
    Result<File> file = File::open(dir_ / c.name, c.mode, &code);
    EXPECT_EQ(file.has_value(), c.error == 0);
    if (file) {
      EXPECT_NE(::fcntl(file->fd(), F_GETFD) & FD_CLOEXEC, 0);
    } else {
      EXPECT_EQ(code, c.error);
      EXPECT_EQ(file.error(), (dir_ / c.name).string() + ": " + std::strerror(c.error));
    }
  }
}

TEST_F(FileTest, CreatedFilesGetTheirModesAndTruncateReplacesContent) {
  const mode_t mask = ::umask(022);
  Result<File> truncated = File::open(dir_ / "file", OpenMode::CreateOrTruncate);
  Result<File> exclusive = File::open(dir_ / "receipt", OpenMode::CreateExclusive);
  ::umask(mask);
  ASSERT_TRUE(truncated && exclusive);
  ASSERT_TRUE(truncated->write_all("new").has_value());
  ASSERT_TRUE(truncated->sync().has_value());
  ASSERT_TRUE(truncated->close().has_value());
  EXPECT_EQ(read_file(dir_ / "file"), "new");
  EXPECT_EQ(fs::status(dir_ / "file").permissions(), fs::perms(0644));
  EXPECT_EQ(fs::status(dir_ / "receipt").permissions(), fs::perms(0600));
}

TEST_F(FileTest, ReadsToTheEndAndReportsFailuresWithTheSystemsReason) {
  Result<File> file = File::open(dir_ / "file", OpenMode::Read);
  ASSERT_TRUE(file);
  char buffer[64];
  Result<size_t> count = file->read(buffer, sizeof buffer);
  ASSERT_TRUE(count);
  EXPECT_EQ(std::string(buffer, *count), "old content");
  EXPECT_EQ(file->read(buffer, sizeof buffer).value(), 0u);
  // Opened for reading only, so writing fails with the reason alone.
  Result<void> written = file->write_all("x");
  ASSERT_FALSE(written);
  EXPECT_EQ(written.error(), std::strerror(EBADF));

  // A full device refuses the bytes; the failure is reported, not lost.
  Result<File> full = File::open("/dev/full", OpenMode::CreateOrTruncate);
  if (full) {
    Result<void> refused = full->write_all("bytes");
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error(), std::strerror(ENOSPC));
  }
}

TEST_F(FileTest, OwnershipMovesAndEndsWithOneClose) {
  Result<File> opened = File::open(dir_ / "file", OpenMode::Read);
  ASSERT_TRUE(opened);
  const int fd = opened->fd();
  File moved = std::move(*opened);
  EXPECT_FALSE(opened->is_open());
  EXPECT_EQ(moved.fd(), fd);
  { File destroyed = std::move(moved); }
  // The destructor closed it; nothing else did, and closing the moved-from
  // file again succeeds.
  EXPECT_EQ(::fcntl(fd, F_GETFD), -1);
  EXPECT_EQ(errno, EBADF);
  EXPECT_TRUE(moved.close().has_value());
}

}  // namespace
}  // namespace lorebox
