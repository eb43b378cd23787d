// The walk reads each directory completely, closes it, and then handles its
// entries in order, descending into subdirectories as they come. The order
// is that of a recursive walk, but only one directory is open at a time, so
// a deep tree cannot exhaust descriptors, and an explicit stack replaces
// recursion. Subdirectories are opened with O_NOFOLLOW, so a directory
// swapped for a link during the walk is not entered; the (device, inode)
// of every directory on the stack guards against loops made by mounts.
#include "scan/walk.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include "io/file.h"
#include "scan/transcripts.h"

namespace lorebox {
namespace {

struct Entry {
  std::string name;
  bool directory;
};

struct Frame {
  std::string relative;  // "" for the root
  dev_t device;
  ino_t inode;
  std::vector<Entry> entries;
  size_t next = 0;
};

// Reads the regular files and directories of the directory at `path` into
// *frame. False when it cannot be opened.
bool list_directory(const std::string& path, bool follow, Frame* frame) {
  Result<File> file =
      File::open(path, follow ? OpenMode::Directory : OpenMode::DirectoryNoFollow);
  if (!file) return false;
  struct stat info;
  if (::fstat(file->fd(), &info) != 0) return false;
  frame->device = info.st_dev;
  frame->inode = info.st_ino;
  DIR* dir = ::fdopendir(file->fd());
  if (dir == nullptr) return false;
  file->release();  // closedir closes it
  while (struct dirent* entry = ::readdir(dir)) {
    std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    unsigned char type = entry->d_type;
    if (type == DT_UNKNOWN) {
      if (::fstatat(::dirfd(dir), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
        continue;  // vanished
      }
      type = S_ISREG(info.st_mode) ? DT_REG : S_ISDIR(info.st_mode) ? DT_DIR : DT_UNKNOWN;
    }
    if (type == DT_REG || type == DT_DIR) {
      frame->entries.push_back(Entry{std::string(name), type == DT_DIR});
    }
  }
  ::closedir(dir);
  return true;
}

bool on_stack(const std::vector<Frame>& stack, const Frame& frame) {
  for (const Frame& outer : stack) {
    if (outer.device == frame.device && outer.inode == frame.inode) return true;
  }
  return false;
}

}  // namespace

std::string join_path(const std::string& root, std::string_view relative) {
  std::string path = root;
  if (path.empty() || path.back() != '/') path += '/';
  path += relative;
  return path;
}

std::vector<std::string> walk_candidates(
    const std::string& root,
    const std::function<bool(std::string_view relative_path)>& accept,
    bool root_documents) {
  std::vector<std::string> candidates;
  std::vector<Frame> stack;
  Frame top;
  if (!list_directory(root, /*follow=*/true, &top)) return candidates;
  stack.push_back(std::move(top));
  while (!stack.empty()) {
    Frame& frame = stack.back();
    if (frame.next == frame.entries.size()) {
      stack.pop_back();
      continue;
    }
    Entry& entry = frame.entries[frame.next++];
    std::string relative =
        frame.relative.empty() ? entry.name : frame.relative + "/" + entry.name;
    if (entry.directory) {
      Frame below;
      below.relative = relative;
      if (list_directory(join_path(root, relative), /*follow=*/false, &below) &&
          !on_stack(stack, below)) {
        stack.push_back(std::move(below));  // `frame` is not used after this
      }
    } else if ((passes_name_rule(entry.name) ||
                (root_documents && is_root_document(relative))) &&
               accept(relative)) {
      candidates.push_back(std::move(relative));
    }
  }
  return candidates;
}

}  // namespace lorebox
