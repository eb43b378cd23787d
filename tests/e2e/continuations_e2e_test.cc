// Continued Claude Code sessions: every way Claude Code copies lines from one
// session into another (resume with the old ids, replay within a file,
// background handoff chained twice, branch, fork without a mark, SDK fork)
// in one hand-made home, exported whole. Every typed prompt must be packed
// exactly once, history must rebuild no phantom session, and no copy may
// count its turns or tools again. A second test runs the realistic
// transcripts of ../shared/realdata2 when that folder is there.
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
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

// A canonical UUID numbered n.
std::string uuid(int n) {
  char text[40];
  std::snprintf(text, sizeof text, "00000000-0000-4000-8000-%012d", n);
  return text;
}

// "2025-05-01T10:00:00Z" plus `seconds`.
std::string stamp(int seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "2025-05-01T%02d:%02d:%02dZ", 10 + seconds / 3600,
                seconds / 60 % 60, seconds % 60);
  return text;
}

// How a line is copied into another session.
struct Copy {
  std::string session;  // the session id the copy is written under
  bool bg = false;      // "sessionKind":"bg" (background handoff)
  bool fork = false;    // a new uuid and "forkedFrom" naming the original
  std::string from;     // the original session, for "forkedFrom"
  int shift = 0;        // seconds added to the timestamps
};

// One exchange numbered n, typed into `session`: a prompt, a reply that
// runs git status (on a path named after the prompt, so no two calls
// repeat), its result, and a text reply (two API responses).
std::string exchange(int n, const std::string& prompt, const Copy& copy) {
  std::string out;
  int line = 0;
  auto put = [&](const std::string& body) {
    const int number = n * 10 + line++;
    std::string head = R"({"sessionId":")" + copy.session + R"(","cwd":"/work/app",)";
    if (copy.bg) head += R"("sessionKind":"bg",)";
    if (copy.fork) {
      head += R"("uuid":")" + uuid(900000 + number) + R"(","forkedFrom":{"sessionId":")" +
              copy.from + R"(","messageUuid":")" + uuid(number) + R"("},)";
    } else {
      head += R"("uuid":")" + uuid(number) + R"(",)";
    }
    head += R"("timestamp":")" + stamp(n * 60 + line + copy.shift) + R"(",)";
    out += head + body + "}\n";
  };
  const std::string id = std::to_string(n);
  put(R"("type":"user","message":{"role":"user","content":")" + prompt + R"("})");
  put(R"("type":"assistant","requestId":"req)" + id + R"(a","message":{"id":"msg)" + id +
      R"(a","model":"claude-x","role":"assistant","content":[{"type":"tool_use","id":"t)" +
      id + R"(","name":"Bash","input":{"command":"git status )" + prompt +
      R"("}}],"usage":{"input_tokens":100,"output_tokens":10}})");
  put(R"("type":"user","message":{"role":"user","content":[{"type":"tool_result","tool_use_id":"t)" +
      id + R"(","content":"ok","is_error":true}]})");
  put(R"("type":"assistant","requestId":"req)" + id + R"(b","message":{"id":"msg)" + id +
      R"(b","model":"claude-x","role":"assistant","content":[{"type":"text","text":"done )" +
      prompt + R"("}],"usage":{"input_tokens":200,"output_tokens":20}})");
  return out;
}

Copy in(const std::string& session) { return Copy{session}; }

// A prompt typed while the agent worked at minute n and handed to the
// running turn: it is only in the queue lines, which copies repeat.
std::string queued(int n, const std::string& prompt, const Copy& copy) {
  std::string head = R"({"type":"queue-operation","sessionId":")" + copy.session + "\",";
  if (copy.bg) head += R"("sessionKind":"bg",)";
  return head + R"("operation":"enqueue","timestamp":")" + stamp(n * 60 + 2) +
         R"(","content":")" + prompt + "\"}\n" + head +
         R"("operation":"remove","timestamp":")" + stamp(n * 60 + 3) + "\"}\n";
}

// Session ids of the home.
const std::string kO = "11111111-0000-4000-8000-000000000001";  // resumed
const std::string kR = "11111111-0000-4000-8000-000000000002";  // its resume file
const std::string kP = "11111111-0000-4000-8000-000000000003";  // in-file replay
const std::string kB0 = "11111111-0000-4000-8000-000000000010";
const std::string kB1 = "11111111-0000-4000-8000-000000000011";  // background copy of B0
const std::string kB2 = "11111111-0000-4000-8000-000000000012";  // background copy of B1
const std::string kF0 = "11111111-0000-4000-8000-000000000020";
const std::string kF1 = "11111111-0000-4000-8000-000000000021";  // branch of F0
const std::string kK0 = "11111111-0000-4000-8000-000000000030";
const std::string kK1 = "11111111-0000-4000-8000-000000000031";  // unmarked fork of K0
const std::string kS0 = "11111111-0000-4000-8000-000000000040";
const std::string kS1 = "11111111-0000-4000-8000-000000000041";  // SDK fork of S0

