#include "scratch_home.h"

#include <cerrno>
#include <cstdlib>
#include <string>
#include <system_error>

#include <fcntl.h>
#include <unistd.h>

namespace lorebox::fuzz {

namespace {

// Owns the scratch directory for the life of the process.
class ScratchDir {
 public:
  ScratchDir() {
    std::error_code error;
    std::string pattern =
        (std::filesystem::temp_directory_path(error) / "lorebox-fuzz-XXXXXX").string();
    if (error || ::mkdtemp(pattern.data()) == nullptr) return;
    // Canonical, so that no ancestor is a symbolic link: the transcript
    // readers refuse files reached through one.
    path_ = std::filesystem::canonical(pattern, error);
    if (error) path_ = pattern;
  }
  ~ScratchDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace

const std::filesystem::path& scratch_dir() {
  static ScratchDir dir;
  return dir.path();
}

bool put_file(const std::filesystem::path& path, std::string_view bytes) {
  std::error_code error;
  std::filesystem::create_directories(path.parent_path(), error);
  if (error) return false;
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  bool ok = true;
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      ok = false;
      break;
    }
    bytes.remove_prefix(static_cast<size_t>(written));
  }
  return ::close(fd) == 0 && ok;
}

}  // namespace lorebox::fuzz
