#include "history/history_recovery.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "claude/claude_reader.h"
#include "history/recovery_support.h"
#include "support/temp_dir.h"
#include "text/cleanup.h"
#include "text/redact.h"

namespace lorebox {
namespace {

namespace fs = std::filesystem;
using testing::msg;
using testing::recover;
using testing::Texts;
const SourceKind kClaude = SourceKind::ClaudeCode;
const SourceKind kCodex = SourceKind::Codex;
const std::string kSecret = "sk-ant-api03-" + std::string(40, 'A');
const std::string kPasted = R"({"1":{"content":"body"}})";

Session session(SourceKind source, std::string id, std::vector<Message> messages) {
  Session s;
  s.source = source;
  s.id = std::move(id);
  s.messages = std::move(messages);
  return s;
}

std::string claude_line(const std::string& id, const std::string& display, double seconds,
                        const std::string& pasted = "{}") {
  return R"({"sessionId":")" + id + R"(","display":")" + display +
         R"(","pastedContents":)" + pasted + R"(,"timestamp":)" +
         std::to_string(seconds * 1000) + R"(,"project":"/p/)" + id + "\"}";
}

std::string codex_line(const std::string& id, const std::string& text, double ts) {
  return R"({"session_id":")" + id + R"(","text":")" + text + R"(","ts":)" +
         std::to_string(ts) + "}";
}

PackOptions options(bool redact, std::optional<uint64_t> limit = std::nullopt) {
  PackOptions o;
  o.redact = redact;
  o.max_message_chars = limit;
  return o;
}

struct RecoveryCase {
  std::string name;
  SourceKind source;
  std::vector<Session> before;
  std::vector<std::string> history;
  PackOptions opts;
  uint64_t recovered, rebuilt;
  std::vector<Texts> after;  // message texts of each session, in list order
};

void PrintTo(const RecoveryCase& c, std::ostream* out) { *out << c.name; }

class RecoveryTest : public ::testing::TestWithParam<RecoveryCase> {};

TEST_P(RecoveryTest, MergesHistory) {
  const RecoveryCase& c = GetParam();
  std::vector<Session> sessions = c.before;
  RecoveryCounts counts = recover(sessions, c.source, c.history, c.opts);
  EXPECT_EQ(counts.recovered_prompts, c.recovered);
  EXPECT_EQ(counts.rebuilt_sessions, c.rebuilt);
  std::vector<Texts> after;
  for (const Session& s : sessions) {
    after.emplace_back();
    for (const Message& m : s.messages) after.back().push_back(m.text);
  }
  EXPECT_EQ(after, c.after);
}

Session one(SourceKind source, const std::string& id, Message m) {
  return session(source, id, {std::move(m)});
}
// A Codex session holding `kept`, and a history that typed `typed`.
RecoveryCase match(std::string name, std::string typed, Message kept, PackOptions opts,
                   bool added) {
  Texts texts = {kept.text};
  if (added) {
    std::string expected = opts.redact ? redact_secrets(typed) : typed;
    texts.push_back(truncate_message(expected, opts.max_message_chars));
  }
  return {std::move(name),
          kCodex,
          {one(kCodex, "codex-a", std::move(kept))},
          {codex_line("a", typed, 50)},
          opts,
          added ? 1u : 0u,
          0,
          {texts}};
}

