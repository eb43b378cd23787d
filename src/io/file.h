// File: the one owner of an open descriptor. Every open, read, write, sync
// and close of a file goes through it, so interrupted calls are retried and
// failures are reported in one place.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string_view>

#include "session/result.h"

namespace lorebox {

// How File::open opens a path. Every mode adds close-on-exec.
enum class OpenMode {
  // Read-only, non-blocking, refusing a link as the last component: a
  // transcript about to be read.
  ReadNoFollow,
  // Read-only and non-blocking (so a FIFO under the name cannot stall the
  // open), links followed: the prompt histories and the session index.
  Read,
  // A directory to list, links followed.
  Directory,
  // A directory to list, refusing a link as the last component.
  DirectoryNoFollow,
  // Write-only, created or truncated, mode 0666 before the umask.
  CreateOrTruncate,
  // Write-only, created only when nothing exists at the path, mode 0600.
  CreateExclusive,
};

// Move-only owner of one descriptor; the destructor closes what is still
// open. Reads and writes retry interrupted calls. Failures other than
// open's carry the system's reason alone ("No space left on device"); the
// caller adds the context.
class File {
 public:
  // A closed file.
  File() = default;
  ~File();
  File(File&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // Opens `path`. Fails with "{path}: {reason}"; when `error_code` is given
  // it also receives the errno of the failure, for callers whose messages
  // carry their own context.
  static Result<File> open(const std::filesystem::path& path, OpenMode mode,
                           int* error_code = nullptr);

  // True while a descriptor is held.
  bool is_open() const { return fd_ >= 0; }
  // The descriptor, for status calls (fstat) that do not change ownership;
  // -1 when closed.
  int fd() const { return fd_; }

  // Reads up to `size` bytes: the count, 0 at the end of the file.
  Result<size_t> read(char* buffer, size_t size);

  // Writes all of `bytes` (see write_all below).
  Result<void> write_all(std::string_view bytes);

  // Moves the file offset (lseek); the new offset.
  Result<uint64_t> seek(int64_t offset, int whence);

  // Flushes data and metadata to the device: F_FULLFSYNC where the system
  // has it (fsync alone does not reach the platter on macOS), else fsync.
  Result<void> sync();

  // Closes the descriptor and reports a failed close (data that did not
  // reach the file). The descriptor is released either way, so the call is
  // not retried on EINTR. Closing a closed file succeeds.
  Result<void> close();

  // Gives up ownership: returns the descriptor (for fdopendir, whose
  // closedir then closes it) and leaves this file closed.
  int release();

 private:
  explicit File(int fd) : fd_(fd) {}

  int fd_ = -1;
};

// Writes all of `bytes` to `fd`, which may be one this program does not own
// (standard output, standard error). A write that takes no bytes counts as
// an I/O error rather than being retried forever.
Result<void> write_all(int fd, std::string_view bytes);

}  // namespace lorebox
