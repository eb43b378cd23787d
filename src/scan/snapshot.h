// The checks run on every transcript file before and after it is read:
// settle (metadata of the file and every ancestor, no link anywhere),
// admit by time, open and verify, verify after read.
#pragma once

#include <sys/stat.h>
#include <time.h>

#include <optional>
#include <string>

#include "io/file.h"
#include "session/file_stamp.h"

namespace lorebox {

// The stamp of an absolute `path` when it and every ancestor up to "/" can
// be examined without following links, none of them is a symbolic link,
// and the path itself is a regular file; otherwise nothing (unavailable).
std::optional<FileStamp> settle_file(const std::string& path);

// The modification and the status-change time of `info`, to the
// nanosecond. The one place that knows each system's names for them:
// st_mtim and st_ctim on Linux (glibc and musl) and the BSDs, st_mtimespec
// and st_ctimespec on macOS.
timespec modified_time(const struct stat& info);
timespec changed_time(const struct stat& info);

// True when the modification time, as float seconds, is not before the
// epoch and strictly before `bound`.
bool admit_by_time(const FileStamp& stamp, double bound);

// Settles `path` again and opens it (read-only, no link as the last
// component, non-blocking, close-on-exec); the file when both the new
// stamp and the open file's metadata equal `stamp`, otherwise nothing
// (changed).
std::optional<File> open_and_verify(const std::string& path, const FileStamp& stamp);

// True when the open file's metadata and a new settle of `path` both still
// equal `stamp`.
bool verify_after_read(const std::string& path, const File& file, const FileStamp& stamp);

}  // namespace lorebox
