#include "io/file.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <string>

namespace lorebox {
namespace {

Error system_error(int code) { return Fail(std::strerror(code)); }

int flags_of(OpenMode mode) {
  switch (mode) {
    case OpenMode::ReadNoFollow:
      return O_RDONLY | O_NOFOLLOW | O_NONBLOCK;
    case OpenMode::Read:
      return O_RDONLY | O_NONBLOCK;
    case OpenMode::Directory:
      return O_RDONLY | O_DIRECTORY;
    case OpenMode::DirectoryNoFollow:
      return O_RDONLY | O_DIRECTORY | O_NOFOLLOW;
    case OpenMode::CreateOrTruncate:
      return O_WRONLY | O_CREAT | O_TRUNC;
    case OpenMode::CreateExclusive:
      return O_WRONLY | O_CREAT | O_EXCL;
  }
  return O_RDONLY;
}

mode_t permissions_of(OpenMode mode) {
  if (mode == OpenMode::CreateOrTruncate) return 0666;
  if (mode == OpenMode::CreateExclusive) return 0600;
  return 0;
}

}  // namespace

File::~File() {
  if (fd_ >= 0) ::close(fd_);
}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

Result<File> File::open(const std::filesystem::path& path, OpenMode mode,
                        int* error_code) {
  int fd;
  do {
    fd = ::open(path.c_str(), flags_of(mode) | O_CLOEXEC, permissions_of(mode));
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    const int code = errno;
    if (error_code != nullptr) *error_code = code;
    return Fail(path.string() + ": " + std::strerror(code));
  }
  return File(fd);
}

Result<size_t> File::read(char* buffer, size_t size) {
  while (true) {
    const ssize_t count = ::read(fd_, buffer, size);
    if (count >= 0) return static_cast<size_t>(count);
    if (errno != EINTR) return system_error(errno);
  }
}

Result<void> File::write_all(std::string_view bytes) {
  return lorebox::write_all(fd_, bytes);
}

Result<uint64_t> File::seek(int64_t offset, int whence) {
  const off_t moved = ::lseek(fd_, static_cast<off_t>(offset), whence);
  if (moved < 0) return system_error(errno);
  return static_cast<uint64_t>(moved);
}

Result<void> File::sync() {
#ifdef F_FULLFSYNC
  if (::fcntl(fd_, F_FULLFSYNC) == 0) return {};
#endif
  if (::fsync(fd_) != 0) return system_error(errno);
  return {};
}

Result<void> File::close() {
  const int fd = release();
  if (fd >= 0 && ::close(fd) != 0) return system_error(errno);
  return {};
}

int File::release() {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

Result<void> write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return system_error(errno);
    }
    if (written == 0) return system_error(EIO);
    bytes.remove_prefix(static_cast<size_t>(written));
  }
  return {};
}

}  // namespace lorebox
