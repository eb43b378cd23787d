#include "claude/claude_reader.h"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "parallel/worker_pool.h"
#include "support/scan_text.h"
#include "support/temp_dir.h"

namespace lorebox {
namespace {

namespace fs = std::filesystem;

// A prompt or, with `model`, a reply of session `session` (none when empty)
// at second `second` of 2025-01-01.
std::string entry(const std::string& session, int second, const std::string& text,
                  const std::string& message = "") {
  return fmt::format(
      R"({{"type":"{}",{}"cwd":"/work/{}","timestamp":"2025-01-01T00:00:{:02}Z",)"
      R"("message":{{"content":[{{"type":"text","text":"{}"}}]{}}}}})",
      message.empty() ? "user" : "assistant",
      session.empty() ? "" : fmt::format(R"("sessionId":"{}",)", session), session,
      second, text, message);
}

// The line with a "uuid" member.
std::string uuid(const std::string& line, const std::string& id) {
  return "{\"uuid\":\"" + id + "\"," + line.substr(1);
}
// A "custom-title" line for session `session`.
std::string custom_title(const std::string& session, const std::string& title) {
  return fmt::format(R"({{"type":"custom-title","customTitle":"{}","sessionId":"{}"}})",
                     title, session);
}
// A "summary" line whose leaf is `leaf`.
std::string summary(const std::string& leaf, const std::string& text) {
  return fmt::format(R"({{"type":"summary","summary":"{}","leafUuid":"{}"}})", text,
                     leaf);
}

// "U:text" / "A:text|model" for every message of a session.
std::vector<std::string> render(const Session& session) {
  std::vector<std::string> out;
  for (const Message& m : session.messages) {
    out.push_back(m.role == Role::User ? "U:" + m.text
                                       : "A:" + m.text + "|" + m.model.value_or("-"));
  }
  return out;
}

class ClaudeReaderTest : public ::testing::Test {
 protected:
  void write(const std::string& relative, const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    testing::write_file(home_ / ("projects/" + relative), text);
  }
  // Reads the home one file after another, and checks that reading it
  // side by side on 2 and 7 workers gives the very same result.
  SourceScan read(const PackOptions& options = {}) {
    Result<SourceScan> scan =
        read_claude_sessions(home_.path(), options, ReadingContext{});
    EXPECT_TRUE(scan.has_value()) << (scan ? "" : scan.error());
    if (!scan) return SourceScan{};
    for (size_t workers : {2, 7}) {
      WorkerPool pool(workers);
      ReadingContext context;
      context.pool = &pool;
      Result<SourceScan> parallel = read_claude_sessions(home_.path(), options, context);
      EXPECT_TRUE(parallel.has_value()) << workers;
      if (!parallel) continue;
      EXPECT_EQ(testing::scan_text(*parallel), testing::scan_text(*scan)) << workers;
    }
    return std::move(scan).value();
  }
  static std::vector<std::string> ids(const SourceScan& scan) {
    std::vector<std::string> out;
    for (const Session& s : scan.sessions) out.push_back(s.id);
    return out;
  }
  testing::TempDir home_;
};

TEST_F(ClaudeReaderTest, MergesFilesOfOneSessionInTimestampOrder) {
  write("p/a.jsonl", {entry("s", 1, "one"), entry("s", 3, "three", R"(,"model":"m")")});
  write("p/b.jsonl", {R"({"type":"ai-title","aiTitle":"Title"})", entry("s", 2, "two"),
                      entry("s", 4, "four", R"(,"model":"m")")});
  write("q/c.jsonl", {entry("t", 1, "other")});
  SourceScan scan = read();
  ASSERT_EQ(ids(scan), (std::vector<std::string>{"claude-s", "claude-t"}));
  const Session& s = scan.sessions[0];
  EXPECT_EQ(render(s),
            (std::vector<std::string>{"U:one", "U:two", "A:three|m", "A:four|m"}));
  EXPECT_EQ(s.created_at, 1735689601.0);
  EXPECT_EQ(s.title, "Title");
  EXPECT_EQ(s.project, "/work/s");
  std::vector<std::string> fed;
  for (const StampedSource& source : scan.sources) {
    EXPECT_TRUE(source.stamp.path.starts_with(fs::canonical(home_.path()).string()));
    fed.push_back(fs::path(source.stamp.path).filename().string() + ">" +
                  source.session_id);
  }
  std::sort(fed.begin(), fed.end());
  EXPECT_EQ(fed, (std::vector<std::string>{"a.jsonl>claude-s", "b.jsonl>claude-s",
                                           "c.jsonl>claude-t"}));
  EXPECT_EQ(scan.skipped_files, 0u);
}

TEST_F(ClaudeReaderTest, SplitResponseCountsOnceAcrossFilesOfASession) {
  const std::string response = R"(,"id":"msg_1","usage":{{"output_tokens":{}}})";
  write("p/a.jsonl", {entry("s", 1, "part", fmt::format(fmt::runtime(response), 8))});
  write("p/b.jsonl", {entry("s", 2, "rest", fmt::format(fmt::runtime(response), 108)),
                      entry("s", 3, "own", R"(,"usage":{"output_tokens":1})")});
  SourceScan scan = read();
  ASSERT_EQ(scan.sessions.size(), 1u);
  EXPECT_EQ(scan.sessions[0].efficiency.turns, 2u);
  EXPECT_EQ(scan.sessions[0].efficiency.output, 109u);
  EXPECT_EQ(scan.sessions[0].messages.size(), 3u);
}

TEST_F(ClaudeReaderTest, SubagentTranscriptsNeedTheOption) {
  write("root.jsonl", {entry("root", 1, "top")});
  write("p/s.jsonl", {entry("s", 1, "main")});
  write("p/s/subagents/agent-1.jsonl",
        {R"({"isSidechain":true,)" + entry("s", 2, "task").substr(1)});
  // The compaction agent is never read.
  write("p/s/subagents/agent-acompact-1.jsonl",
        {R"({"isSidechain":true,)" + entry("s", 3, "summarise").substr(1)});
  write("p/deep/a.jsonl", {entry("", 1, "nested")});
  for (bool include : {false, true}) {
    SourceScan scan = read({.include_subagents = include});
    std::vector<std::string> expected = {"claude-root", "claude-s"};
    if (include) expected.insert(expected.begin(), "claude-a");
    EXPECT_EQ(ids(scan), expected) << include;
    EXPECT_EQ(scan.sessions.back().messages.size(), include ? 2u : 1u);
    EXPECT_EQ(scan.skipped_files, 0u);
  }
}

TEST_F(ClaudeReaderTest, CopiedLinesAreKeptOnceAndSharedLinesHandedOn) {
  // "<uuid>" lines of session `session`; copies repeat the uuid.
  auto at = [](const std::string& session, int second, const std::string& text,
               const std::string& uuid, const std::string& extra = "") {
    const std::string tool =
        R"(,"usage":{"output_tokens":1},"id":"m)" + uuid +
        R"(","content":[{"type":"tool_use","name":"Read","input":{"file_path":")" + uuid +
        R"("}}])";
    return std::vector<std::string>{R"({"uuid":")" + uuid + "\"" + extra + "," +
                                        entry(session, second, text).substr(1),
                                    R"({"uuid":")" + uuid + "t\"" + extra + "," +
                                        entry(session, second, "", tool).substr(1)};
  };
  auto join = [](std::vector<std::vector<std::string>> parts) {
    std::vector<std::string> out;
    for (auto& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
  };
  write("p/old.jsonl", join({at("old", 1, "p1", "u1")}));
  // A resume file: the old lines again, then its own, under a new id.
  write("p/new.jsonl", join({at("old", 1, "p1", "u1"), at("new", 2, "p2", "u2")}));
  // A background copy of the first prompt in a session of its own.
  write("p/bg.jsonl", join({at("bg", 1, "p1", "u1", R"(,"sessionKind":"bg")"),
                            at("bg", 3, "p3", "u3", R"(,"sessionKind":"bg")")}));
  SourceScan scan = read();
  ASSERT_EQ(ids(scan), (std::vector<std::string>{"claude-bg", "claude-old"}));
  EXPECT_EQ(render(scan.sessions[1]), (std::vector<std::string>{"U:p1", "U:p2"}));
  EXPECT_EQ(scan.sessions[1].efficiency.tool_calls, 2u);
  EXPECT_EQ(scan.sessions[1].efficiency.whole_file_reads, 2u);
  EXPECT_EQ(scan.sessions[1].efficiency.turns, 2u);
  // The resume file's own id and name stand for the session it joined.
  EXPECT_EQ(scan.aliases, (SessionAliases{{"new", "claude-old"}}));
  // Only u1 (and its tool line) occurs in both sessions; the session that
  // read it twice keeps the copy without a charge.
  ASSERT_EQ(scan.shared_lines.size(), 2u);
  for (const SessionLines& lines : scan.shared_lines) {
    const bool old = lines.session_id == "claude-old";
    ASSERT_EQ(lines.lines.size(), old ? 4u : 2u) << lines.session_id;
    if (old) {
      EXPECT_EQ(lines.lines[3].charge, kNoCharge);
    }
    EXPECT_EQ(lines.lines[0].identity, line_identity("u1"));
    EXPECT_EQ(lines.lines[0].marked, lines.session_id == "claude-bg");
    ASSERT_NE(lines.lines[1].charge, kNoCharge);
    EXPECT_EQ(lines.charges[lines.lines[1].charge].tool_calls, 1u);
    ASSERT_NE(lines.lines[1].response, kNoResponse);
    EXPECT_EQ(lines.responses[lines.lines[1].response].lines, old ? 2u : 1u);
  }
}

