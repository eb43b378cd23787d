#include "scan/snapshot.h"

namespace lorebox {
namespace {

// The stamp of the metadata, without a path (paths are never compared).
FileStamp stamp_of(const struct stat& info) {
  FileStamp stamp;
  stamp.device = static_cast<uint64_t>(info.st_dev);
  stamp.inode = static_cast<uint64_t>(info.st_ino);
  stamp.mode = static_cast<uint16_t>(info.st_mode);
  stamp.size = static_cast<int64_t>(info.st_size);
  const timespec modified = modified_time(info);
  const timespec changed = changed_time(info);
  stamp.modified_seconds = static_cast<int64_t>(modified.tv_sec);
  stamp.modified_nanoseconds = static_cast<int64_t>(modified.tv_nsec);
  stamp.changed_seconds = static_cast<int64_t>(changed.tv_sec);
  stamp.changed_nanoseconds = static_cast<int64_t>(changed.tv_nsec);
  return stamp;
}

// lstat that succeeds only on something other than a symbolic link.
bool examine_without_link(const char* path, struct stat* info) {
  return ::lstat(path, info) == 0 && !S_ISLNK(info->st_mode);
}

// The settled metadata of `path`, as settle_file describes.
bool settle(const std::string& path, struct stat* info) {
  if (path.size() < 2 || path[0] != '/') return false;
  if (!examine_without_link("/", info)) return false;
  // Each ancestor is the path cut at one of its slashes, top-most first.
  std::string prefix = path;
  for (size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    prefix[slash] = '\0';
    bool ok = examine_without_link(prefix.c_str(), info);
    prefix[slash] = '/';
    if (!ok) return false;
  }
  return examine_without_link(path.c_str(), info) && S_ISREG(info->st_mode);
}

// True when `path` settles to the same stamp again.
bool settles_unchanged(const std::string& path, const FileStamp& stamp) {
  struct stat info;
  return settle(path, &info) && same_stamp(stamp_of(info), stamp);
}

}  // namespace

#if defined(__APPLE__)
timespec modified_time(const struct stat& info) { return info.st_mtimespec; }
timespec changed_time(const struct stat& info) { return info.st_ctimespec; }
#else
timespec modified_time(const struct stat& info) { return info.st_mtim; }
timespec changed_time(const struct stat& info) { return info.st_ctim; }
#endif

std::optional<FileStamp> settle_file(const std::string& path) {
  struct stat info;
  if (!settle(path, &info)) return std::nullopt;
  FileStamp stamp = stamp_of(info);
  stamp.path = path;
  return stamp;
}

bool admit_by_time(const FileStamp& stamp, double bound) {
  if (stamp.modified_seconds < 0) return false;
  double modified = static_cast<double>(stamp.modified_seconds) +
                    static_cast<double>(stamp.modified_nanoseconds) / 1e9;
  return modified < bound;
}

std::optional<File> open_and_verify(const std::string& path, const FileStamp& stamp) {
  if (!settles_unchanged(path, stamp)) return std::nullopt;
  Result<File> file = File::open(path, OpenMode::ReadNoFollow);
  if (!file) return std::nullopt;
  struct stat info;
  if (::fstat(file->fd(), &info) != 0 || !same_stamp(stamp_of(info), stamp)) {
    return std::nullopt;
  }
  return std::move(*file);
}

bool verify_after_read(const std::string& path, const File& file,
                       const FileStamp& stamp) {
  struct stat info;
  if (::fstat(file.fd(), &info) != 0 || !same_stamp(stamp_of(info), stamp)) {
    return false;
  }
  return settles_unchanged(path, stamp);
}

}  // namespace lorebox