// A Claude Code session holding `kept`, and a history prompt at 100 s with
// the given pasted contents.
RecoveryCase pasted(std::string name, Message kept, std::string contents, bool added) {
  Texts texts = {kept.text};
  std::string typed = contents == "{}" ? "see [Pasted]" : "see [Pasted]\nbody";
  if (added) texts.insert(kept.timestamp < 100 ? texts.end() : texts.begin(), typed);
  return {std::move(name),
          kClaude,
          {one(kClaude, "claude-a", std::move(kept))},
          {claude_line("a", "see [Pasted]", 100, contents)},
          {},
          added ? 1u : 0u,
          0,
          {texts}};
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Cases, RecoveryTest, ::testing::Values(
    RecoveryCase{"AllPresent", kCodex,
        {session(kCodex, "codex-a", {msg("1", 10), msg("2", 20)})},
        {codex_line("a", "1", 10), codex_line("a", "2", 99)}, {}, 0, 0, {{"1", "2"}}},
    // Without a history file not even the order of messages changes.
    RecoveryCase{"NoHistoryFile", kClaude,
        {session(kClaude, "claude-a", {msg("2", 20), msg("1", 10)})},
        {}, {}, 0, 0, {{"2", "1"}}},
    // A text typed twice, 10 s apart, is two prompts.
    RecoveryCase{"PrunedClaude", kClaude, {one(kClaude, "claude-b", msg("x", 1))},
        {claude_line("a", "2", 30), claude_line("a", "1", 2.5), claude_line("a", "2", 40)},
        {}, 3, 1, {{"x"}, {"1", "2", "2"}}},
    // A Claude Code session does not hold a Codex id.
    RecoveryCase{"PrunedCodex", kCodex, {one(kClaude, "codex-a", msg("x", 1))},
        {codex_line("a", "2", 30), codex_line("a", "1", 2.5), codex_line("a", "2", 40)},
        {}, 3, 1, {{"x"}, {"1", "2", "2"}}},
    // Lines of one text within 2 s of the one before are one prompt.
    RecoveryCase{"RewrittenWithin2s", kClaude, {},
        {claude_line("a", "x", 1), claude_line("a", "x", 1.01), claude_line("a", "x", 2.9),
         claude_line("a", "x", 5)},
        {}, 2, 1, {{"x", "x"}}},
    RecoveryCase{"RetypedWithin2sHeld", kCodex, {one(kCodex, "codex-a", msg("go", 10))},
        {codex_line("a", "go", 10), codex_line("a", "go", 11.5)}, {}, 0, 0, {{"go"}}},
    RecoveryCase{"RetypedApart", kCodex, {one(kCodex, "codex-a", msg("go", 10))},
        {codex_line("a", "go", 10), codex_line("a", "go", 123)}, {}, 1, 0, {{"go", "go"}}},
    // Each transcript copy stands for the prompt nearest to it: the one at
    // 100 s is missing, not the one at 200 s.
    RecoveryCase{"CopiesMatchNearest", kCodex,
        {session(kCodex, "codex-a", {msg("go", 10), msg("m", 150), msg("go", 199)})},
        {codex_line("a", "go", 10), codex_line("a", "go", 100), codex_line("a", "go", 200)},
        {}, 1, 0, {{"go", "go", "m", "go"}}},
    // A history line belongs to the session that holds it: "/clear" written
    // under the cleared session's id while the next session starts with it.
    RecoveryCase{"ClearHeldByNextSession", kClaude,
        {one(kClaude, "claude-a", msg("hi", 1)), one(kClaude, "claude-b", msg("/clear", 100.01))},
        {claude_line("a", "/clear", 100)}, {}, 0, 0, {{"hi"}, {"/clear"}}},
    RecoveryCase{"ClearHeldByNoOtherSession", kClaude,
        {one(kClaude, "claude-a", msg("hi", 1)), one(kClaude, "claude-b", msg("/clear", 102.5))},
        {claude_line("a", "/clear", 100)}, {}, 1, 0, {{"hi", "/clear"}, {"/clear"}}},
    RecoveryCase{"ClearOfPrunedSession", kClaude, {one(kClaude, "claude-b", msg("/clear", 100))},
        {claude_line("a", "/clear", 100.5)}, {}, 0, 0, {{"/clear"}}},
    // Its own session holding it too keeps the line there.
    RecoveryCase{"ClearHeldByBoth", kClaude,
        {one(kClaude, "claude-a", msg("/clear", 100)),
         one(kClaude, "claude-b", msg("/clear", 100.01))},
        {claude_line("a", "/clear", 100), claude_line("a", "/clear", 500)},
        {}, 1, 0, {{"/clear", "/clear"}, {"/clear"}}},
    RecoveryCase{"LostPrompt", kClaude,
        {session(kClaude, "claude-a", {msg("1", 10), msg("3", 30)})},
        {claude_line("a", "2", 20), claude_line("a", " \\t\u3000 ", 25)},
        {}, 1, 0, {{"1", "2", "3"}}},
    RecoveryCase{"FirstOfTwoIds", kCodex,
        {one(kCodex, "codex-a", msg("x", 1)), one(kCodex, "codex-a", msg("y", 1))},
        {codex_line("a", "z", 5)}, {}, 1, 0, {{"x", "z"}, {"y"}}},
    RecoveryCase{"BadLines", kCodex, {},
        {codex_line("a", "1", 1), "{not json", R"({"session_id":"a"})",
         codex_line("a", "2", 2), codex_line("a", "bad \xff", 3), codex_line("a", "3", 4)},
        {}, 2, 1, {{"1", "2"}}},
    match("HistoryTrimmed", "  hi ", msg("hi", 1), options(true), false),
    match("TranscriptUntrimmed", "hi", msg(" hi", 1), options(true), true),
    match("AssistantHolds", "hi", msg("hi", 1, Role::Assistant), options(true), false),
    match("Redacted", "k " + kSecret, msg(redact_secrets("k " + kSecret), 1),
          options(true), false),
    match("NotRedacted", "k " + kSecret, msg(redact_secrets("k " + kSecret), 1),
          options(false), true),
    match("Truncated", "hello world", msg(truncate_message("hello world", 5), 1),
          options(true, 5), false),
    match("TruncatedDiffers", "hello world", msg("hello world", 1), options(true, 5), true),
    // A pasted prompt is held inline by its transcript: a user message within
    // 2 seconds stands for it.
    pasted("PastedJustBefore", msg("see <pasted>", 98), kPasted, false),
    pasted("PastedJustAfter", msg("see <pasted>", 101.5), kPasted, false),
    pasted("PastedTooLate", msg("see <pasted>", 102.5), kPasted, true),
    pasted("PastedNearReply", msg("reply", 100.2, Role::Assistant), kPasted, true),
    pasted("NothingPasted", msg("other", 100.2), "{}", true),
    // A cached paste that cannot be read leaves the placeholder, which the
    // transcript's inline copy still stands for.
    pasted("PastedCacheMissing", msg("see <pasted>", 100.5),
           R"({"1":{"type":"text","contentHash":"0f1e"}})", false),
    // Sessions rebuilt here have no transcript copy to stand for the prompt.
    RecoveryCase{"PastedIntoPruned", kClaude, {},
        {claude_line("a", "1", 100, kPasted), claude_line("a", "2", 101, kPasted)},
        {}, 2, 1, {{"1\nbody", "2\nbody"}}}),
    [](const ::testing::TestParamInfo<RecoveryCase>& param) { return param.param.name; });