TEST_F(ClaudeReaderTest, IdsFromFileNames) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"/r/p/abc.jsonl", "claude-abc"},
      {"/r/p/notes", "claude-notes"},
      {"/r/p/.jsonl", "claude-.jsonl"},
      {"/r/p/a.b.jsonl", "claude-a.b"},
      {"/r/p/abc.jsonl.zst", "claude-abc"},
      {"bare.jsonl", "claude-bare"},
      {"/r/\xff\xfe.jsonl", "claude-\xef\xbf\xbd\xef\xbf\xbd"},
  };
  for (const auto& [path, id] : cases) EXPECT_EQ(file_name_session_id(path), id) << path;
  for (const auto& [path, depth] : std::vector<std::pair<std::string, size_t>>{
           {"a.jsonl", 1}, {"p/a.jsonl", 2}, {"p/s/subagents/a.jsonl", 4}, {"p//a", 2}}) {
    EXPECT_EQ(path_depth(path), depth) << path;
  }
  write("p/caf\xe9.jsonl", {entry("", 1, "latin-1 name")});
  EXPECT_EQ(ids(read()), std::vector<std::string>{"claude-caf\xef\xbf\xbd"});
}

TEST_F(ClaudeReaderTest, FilesWithoutMessagesContributeNothing) {
  EXPECT_TRUE(read().sessions.empty());  // no projects directory at all
  write("p/noise.jsonl", {entry("s", 1, "<system-reminder>x"), "{broken",
                          R"({"type":"ai-title","aiTitle":"t","sessionId":"s"})"});
  SourceScan scan = read();
  EXPECT_TRUE(scan.sessions.empty());
  EXPECT_TRUE(scan.sources.empty());
  EXPECT_EQ(scan.skipped_files, 0u);
}

