// Where lorebox finds logs (the agents' own home variables), compressed
// rollouts, and what it tells a person at a terminal.
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <zstd.h>

#include "support/run_binary.h"
#include "support/shell.h"
#include "support/temp_dir.h"

namespace lorebox {
namespace {

using testing::read_file;
using testing::run_lorebox;
using testing::RunOptions;
using testing::RunResult;
using testing::TempDir;
using testing::write_file;

const std::filesystem::path kExample = LOREBOX_SOURCE_DIR "/examples/home";

std::string zstd_compress(const std::string& plain) {
  std::string out(ZSTD_compressBound(plain.size()), '\0');
  const size_t n = ZSTD_compress(out.data(), out.size(), plain.data(), plain.size(), 3);
  EXPECT_FALSE(ZSTD_isError(n));
  out.resize(n);
  return out;
}

// Copies the example Codex home, compressing every rollout to .jsonl.zst.
void copy_codex_compressed(const std::filesystem::path& to, size_t keep_bytes = 0) {
  for (const auto& entry :
       std::filesystem::recursive_directory_iterator(kExample / ".codex")) {
    if (!entry.is_regular_file()) continue;
    const std::filesystem::path relative =
        std::filesystem::relative(entry.path(), kExample / ".codex");
    const std::string content = read_file(entry.path());
    if (relative.begin()->string() == "sessions" ||
        relative.begin()->string() == "archived_sessions") {
      std::string compressed = zstd_compress(content);
      if (keep_bytes != 0) compressed.resize(std::min(keep_bytes, compressed.size()));
      write_file(to / (relative.string() + ".zst"), compressed);
    } else {
      write_file(to / relative, content);
    }
  }
}

class HomesEndToEnd : public ::testing::Test {
 protected:
  RunResult run(std::vector<std::string> args, std::map<std::string, std::string> env) {
    RunOptions options;
    options.env = std::move(env);
    options.cwd = work_.path();
    return run_lorebox(args, options);
  }
  TempDir work_;
};

TEST_F(HomesEndToEnd, AgentHomeVariablesAreUsedUnlessAFlagIsGiven) {
  const std::map<std::string, std::string> env = {
      {"HOME", work_.path().string()},
      {"CLAUDE_CONFIG_DIR", (kExample / ".claude").string()},
      {"CODEX_HOME", (kExample / ".codex").string()}};
  RunResult r = run({"--dry-run"}, env);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(
      r.err.find("Reading Claude Code sessions from " + (kExample / ".claude").string()),
      std::string::npos);
  EXPECT_NE(r.out.find("Found 6 sessions"), std::string::npos);

  // A flag wins over the variable.
  r = run({"--dry-run", "--claude-dir", "nowhere", "--codex-dir", "nowhere"}, env);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Reading Claude Code sessions from nowhere\n"), std::string::npos);

  // The variables also stand in for a missing HOME.
  r = run({"--dry-run"}, {{"CLAUDE_CONFIG_DIR", (kExample / ".claude").string()},
                          {"CODEX_HOME", (kExample / ".codex").string()}});
  EXPECT_EQ(r.status, 0) << r.err;
}

TEST_F(HomesEndToEnd, CompressedRolloutsPackLikePlainOnes) {
  copy_codex_compressed(work_ / "zst");
  const std::map<std::string, std::string> env = {{"HOME", work_.path().string()}};
  RunResult plain = run({"--source", "codex", "--codex-dir",
                         (kExample / ".codex").string(), "--dry-run", "--list"},
                        env);
  RunResult packed = run({"--source", "codex", "--codex-dir", (work_ / "zst").string(),
                          "--dry-run", "--list"},
                         env);
  ASSERT_EQ(plain.status, 0) << plain.err;
  ASSERT_EQ(packed.status, 0) << packed.err;
  EXPECT_EQ(packed.out, plain.out);
  EXPECT_NE(packed.out.find("Retry backoff jitter"), std::string::npos);
}

TEST_F(HomesEndToEnd, TruncatedCompressedRolloutKeepsItsReadableLines) {
  // Only the session index and history survive whole; the rollouts are cut
  // inside their first frame, so they yield nothing but do not fail the run.
  copy_codex_compressed(work_ / "cut", 40);
  RunResult r = run({"--source", "codex", "--codex-dir", (work_ / "cut").string(),
                     "--no-history", "--dry-run"},
                    {{"HOME", work_.path().string()}});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("No sessions were found"), std::string::npos);