// clang-format on

TEST(RecoveryFieldsTest, RebuiltSessionTakesEntryTimeProjectAndRedactedTitle) {
  for (bool redact : {true, false}) {
    std::vector<Session> sessions;
    recover(sessions, kClaude, {claude_line("c", "p", 2.5)}, options(redact), {});
    recover(sessions, kCodex, {codex_line("t", "p", 2500), codex_line("u", "p", 1)},
            options(redact), {{"t", "use " + kSecret}});
    ASSERT_EQ(sessions.size(), 3u);
    EXPECT_EQ(sessions[0].created_at, 2.5);
    EXPECT_EQ(sessions[0].project, "/p/c");
    EXPECT_FALSE(sessions[0].title);
    EXPECT_EQ(sessions[1].created_at, 2500.0);
    EXPECT_EQ(sessions[1].title,
              redact ? redact_secrets("use " + kSecret) : "use " + kSecret);
    EXPECT_EQ(sessions[1].title->find(kSecret) == std::string::npos, redact);
    EXPECT_FALSE(sessions[2].title);
  }
}

TEST(RecoveryFieldsTest, RecoveredPromptLendsProjectOnlyWhenMissing) {
  for (bool has_project : {false, true}) {
    std::vector<Session> sessions = {one(kClaude, "claude-a", msg("1", 1))};
    if (has_project) sessions[0].project = "/own";
    recover(sessions, kClaude, {claude_line("a", "2", 2)});
    EXPECT_EQ(sessions[0].project, has_project ? "/own" : "/p/a");
  }
}

TEST(RecoveryFieldsTest, AliasesFileEntriesUnderTheSessionTheyStandFor) {
  std::vector<Session> sessions = {one(kClaude, "claude-old", msg("1", 1)),
                                   one(kClaude, "claude-own", msg("3", 3))};
  testing::TempDir home;
  testing::write_file(home / "history.jsonl", claude_line("new", "2", 2) + "\n" +
                                                  claude_line("own", "4", 4) + "\n" +
                                                  claude_line("gone", "5", 5) + "\n");
  // "own" is an alias too, but a session of its own keeps its entries.
  const RecoveryCounts counts =
      recover_from_history(sessions, home.path(), kClaude, {}, {},
                           {{"new", "claude-old"}, {"own", "claude-old"}});
  EXPECT_EQ(counts.recovered_prompts, 3u);
  EXPECT_EQ(counts.rebuilt_sessions, 1u);
  ASSERT_EQ(sessions.size(), 3u);
  EXPECT_EQ(sessions[0].messages.size(), 2u);
  EXPECT_EQ(sessions[0].messages[1].text, "2");
  EXPECT_EQ(sessions[1].messages.size(), 2u);
  EXPECT_EQ(sessions[2].id, "claude-gone");
}