TEST_F(ClaudeReaderTest, StoredTitlesAreRedacted) {
  const std::string key = "ghp_" + std::string(36, 'x');
  write("p/a.jsonl",
        {R"({"type":"ai-title","aiTitle":"fix )" + key + R"("})", entry("s", 1, "hi")});
  write("p/b.jsonl", {custom_title("t", "rename " + key), entry("t", 1, "hi")});
  write("p/c.jsonl", {summary("u1", "sum " + key), uuid(entry("u", 1, "hi"), "u1")});
  for (const bool redact : {true, false}) {
    const std::string shown = redact ? "[redacted-secret]" : key;
    SourceScan scan = read({.redact = redact});
    ASSERT_EQ(scan.sessions.size(), 3u);
    EXPECT_EQ(scan.sessions[0].title, "fix " + shown);
    EXPECT_EQ(scan.sessions[1].title, "rename " + shown);
    EXPECT_EQ(scan.sessions[2].title, "sum " + shown);
  }
}

TEST_F(ClaudeReaderTest, TitlesPeopleChoseThenTitlesTheAgentWrote) {
  const std::string ai = R"({"type":"ai-title","aiTitle":"by the agent"})";
  struct Case {
    const char* name;
    std::vector<std::pair<std::string, std::vector<std::string>>> files;
    std::vector<std::string> expected;  // "session=title", "-" for none
  };
  const std::vector<Case> cases = {
      {"the last non-empty custom title beats the agent's",
       {{"p/a.jsonl",
         {ai, custom_title("a", "old name"), entry("a", 1, "hi"),
          custom_title("a", "new name"), custom_title("a", ""), custom_title("a", " "),
          summary("x", "unused")}}},
       {"claude-a=new name"}},
      {"an empty custom title leaves the agent's",
       {{"p/a.jsonl", {ai, custom_title("a", ""), entry("a", 1, "hi")}}},
       {"claude-a=by the agent"}},
      {"summaries belong to the session holding their leaf, wherever they stand",
       {{"p/a.jsonl",
         {uuid(entry("a", 1, "hi"), "a1"),
          R"({"type":"system","sessionId":"a","uuid":"a2"})"}},
        {"p/b.jsonl",
         {summary("a2", "of a"), summary("b1", "first of b"), summary("b1", "last of b"),
          summary("c1", "of c"), summary("zz", "of nobody"), summary("a1", ""),
          uuid(entry("b", 2, "hi"), "b1")}},
        {"p/c.jsonl", {ai, uuid(entry("c", 3, "hi"), "c1")}},
        {"p/d.jsonl", {entry("d", 4, "hi")}}},
       {"claude-a=of a", "claude-b=last of b", "claude-c=by the agent", "claude-d=-"}},
      {"of two leaves the later one's summary, wherever the summaries stand",
       {{"p/a.jsonl",
         {summary("a2", "of the later leaf"), summary("a1", "of the earlier leaf"),
          uuid(entry("a", 1, "hi"), "a1"), uuid(entry("a", 2, "so"), "a2"),
          uuid(entry("a", 3, "on"), "a3")}},
        {"p/b.jsonl", {summary("a1", "also of the earlier leaf"), entry("b", 1, "hi")}}},
       {"claude-a=of the later leaf", "claude-b=-"}},
      {"a copied leaf belongs to the session that ends with it",
       {{"p/a.jsonl", {uuid(entry("a", 1, "hi"), "u1"), uuid(entry("a", 2, "so"), "u2")}},
        {"p/b.jsonl",
         {summary("u2", "of a"), summary("u3", "of b"), uuid(entry("b", 1, "hi"), "u1"),
          uuid(entry("b", 2, "so"), "u2"), uuid(entry("b", 3, "on"), "u3")}}},
       {"claude-a=of a", "claude-b=of b"}},
      {"files without messages still title other sessions",
       {{"p/a.jsonl", {uuid(entry("a", 1, "hi"), "u1")}},
        {"p/b.jsonl", {entry("b", 1, "hi")}},
        {"p/n.jsonl",
         {summary("u1", "from elsewhere"), custom_title("b", "renamed elsewhere")}}},
       {"claude-a=from elsewhere", "claude-b=renamed elsewhere"}},
  };
  for (const Case& c : cases) {
    fs::remove_all(home_ / "projects");
    for (const auto& [name, lines] : c.files) write(name, lines);
    std::vector<std::string> got;
    for (const Session& s : read().sessions)
      got.push_back(s.id + "=" + s.title.value_or("-"));
    EXPECT_EQ(got, c.expected) << c.name;
  }
}

