// A fixture that builds files, links and special files in a temporary
// directory under /tmp and removes it afterwards.
#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "scan/walk.h"

namespace lorebox {

class TempTreeTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/lorebox-scan-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    base_ = std::filesystem::canonical(pattern).string();
  }

  void TearDown() override {
    // Make every directory searchable again so all can be removed.
    std::error_code error;
    namespace fs = std::filesystem;
    ::chmod(base_.c_str(), 0755);
    for (auto it = fs::recursive_directory_iterator(base_, error);
         it != fs::recursive_directory_iterator(); it.increment(error)) {
      if (it->is_directory(error) && !it->is_symlink(error))
        ::chmod(it->path().c_str(), 0755);
    }
    fs::remove_all(base_, error);
  }

  // The absolute path of a relative one inside the tree.
  std::string path(std::string_view relative) const { return join_path(base_, relative); }

  // Creates (or truncates) a file, with its directories.
  void write(std::string_view relative, const std::string& content) {
    std::filesystem::create_directories(
        std::filesystem::path(path(relative)).parent_path());
    std::ofstream(path(relative), std::ios::binary) << content;
  }

  static void append(const std::string& absolute, const std::string& content) {
    std::ofstream(absolute, std::ios::binary | std::ios::app) << content;
  }

  void link(std::string_view target, std::string_view relative) {
    std::filesystem::create_directories(
        std::filesystem::path(path(relative)).parent_path());
    ASSERT_EQ(::symlink(std::string(target).c_str(), path(relative).c_str()), 0);
  }

  void set_mtime(std::string_view relative, time_t seconds, long nanoseconds) {
    struct timespec times[2] = {{seconds, nanoseconds}, {seconds, nanoseconds}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path(relative).c_str(), times, AT_SYMLINK_NOFOLLOW),
              0);
  }

  std::string base_;
};

}  // namespace lorebox
