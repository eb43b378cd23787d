// Output faults: a full device, a receipt that already exists, a receipt
// directory that does not. Each fails with its one message and status 1,
// and nothing is overwritten.
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "hostile_support.h"

namespace lorebox::testing {
namespace {

namespace fs = std::filesystem;

// The last line lorebox wrote to standard error.
std::string last_line(const std::string& err) {
  std::string text = err;
  if (!text.empty() && text.back() == '\n') text.pop_back();
  return text.substr(text.rfind('\n') + 1);
}

class HostileOutput : public ::testing::Test {
 protected:
  void SetUp() override {
    home_.write_claude("a", "good", claude_line(json_text("good")));
  }
  HostileHome home_;
};

TEST_F(HostileOutput, FullDeviceFailsAndWritesNoReceipt) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
  const HostileRun run =
      home_.run({"--output", "/dev/full", "--receipt", home_.receipt().string()});
  EXPECT_EQ(run.status, 1);
  const std::string line = last_line(run.err);
  EXPECT_TRUE(line.starts_with("lorebox: Could not write /dev/full: ")) << run.err;
  EXPECT_GT(line.size(), std::string("lorebox: Could not write /dev/full: ").size());
  EXPECT_EQ(run.out.find("Wrote "), std::string::npos) << run.out;
  EXPECT_FALSE(fs::exists(home_.receipt()));
}

TEST_F(HostileOutput, FullFileSystemFailsAndWritesNoReceipt) {
  if (!running_as_root()) GTEST_SKIP() << "mounting a small tmpfs needs root";
  // About 400 KB of lower-case words (nothing credential-shaped), which
  // Deflate cannot squeeze into 64 KiB.
  std::string words;
  uint32_t state = 12345;
  while (words.size() < 400000) {
    state = state * 1103515245u + 12345u;
    words += static_cast<char>('a' + (state >> 16) % 26);
    if ((state >> 8) % 7 == 0) words += ' ';
  }
  home_.write_claude("a", "big", claude_line(json_text(words), "2026-01-02T03:04:06Z"));
  fs::create_directories(home_.out() / "small");
  const std::string target = (home_.out() / "small" / "archive.zip").string();

  HostileSettings small;
  small.small_tmpfs = (home_.out() / "small").string();
  const HostileRun run =
      home_.run({"--output", target, "--receipt", home_.receipt().string()}, small);
  if (run.status == 124)
    GTEST_SKIP() << "this system does not let the test mount a tmpfs";
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(last_line(run.err).starts_with("lorebox: Could not write " + target + ": "))
      << run.err;
  EXPECT_EQ(run.out.find("Wrote "), std::string::npos) << run.out;
  EXPECT_FALSE(fs::exists(home_.receipt()));
}

TEST_F(HostileOutput, ArchiveUnderAFileFailsAndWritesNoReceipt) {
  write_file(home_.out() / "plain", "not a directory");
  const std::string target = (home_.out() / "plain" / "archive.zip").string();
  const HostileRun run =
      home_.run({"--output", target, "--receipt", home_.receipt().string()});
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(last_line(run.err).starts_with("lorebox: Could not write " + target + ": "))
      << run.err;
  EXPECT_FALSE(fs::exists(home_.receipt()));
  EXPECT_EQ(read_file(home_.out() / "plain"), "not a directory");
}

TEST_F(HostileOutput, ExistingReceiptIsNeverOverwritten) {
  const std::string kept = "an earlier receipt\n";
  // With sessions to pack (the archive is still written) and with none.
  const std::vector<std::vector<std::string>> runs = {{}, {"--since", "2100-01-01"}};
  for (const std::vector<std::string>& args : runs) {
    SCOPED_TRACE(args.empty() ? "export" : "nothing matched");
    write_file(home_.receipt(), kept);
    fs::remove(home_.archive());
    const HostileRun run = home_.export_all(args);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(last_line(run.err), "lorebox: could not create receipt: File exists")
        << run.err;
    EXPECT_EQ(read_file(home_.receipt()), kept);
    EXPECT_EQ(fs::exists(home_.archive()), args.empty());
  }
}

TEST_F(HostileOutput, MissingReceiptDirectoryIsNotCreated) {
  const fs::path receipt = home_.out() / "missing" / "receipt.json";
  const HostileRun run =
      home_.run({"--output", home_.archive().string(), "--receipt", receipt.string()});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(last_line(run.err),
            "lorebox: could not create receipt: No such file or directory")
      << run.err;
  EXPECT_FALSE(fs::exists(home_.out() / "missing"));
  // The archive was written before the receipt was tried, and stays.
  EXPECT_EQ(packed_texts(home_.archive()), (std::vector<std::string>{"good"}));
  EXPECT_NE(run.out.find("Upload it to Hearthmark without unzipping it."),
            std::string::npos);
}

}  // namespace
}  // namespace lorebox::testing