TEST_F(ClaudeReaderTest, QueuedPromptsAreKeptOncePerSession) {
  const std::string enqueue =
      R"({"type":"queue-operation","operation":"enqueue","timestamp":"2025-01-01T00:00:02Z",)"
      R"("sessionId":"s","content":"while busy"})";
  const std::string remove =
      R"({"type":"queue-operation","operation":"remove","timestamp":"2025-01-01T00:00:03Z",)"
      R"("sessionId":"s"})";
  // The file of the queue does not carry the prompt; another file of the
  // session does, later.
  write("p/a.jsonl", {entry("s", 1, "first"), enqueue, remove});
  write("p/b.jsonl", {entry("s", 4, "while busy")});
  // Here no file does: the queue's copy is packed, once, though the queue
  // lines come twice.
  write("q/c.jsonl", {entry("t", 1, "first"), enqueue, remove});
  write("q/d.jsonl", {entry("t", 5, "after"), enqueue, remove});
  // A queue alone makes a session.
  write("r/e.jsonl", {enqueue, remove});
  SourceScan scan = read();
  ASSERT_EQ(ids(scan), (std::vector<std::string>{"claude-s", "claude-t"}));
  EXPECT_EQ(render(scan.sessions[0]),
            (std::vector<std::string>{"U:first", "U:while busy"}));
  EXPECT_EQ(scan.sessions[0].messages[1].timestamp, 1735689604.0);
  EXPECT_EQ(render(scan.sessions[1]),
            (std::vector<std::string>{"U:first", "U:while busy", "U:after"}));
}

TEST_F(ClaudeReaderTest, ReadsALinkedHomeButNoLinkBelowIt) {
  write("p/a.jsonl", {entry("s", 1, "hi")});
  fs::create_symlink(home_ / "projects/p/a.jsonl", home_ / "projects/p/b.jsonl");
  fs::create_directory_symlink(home_ / "projects/p", home_ / "projects/linked");
  fs::create_directory(home_ / "real");
  fs::create_directory_symlink(home_ / "projects", home_ / "real/projects");
  fs::create_directory_symlink(home_ / "real", home_ / "home");
  Result<SourceScan> scan = read_claude_sessions(home_ / "home", {}, ReadingContext{});
  ASSERT_TRUE(scan.has_value());
  ASSERT_EQ(scan->sources.size(), 1u);
  EXPECT_EQ(fs::path(scan->sources[0].stamp.path),
            fs::canonical(home_.path()) / "projects" / "p" / "a.jsonl");
}

