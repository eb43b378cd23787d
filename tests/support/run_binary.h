// Runs the built lorebox binary in a controlled environment and captures
// what it printed.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace lorebox::testing {

struct RunResult {
  int status = -1;  // exit status, or 128 + signal number
  std::string out;  // standard output
  std::string err;  // standard error
};

struct RunOptions {
  // The whole environment of the child (nothing is inherited).
  std::map<std::string, std::string> env;
  // Working directory of the child; the current one when empty.
  std::filesystem::path cwd;
  // Replaces the child's standard output with this file when not empty.
  std::filesystem::path stdout_file;
  // Limits the child's data size (RLIMIT_DATA) to this many bytes when not 0.
  size_t data_limit = 0;
};

// Runs LOREBOX_BINARY with the arguments.
RunResult run_lorebox(const std::vector<std::string>& args,
                      const RunOptions& options = {});

}  // namespace lorebox::testing