// Writes the home; returns the prompts typed in each session.
std::map<std::string, std::vector<std::string>> write_home(const fs::path& claude) {
  const fs::path project = claude / "projects" / "-work-app";
  auto file = [&](const std::string& id, const std::string& text) {
    write_file(project / (id + ".jsonl"), text);
  };
  // Resume in the 1.0 way: a new file repeats the old lines verbatim, then
  // goes on under its own id.
  const std::string old_lines = exchange(1, "o1", in(kO)) + exchange(2, "o2", in(kO));
  file(kO, old_lines);
  file(kR, old_lines + exchange(3, "o3", in(kR)));
  // A resumed compacted session appends its last segment again.
  file(kP, exchange(10, "p1", in(kP)) + exchange(11, "p2", in(kP)) +
               exchange(11, "p2", in(kP)) + exchange(12, "p3", in(kP)));
  // Background handoff, twice.
  const Copy b1{kB1, true}, b2{kB2, true};
  file(kB0, exchange(20, "b1", in(kB0)) + queued(20, "b9", in(kB0)) +
                exchange(21, "b2", in(kB0)));
  file(kB1, exchange(20, "b1", b1) + queued(20, "b9", b1) + exchange(21, "b2", b1) +
                exchange(22, "b3", b1));
  file(kB2, exchange(20, "b1", b2) + queued(20, "b9", b2) + exchange(21, "b2", b2) +
                exchange(22, "b3", b2) + exchange(23, "b4", b2));
  // /branch: copies with new uuids that name their originals, a day later.
  const Copy f1{kF1, false, true, kF0, 86400};
  file(kF0, exchange(30, "f1", in(kF0)) + exchange(31, "f2", in(kF0)));
  file(kF1,
       exchange(30, "f1", f1) + exchange(31, "f2", f1) + exchange(32, "f3", in(kF1)));
  // --fork-session of an older version: same uuids, no mark.
  file(kK0, exchange(40, "k1", in(kK0)) + exchange(41, "k2", in(kK0)));
  file(kK1, exchange(40, "k1", in(kK1)) + exchange(41, "k2", in(kK1)) +
                exchange(42, "k3", in(kK1)));
  // An SDK fork at the first exchange.
  file(kS0, exchange(50, "s1", in(kS0)) + exchange(51, "s2", in(kS0)));
  file(kS1, exchange(50, "s1", Copy{kS1, false, true, kS0, 600}) +
                exchange(52, "s3", in(kS1)));

  const std::map<std::string, std::vector<std::string>> typed = {
      {kO, {"o1", "o2"}},
      {kR, {"o3"}},
      {kP, {"p1", "p2", "p3"}},
      {kB0, {"b1", "b9", "b2"}},
      {kB1, {"b3"}},
      {kB2, {"b4"}},
      {kF0, {"f1", "f2"}},
      {kF1, {"f3"}},
      {kK0, {"k1", "k2"}},
      {kK1, {"k3"}},
      {kS0, {"s1", "s2"}},
      {kS1, {"s3"}},
  };
  // The prompt history names each prompt with the session it was typed in.
  std::string history;
  for (const auto& [id, prompts] : typed) {
    for (const std::string& prompt : prompts) {
      const int n = std::stoi(prompt.substr(1));
      history += R"({"display":")" + prompt + R"(","timestamp":)" +
                 std::to_string((1746093600LL + n) * 1000) + R"(,"sessionId":")" + id +
                 R"(","project":"/work/app"})"
                 "\n";
    }
  }
  write_file(claude / "history.jsonl", history);
  return typed;
}

json read_entry(const fs::path& archive, const std::string& entry,
                const fs::path& scratch) {
  const fs::path out = scratch / entry;
  const std::string command =
      "python3 -c \"import sys, zipfile; open(sys.argv[3], 'wb')"
      ".write(zipfile.ZipFile(sys.argv[1]).read(sys.argv[2]))\" " +
      archive.string() + " " + entry + " " + out.string();
  EXPECT_EQ(std::system(command.c_str()), 0);
  return json::parse(read_file(out));
}