TEST_F(ClaudeReaderTest, RealTranscripts) {
  // Third-party samples are read in place from the shared data folder
  // beside the source tree; this project's own captures live in the tree.
  const fs::path shared = fs::path(LOREBOX_SOURCE_DIR) / "../shared/realdata";
  if (!fs::is_directory(shared / "marot__spotter"))
    GTEST_SKIP() << "sample transcripts not found at " << shared;
  const fs::path captures = fs::path(LOREBOX_SOURCE_DIR) /
                            "tests/data/realdata/local-captures/claude-code-2.1.337";
  fs::create_directories(home_ / "projects/spotter");
  fs::create_directories(home_ / "projects/mock");
  fs::copy_file(shared / "marot__spotter/short.jsonl",
                home_ / "projects/spotter/short.jsonl");
  for (const char* name : {"interactive__4b8ec991-b0fd-4c9d-81bb-dc4daf89d02f.jsonl",
                           "print-mode__ae48ce74-894b-4498-bac0-2d1760af104d.jsonl"}) {
    fs::copy_file(captures / name, home_ / "projects/mock" / name);
  }
  SourceScan scan = read();
  ASSERT_EQ(ids(scan),
            (std::vector<std::string>{"claude-4b8ec991-b0fd-4c9d-81bb-dc4daf89d02f",
                                      "claude-55604662-cf2a-4331-851a-ec234028f8ca",
                                      "claude-ae48ce74-894b-4498-bac0-2d1760af104d"}));

  std::string pasted = "summarize this: \n\n<pasted_content id=\"cfa5\">\n";
  for (int i = 1; i <= 25; ++i)
    pasted += fmt::format("pasted line {} with some content\n", i);
  pasted += "</pasted_content id=\"cfa5\">\n\n thanks";
  const std::string secret = " The secret [redacted-secret] was not real.";
  EXPECT_EQ(
      render(scan.sessions[0]),
      (std::vector<std::string>{
          "U:list the files here please", "A:I will run a command (5).|claude-opus-4-5",
          "A:Mock final answer 6." + secret + "|claude-opus-4-5", "U:" + pasted,
          "A:I will run a command (8).|claude-opus-4-5",
          "A:Mock final answer 9." + secret + "|claude-opus-4-5", "U:/model sonnet",
          "U:one more question while nothing runs",
          "A:I will run a command (11).|claude-sonnet-5-5",
          "A:Mock final answer 12." + secret + "|claude-sonnet-5-5"}));
  EXPECT_EQ(render(scan.sessions[1]),
            (std::vector<std::string>{
                "U:mix phx.server doesnt seem to start",
                "A:Let me check the project structure and try running the server to see "
                "the error.|claude-opus-4-6"}));
  EXPECT_EQ(render(scan.sessions[2]),  // the "sdk" prompt of a -p run is not packed
            (std::vector<std::string>{
                "A:I will run a command (2).|claude-sonnet-4-5",
                "A:Mock final answer 3." + secret + "|claude-sonnet-4-5"}));

  // One turn per API response: these match the per-model totals that Claude
  // Code itself wrote in the "cost-state" lines, and short.jsonl is a single
  // response written as five lines.
  struct Expected {
    uint64_t turns, input, output, cache_read, cache_write, tool_calls, failed, bytes;
  };
  const std::vector<Expected> expected = {{6, 66, 342, 18000, 1200, 3, 0, 3 * 17},
                                          {1, 3, 13, 11515, 13835, 2, 2, 2 * 227},
                                          {2, 22, 114, 6000, 400, 1, 0, 17}};
  for (size_t i = 0; i < expected.size(); ++i) {
    const SessionEfficiency& e = scan.sessions[i].efficiency;
    const Expected& x = expected[i];
    EXPECT_EQ(
        (std::vector<uint64_t>{e.turns, e.input, e.output, e.cache_read, e.cache_write,
                               e.tool_calls, e.failed_calls, e.tool_result_bytes}),
        (std::vector<uint64_t>{x.turns, x.input, x.output, x.cache_read, x.cache_write,
                               x.tool_calls, x.failed, x.bytes}))
        << scan.sessions[i].id;
  }
  EXPECT_EQ(scan.sessions[0].efficiency.commands.at("echo"), 3u);
  EXPECT_EQ(scan.sessions[1].project, "/home/marco/projects/spotter");
}

}  // namespace
}  // namespace lorebox
