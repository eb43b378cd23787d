// Replays every seed input and every saved crash input through the fuzz
// targets, so that `make check` keeps the invariants the fuzzers check.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fuzz_check.h"
#include "fuzz_targets.h"

namespace lorebox::fuzz {

// Names the target in test output instead of dumping its bytes.
void PrintTo(const FuzzTarget& target, std::ostream* out) { *out << target.name; }

namespace {

namespace fs = std::filesystem;

const fs::path kFuzzDir = fs::path(LOREBOX_SOURCE_DIR) / "fuzz";

std::vector<fs::path> files_in(const fs::path& dir) {
  std::vector<fs::path> files;
  std::error_code error;
  if (!fs::is_directory(dir, error)) return files;
  for (const fs::directory_entry& entry : fs::directory_iterator(dir))
    if (entry.is_regular_file()) files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  return files;
}

std::string read_bytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in),
                     std::istreambuf_iterator<char>());
}

class FuzzReplay : public ::testing::TestWithParam<FuzzTarget> {};

TEST_P(FuzzReplay, EveryCorpusAndRegressionInputKeepsTheInvariants) {
  const FuzzTarget target = GetParam();
  const std::vector<fs::path> seeds = files_in(kFuzzDir / "corpus" / target.name);
  EXPECT_FALSE(seeds.empty()) << "no seed corpus for " << target.name;
  std::vector<fs::path> inputs = seeds;
  for (const fs::path& crash : files_in(kFuzzDir / "regressions" / target.name))
    inputs.push_back(crash);

  take_violation();
  for (const fs::path& input : inputs) {
    const std::string bytes = read_bytes(input);
    target.function(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    EXPECT_EQ(take_violation(), "") << input;
  }
}

INSTANTIATE_TEST_SUITE_P(AllTargets, FuzzReplay,
                         ::testing::ValuesIn(all_fuzz_targets().begin(),
                                             all_fuzz_targets().end()),
                         [](const ::testing::TestParamInfo<FuzzTarget>& param) {
                           return std::string(param.param.name);
                         });

// Each corpus or regression directory belongs to a target and
// holds only files, so no input is silently left out of the replay.
TEST(FuzzCorpus, EveryDirectoryNamesATarget) {
  std::set<std::string> names;
  for (const FuzzTarget& target : all_fuzz_targets())
    names.insert(std::string(target.name));
  for (const char* kind : {"corpus", "regressions"}) {
    std::error_code error;
    if (!fs::is_directory(kFuzzDir / kind, error)) continue;
    for (const fs::directory_entry& entry : fs::directory_iterator(kFuzzDir / kind)) {
      EXPECT_TRUE(names.count(entry.path().filename().string())) << entry.path();
      // Inputs lie directly in the target's directory; a nested one would
      // never be replayed.
      for (const fs::directory_entry& input : fs::directory_iterator(entry.path()))
        EXPECT_TRUE(input.is_regular_file()) << input.path();
    }
  }
}

}  // namespace
}  // namespace lorebox::fuzz