TEST(ContinuationsEndToEnd, EveryTypedPromptIsPackedOnceAndCountedOnce) {
  TempDir home;
  const fs::path claude = home.path() / ".claude";
  const auto typed = write_home(claude);
  RunOptions options;
  options.env = {{"HOME", home.path().string()}};
  options.cwd = home.path();
  const RunResult r = run_lorebox(
      {"--source", "claude", "--output", (home.path() / "out.zip").string()}, options);
  ASSERT_EQ(r.status, 0) << r.err;
  // Every prompt is in its transcript: history recovers and rebuilds nothing.
  EXPECT_EQ(r.err.find("Recovered"), std::string::npos) << r.err;
  EXPECT_NE(r.out.find("(20 prompts,"), std::string::npos) << r.out;

  const json conversations =
      read_entry(home.path() / "out.zip", "conversations.json", home.path());
  std::map<std::string, std::vector<std::string>> packed;
  for (const json& c : conversations) {
    std::vector<std::string>& prompts = packed[c["id"].get<std::string>().substr(7)];
    for (const auto& [node, value] : c["mapping"].items()) {
      if (value["message"]["author"]["role"] == "user")
        prompts.push_back(value["message"]["content"]["parts"][0]);
    }
  }
  // The resume file's prompt joins the resumed session; no phantom session.
  std::map<std::string, std::vector<std::string>> expected = typed;
  expected[kO].push_back("o3");
  expected.erase(kR);
  EXPECT_EQ(packed, expected);

  // Each session counts two turns, one call and one failure per prompt of
  // its own; tokens once per response.
  const json efficiency =
      read_entry(home.path() / "out.zip", "efficiency.json", home.path());
  ASSERT_EQ(efficiency["sessions"].size(), expected.size());
  for (const json& e : efficiency["sessions"]) {
    const std::string id = e["id"].get<std::string>().substr(7);
    // b9 came through the queue, without an exchange of its own.
    const uint64_t prompts = expected[id].size() - (id == kB0 ? 1 : 0);
    EXPECT_EQ(e["turns"], 2 * prompts) << id;
    EXPECT_EQ(e["tool_calls"], prompts) << id;
    EXPECT_EQ(e["failed_calls"], prompts) << id;
    EXPECT_EQ(e["tool_result_bytes"], 4 * prompts) << id;
    EXPECT_EQ(e["repeated_calls"], 0) << id;
    EXPECT_EQ(e["tokens"]["input"], 300 * prompts) << id;
    EXPECT_EQ(e["top_commands"], json::array({json::array({"git status", prompts})}))
        << id;
  }
}

// The realistic transcripts of other projects, laid out as a home.
const fs::path kRealdata2 = LOREBOX_SOURCE_DIR "/../shared/realdata2";

TEST(ContinuationsEndToEnd, RealTranscriptsPackNoMarkupOrInternalAgents) {
  if (!fs::is_directory(kRealdata2)) GTEST_SKIP() << kRealdata2 << " is not there";
  TempDir home;
  const fs::path projects = home.path() / ".claude" / "projects";
  const fs::path rollouts = home.path() / ".codex" / "sessions" / "2025" / "10" / "21";
  for (const fs::directory_entry& folder : fs::directory_iterator(kRealdata2)) {
    if (!folder.is_directory()) continue;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder.path())) {
      const std::string name = entry.path().filename().string();
      if (name == "LICENSE" || name.find("history") != std::string::npos) continue;
      const std::string text = read_file(entry.path());
      const std::string project = folder.path().filename().string();
      if (text.find("\"payload\"") != std::string::npos) {
        write_file(rollouts / ("rollout-" + project + "-" + name), text);
      } else if (const size_t sub = name.find("_subagents_"); sub != std::string::npos) {
        write_file(projects / project / name.substr(0, sub) / "subagents" /
                       name.substr(sub + 11),
                   text);
      } else {
        write_file(projects / project / name, text);
      }
    }
  }
  RunOptions options;
  options.env = {{"HOME", home.path().string()}};
  options.cwd = home.path();
  const RunResult r = run_lorebox({"--include-subagents", "--no-history", "--output",
                                   (home.path() / "out.zip").string()},
                                  options);
  ASSERT_EQ(r.status, 0) << r.err;
  const json conversations =
      read_entry(home.path() / "out.zip", "conversations.json", home.path());
  const std::string packed = conversations.dump();
  EXPECT_EQ(packed.find("bash-input"), std::string::npos);
  EXPECT_EQ(packed.find("local-command-caveat"), std::string::npos);
  EXPECT_EQ(packed.find("\"Warmup\""), std::string::npos);
  // The compaction agent's summary request never appears.
  EXPECT_EQ(packed.find("Your task is to create a detailed summary"), std::string::npos);

  // The 0.47 Codex rollout ran its shell commands through argv arrays.
  const json efficiency =
      read_entry(home.path() / "out.zip", "efficiency.json", home.path());
  bool found = false;
  for (const json& e : efficiency["sessions"]) {
    if (e["source"] != "codex" ||
        e["top_tools"].dump().find("\"shell\"") == std::string::npos)
      continue;
    found = found || !e["top_commands"].empty();
  }
  EXPECT_TRUE(found) << efficiency.dump();
}

}  // namespace
}  // namespace lorebox
