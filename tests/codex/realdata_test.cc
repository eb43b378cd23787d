// The reader over rollouts written by real Codex builds (see
// tests/data/realdata/SOURCES.md); the expectations were checked by hand
// against the files.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "codex/codex_reader.h"
#include "support/temp_dir.h"

namespace lorebox {
namespace {

namespace fs = std::filesystem;

const fs::path kRealdata = fs::path(LOREBOX_SOURCE_DIR) / "tests/data/realdata";
const std::string kCapture = "local-captures/codex-0.171.0/";
const std::string kExec = "rollout-2026-12-07T20-11-39-01a25222-27fa-76a2-b29e-3f816c78d8d5.jsonl";
const std::string kTui = "rollout-2026-12-07T20-12-05-01a25222-8b20-7990-bae9-add2c51f3649.jsonl";
const std::string kSynthetic =
    "rollout-2026-01-02T03-04-05-11111111-1111-4111-8111-111111111111.jsonl";

struct Expected {
  std::string id;
  std::optional<std::string> title;
  std::vector<std::string> texts;
  std::vector<std::optional<std::string>> models;
  std::map<std::string, uint64_t> tools;
  std::map<std::string, uint64_t> commands;
  uint64_t turns, input, cache_read, output, reasoning, tool_result_bytes;
};

TEST(CodexRealdata, CapturedRolloutsGiveTheTypedPromptsAndReplies) {
  testing::TempDir home;
  fs::create_directories(home / "sessions/2026/12/07");
  fs::create_directories(home / "archived_sessions");
  fs::copy_file(kRealdata / (kCapture + kExec), home / ("sessions/2026/12/07/" + kExec));
  fs::copy_file(kRealdata / (kCapture + kTui), home / ("sessions/2026/12/07/" + kTui));
  fs::copy_file(kRealdata / (kCapture + "session_index.jsonl"), home / "session_index.jsonl");
  fs::copy_file(kRealdata / ("daaain__claude-code-log/" + kSynthetic),
                home / ("archived_sessions/" + kSynthetic));

  Result<SourceScan> scan = read_codex_sessions(home.path(), {});
  ASSERT_TRUE(scan.has_value()) << scan.error();
  ASSERT_EQ(scan->sessions.size(), 3u);
  const Expected expected[] = {
      {"codex-01a25222-27fa-76a2-b29e-3f816c78d8d5", std::nullopt,
       {"please say hello via a command", "Running a command (1).",
        "Mock codex answer 2 with [redacted-secret] inside."},
       {std::nullopt, "gpt-5.6", "gpt-5.6"},
       {{"exec_command", 1}}, {{"echo", 1}}, 2, 3000, 1800, 100, 20, 122},
      {"codex-01a25222-8b20-7990-bae9-add2c51f3649", "My mock thread",
       {"hello codex from the tui", "Running a command (3).",
        "Mock codex answer 5 with [redacted-secret] inside."},
       {std::nullopt, "gpt-5.6", "gpt-5.6"},
       {{"exec_command", 1}}, {{"echo", 1}}, 2, 8000, 4800, 100, 20, 122},
      {"codex-11111111-1111-4111-8111-111111111111", std::nullopt,
       {"List the synthetic files.", "The synthetic files are alpha.txt and beta.txt."},
       {std::nullopt, "synthetic-model"},
       {{"apply_patch", 1}, {"exec_command", 1}, {"mcp__synthetic__lookup", 1}},
       {{"find", 1}}, 0, 0, 0, 0, 0, 25 + 39 + 21},
  };
  for (const Expected& want : expected) {
    const Session* found = nullptr;
    for (const Session& s : scan->sessions)
      if (s.id == want.id) found = &s;
    ASSERT_NE(found, nullptr) << want.id;
    const Session& s = *found;
    EXPECT_EQ(s.title, want.title) << want.id;
    std::vector<std::string> texts;
    std::vector<std::optional<std::string>> models;
    for (const Message& m : s.messages) {
      texts.push_back(m.text);
      models.push_back(m.model);
    }
    EXPECT_EQ(texts, want.texts) << want.id;
    EXPECT_EQ(models, want.models) << want.id;
    EXPECT_EQ(s.created_at, s.messages.front().timestamp);
    const SessionEfficiency& e = s.efficiency;
    EXPECT_EQ(e.tools, want.tools) << want.id;
    EXPECT_EQ(e.commands, want.commands) << want.id;
    EXPECT_EQ(e.repeated_calls, 0u);
    EXPECT_EQ(std::vector<uint64_t>({e.turns, e.input, e.cache_read, e.output, e.reasoning,
                                     e.tool_result_bytes}),
              std::vector<uint64_t>({want.turns, want.input, want.cache_read, want.output,
                                     want.reasoning, want.tool_result_bytes}))
        << want.id;
  }
  for (const StampedSource& source : scan->sources) {
    EXPECT_TRUE(fs::path(source.stamp.path).is_absolute());
    EXPECT_GT(source.stamp.size, 0);
  }
}

}  // namespace
}  // namespace lorebox
