// Test helpers: a temporary directory removed with its contents, and small
// file-writing shortcuts.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace lorebox::testing {

// A fresh directory under the system's temporary directory, removed (with
// everything below it) when the object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // path() / relative
  std::filesystem::path operator/(std::string_view relative) const {
    return path_ / relative;
  }

 private:
  std::filesystem::path path_;
};

// Writes `content` to `path`, creating missing parent directories.
void write_file(const std::filesystem::path& path, std::string_view content);

// The whole content of a file ("" when it cannot be read).
std::string read_file(const std::filesystem::path& path);

}  // namespace lorebox::testing
