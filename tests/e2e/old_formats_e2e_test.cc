// A home that holds the oldest formats the agents wrote (a Codex rollout
// from before records had an envelope, session documents of the first
// Codex, Claude Code history lines without a session id) next to today's.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "support/run_binary.h"
#include "support/temp_dir.h"

namespace lorebox {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using testing::read_file;
using testing::run_lorebox;
using testing::RunOptions;
using testing::RunResult;
using testing::TempDir;
using testing::write_file;

const fs::path kExample = LOREBOX_SOURCE_DIR "/examples/home";
const fs::path kBareSample =
    LOREBOX_SOURCE_DIR "/../shared/realdata2/yoavf__ai-sessions/codexOlderFormat.jsonl";

// A session document as the first Codex saved it, pretty-printed.
std::string document(const std::string& id, const std::string& time,
                     const std::vector<std::pair<std::string, std::string>>& messages) {
  json items = json::array();
  for (const auto& [role, text] : messages)
    items.push_back(
        {{"type", "message"},
         {"role", role},
         {"content",
          {{{"type", role == "user" ? "input_text" : "output_text"}, {"text", text}}}}});
  return json({{"session", {{"timestamp", time}, {"id", id}, {"instructions", ""}}},
               {"items", items}})
      .dump(2);
}

// The two counts of the "Recovered" line (0, 0 when there is none).
std::pair<int, int> recovered(const std::string& err) {
  std::pair<int, int> counts = {0, 0};
  const size_t at = err.find("Recovered ");
  if (at != std::string::npos)
    std::sscanf(err.c_str() + at,
                "Recovered %d prompt%*[s ]from prompt history, rebuilding %d",
                &counts.first, &counts.second);
  return counts;
}

std::string legacy_line(const std::string& display, int64_t millis) {
  return json({{"display", display},
               {"pastedContents", json::object()},
               {"timestamp", millis},
               {"project", "/home/old"}})
             .dump() +
         "\n";
}

// One entry of an archive, read with Python's zipfile.
std::string entry(const fs::path& archive, const std::string& name,
                  const fs::path& scratch) {
  const fs::path out = scratch / ("entry-" + name);
  const std::string command =
      "python3 -c \"import sys, zipfile; open(sys.argv[2], 'wb').write("
      "zipfile.ZipFile(sys.argv[1]).read(sys.argv[3]))\" " +
      archive.string() + " " + out.string() + " " + name;
  EXPECT_EQ(std::system(command.c_str()), 0);
  return read_file(out);
}

TEST(OldFormatsEndToEnd, EveryPromptOfEveryFormatIsPackedOnce) {
  if (!fs::exists(kBareSample))
    GTEST_SKIP()
        << "../shared/realdata2 is absent; the bare-era Codex sample is read from it";
  TempDir work;
  const fs::path home = work / "home";
  fs::copy(kExample, home, fs::copy_options::recursive);
  RunOptions options;
  options.env = {{"HOME", home.string()}};
  options.cwd = work.path();
  const RunResult before = run_lorebox({"--dry-run"}, options);
  ASSERT_EQ(before.status, 0) << before.err;

  fs::create_directories(home / ".codex/sessions/2025/09/10");
  fs::copy_file(
      kBareSample,
      home / ".codex/sessions/2025/09/10/rollout-2025-09-10T10-00-00-bare.jsonl");
  // Two saves of one conversation under new names, and a conversation of its own.
  write_file(home / ".codex/sessions/rollout-2025-04-16-ts-a.json",
             document("ts-a", "2025-04-16T10:00:00.000Z",
                      {{"user", "q1"}, {"assistant", "a1"}}));
  write_file(
      home / ".codex/sessions/rollout-2025-04-16-ts-b.json",
      document(
          "ts-b", "2025-04-16T10:02:00.000Z",
          {{"user", "q1"}, {"assistant", "a1"}, {"user", "q2"}, {"assistant", "a2"}}));
  write_file(home / ".codex/sessions/ts-c.json",
             document("ts-c", "2025-05-01T08:00:00.000Z", {{"user", "other"}}));
  write_file(home / ".codex/session_index.jsonl",
             read_file(home / ".codex/session_index.jsonl") +
                 R"({"id":"ts-b","thread_name":"Typescript era"})"
                 "\n");
  // Legacy history: one prompt a transcript of its project holds, two close
  // together, and one two hours later.
  write_file(
      home / ".claude/history.jsonl",
      read_file(home / ".claude/history.jsonl") +
          R"({"display":"Why does the upload test fail on CI but pass locally? )"
          R"(The log says `ECONNRESET` after about 30 seconds.","pastedContents":{},)"
          R"("timestamp":1700000000000,"project":"/home/dev/webapp"})"
          "\n" +
          legacy_line("old one", 1700000000000) + legacy_line("old two", 1700000600000) +
          legacy_line("old three", 1700007800000));

  // Two runs of the unchanged home give the same entries.
  std::map<std::string, std::string> entries[2];
  for (int run = 0; run < 2; ++run) {
    const std::string archive = "run" + std::to_string(run) + ".zip";
    const RunResult r = run_lorebox({"-o", archive}, options);
    ASSERT_EQ(r.status, 0) << r.err;
    // Three legacy prompts in two rebuilt sessions join the count.
    const std::pair<int, int> was = recovered(before.err);
    EXPECT_EQ(recovered(r.err), std::make_pair(was.first + 3, was.second + 2)) << r.err;
    for (const std::string name : {"conversations.json", "efficiency.json"})
      entries[run][name] = entry(work / archive, name, work.path());
  }
  EXPECT_EQ(entries[0], entries[1]);

  std::map<std::string, std::vector<std::string>> texts;
  std::map<std::string, json> conversations;
  for (const json& c : json::parse(entries[0]["conversations.json"])) {
    std::vector<std::string>& list = texts[c["id"]];
    for (const auto& [node, value] : c["mapping"].items())
      list.push_back(value["message"]["content"]["parts"][0]);
    conversations[c["id"]] = c;
  }
  EXPECT_EQ(texts["codex-test-session-789"],
            (std::vector<std::string>{"Create a README file",
                                      "I'll create a README file for you."}));
  EXPECT_EQ(conversations["codex-test-session-789"]["create_time"], 1704103200.0);
  EXPECT_EQ(texts["codex-ts-b"], (std::vector<std::string>{"q1", "a1", "q2", "a2"}));
  EXPECT_EQ(conversations["codex-ts-b"]["title"], "Typescript era");
  EXPECT_EQ(texts.count("codex-ts-a"), 0u);
  EXPECT_EQ(texts["codex-ts-c"], std::vector<std::string>{"other"});

  std::vector<std::vector<std::string>> legacy;
  int upload_prompts = 0;
  for (const auto& [id, list] : texts) {
    if (id.starts_with("claude-history-")) legacy.push_back(list);
    for (const std::string& text : list)
      upload_prompts += text.starts_with("Why does the upload");
  }
  std::sort(legacy.begin(), legacy.end());
  EXPECT_EQ(legacy, (std::vector<std::vector<std::string>>{{"old one", "old two"},
                                                           {"old three"}}));
  EXPECT_EQ(upload_prompts, 1);
}

}  // namespace
}  // namespace lorebox
