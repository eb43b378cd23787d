#include "scratch_home.h"

#include <stdlib.h>  // mkdtemp (glibc, musl)
#include <unistd.h>  // mkdtemp (macOS)

#include <cstdlib>
#include <string>
#include <system_error>

#include "io/file.h"

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
  Result<File> file = File::open(path, OpenMode::CreateOrTruncate);
  if (!file) return false;
  const bool written = file->write_all(bytes).has_value();
  return file->close().has_value() && written;
}

}  // namespace lorebox::fuzz