  // A rollout whose frame ends early but after its first lines keeps them.
  const std::string rollout =
      read_file(kExample /
                ".codex/archived_sessions/"
                "rollout-2025-10-12T08-03-00-0199f3d0-11aa-7b62-8c0e-6d2a9f4e3b70.jsonl");
  std::string padded = rollout;
  for (int i = 0; i < 4000; ++i)  // incompressible tail to cut into
    padded += "{\"type\":\"event_msg\",\"payload\":{\"type\":\"noise\",\"n\":" +
              std::to_string(std::rand()) + "}}\n";
  std::string compressed = zstd_compress(padded);
  compressed.resize(compressed.size() - 64);
  write_file(work_ / "part/sessions/rollout-x.jsonl.zst", compressed);
  r = run({"--source", "codex", "--codex-dir", (work_ / "part").string(), "--no-history",
           "--dry-run", "--list"},
          {{"HOME", work_.path().string()}});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Turn my meeting notes"), std::string::npos);
}

TEST_F(HomesEndToEnd, ProgressAndSkipsOnlyAtATerminal) {
  std::filesystem::create_directories(work_ / "claude/projects/p");
  std::filesystem::copy(kExample / ".claude/projects/-home-dev-webapp",
                        work_ / "claude/projects/p");
  // A second transcript modified after the bound is skipped.
  write_file(work_ / "claude/projects/p/new.jsonl", "{}\n");
  const std::filesystem::file_time_type old_time =
      std::filesystem::file_time_type::clock::now() - std::chrono::hours(24 * 365);
  std::filesystem::last_write_time(
      work_ / "claude/projects/p/6f1d2c9e-5b7a-4e21-9c3d-0a8b7e6f5d41.jsonl", old_time);
  const std::string bound =
      std::to_string(std::chrono::duration_cast<std::chrono::seconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count() -
                     3600);
  const std::string args = "--source claude --no-history --dry-run --modified-before " +
                           bound + " --claude-dir " +
                           testing::shell_quoted((work_ / "claude").string());

  // Through a pipe: nothing beyond the usual lines.
  RunResult piped =
      run({"--source", "claude", "--no-history", "--dry-run", "--modified-before", bound,
           "--claude-dir", (work_ / "claude").string()},
          {{"HOME", work_.path().string()}});
  ASSERT_EQ(piped.status, 0) << piped.err;
  EXPECT_EQ(piped.err,
            "Reading Claude Code sessions from " + (work_ / "claude").string() + "\n");

  // Under a pseudo-terminal (script(1)): a progress line, then the skip note.
  const std::filesystem::path log = work_ / "tty.log";
  // script(1) hands its command to a shell of its own: quoted twice.
  const std::string inner = testing::shell_quoted(LOREBOX_BINARY) + " " + args;
  const std::string command = "script -qec " + testing::shell_quoted(inner) + " " +
                              testing::shell_quoted(log.string()) + " >/dev/null 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0);
  const std::string screen = read_file(log);
  EXPECT_NE(screen.find("\r\x1b[K  "), std::string::npos) << screen;
  EXPECT_NE(screen.find(" files, "), std::string::npos) << screen;
  EXPECT_NE(
      screen.find("Skipped 1 file (1 modified at or after the --modified-before bound)"),
      std::string::npos)
      << screen;
}

}  // namespace
}  // namespace lorebox