// The captured interactive run pastes a text; it must not come back twice.
TEST(RecoveryFieldsTest, CapturedPastedPromptIsNotDuplicated) {
  const fs::path capture = fs::path(LOREBOX_SOURCE_DIR) /
                           "tests/data/realdata/local-captures/claude-code-2.1.337";
  const std::string id = "4b8ec991-b0fd-4c9d-81bb-dc4daf89d02f";
  testing::TempDir home;
  testing::write_file(home / ("projects/-home-dev/" + id + ".jsonl"),
                      testing::read_file(capture / ("interactive__" + id + ".jsonl")));
  testing::write_file(home / "history.jsonl",
                      testing::read_file(capture / "history.jsonl"));

  Result<SourceScan> scan =
      read_claude_sessions(home.path(), PackOptions{}, ReadingContext{});
  ASSERT_TRUE(scan.has_value());
  ASSERT_EQ(scan->sessions.size(), 1u);
  recover_from_history(scan->sessions, home.path(), kClaude, {}, PackOptions{});
  int copies = 0;
  for (const Message& m : scan->sessions[0].messages)
    copies += m.text.find("pasted line 25") != std::string::npos;
  EXPECT_EQ(copies, 1);
}

// Third-party homes, read in place: a template run twice in a pruned Codex
// thread, commands retyped in pruned Claude Code sessions, and a /clear
// filed under the session it cleared.
TEST(RecoveryFieldsTest, HarvestedHistoriesCountRetypedPromptsOnce) {
  const fs::path harvest = fs::path(LOREBOX_SOURCE_DIR) / "../shared/realdata3";
  if (!fs::exists(harvest / "Kocoro-lab__Shannon/codex_history.jsonl"))
    GTEST_SKIP() << "third harvest not found at " << harvest;
  testing::TempDir home;
  testing::write_file(
      home / "codex/history.jsonl",
      testing::read_file(harvest / "Kocoro-lab__Shannon/codex_history.jsonl"));
  std::string claude_history;
  for (const char* owner : {"HillviewCap__Personal_AI_Infrastructure",
                            "Smartagent-so__Personal_AI_Infrastructure"}) {
    for (const auto& file : fs::directory_iterator(harvest / owner)) {
      const std::string name = file.path().filename().string();
      if (name == "claude_history.jsonl")
        claude_history += testing::read_file(file.path());
      else if (file.path().extension() == ".jsonl")
        testing::write_file(home / "claude/projects" / owner / name,
                            testing::read_file(file.path()));
    }
  }
  testing::write_file(home / "claude/history.jsonl", claude_history);

  Result<SourceScan> scan =
      read_claude_sessions(home / "claude", PackOptions{}, ReadingContext{});
  ASSERT_TRUE(scan.has_value());
  std::vector<Session> sessions = std::move(scan->sessions);
  recover_from_history(sessions, home / "claude", kClaude, {}, PackOptions{});
  recover_from_history(sessions, home / "codex", kCodex, {}, PackOptions{});
  // The most copies of one text beginning with `prefix` in session `id`.
  auto copies = [&sessions](const std::string& id, std::string_view prefix) {
    for (const Session& s : sessions) {
      if (s.id != id) continue;
      std::map<std::string_view, int> counts;
      int most = 0;
      for (const Message& m : s.messages)
        if (m.text.starts_with(prefix)) most = std::max(most, ++counts[m.text]);
      return most;
    }
    return -1;
  };
  EXPECT_EQ(copies("codex-019ba997-bbca-7483-9a75-07808dcc061c",
                   "## User Input\n\n```text\n\n```"),
            2);
  EXPECT_EQ(copies("claude-703e4528-dfb0-4257-a888-e10b7d3e39a8", "/context"), 2);
  EXPECT_EQ(copies("claude-d6a37ffc-384d-4d2a-832a-78cdd493af69", "/context"), 2);
  EXPECT_EQ(copies("claude-351b5d6c-e802-4339-a2c5-33f48865d8bd", "/jarvisOn"), 2);
  // Written three times within 1 ms: one prompt.
  EXPECT_EQ(copies("claude-eca51c57-7b92-423f-8ad6-52f996c9a8e1", "/exit"), 1);
  EXPECT_EQ(copies("claude-155715ec-f4e9-47ea-859c-2e4cfcceab6f", "/clear"), 0);
}

}  // namespace
}  // namespace lorebox
