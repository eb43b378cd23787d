#include "history/history_recovery.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "claude/claude_reader.h"
#include "text/cleanup.h"
#include "text/redact.h"

namespace lorebox {
namespace {

namespace fs = std::filesystem;

const std::string kSecret = "sk-ant-api03-" + std::string(40, 'A');

Message msg(std::string text, double timestamp, Role role = Role::User) {
  Message m;
  m.text = std::move(text);
  m.timestamp = timestamp;
  m.role = role;
  return m;
}

Session session(SourceKind source, std::string id, std::vector<Message> messages) {
  Session s;
  s.source = source;
  s.id = std::move(id);
  s.messages = std::move(messages);
  if (!s.messages.empty()) s.created_at = s.messages.front().timestamp;
  return s;
}

std::string claude_line(const std::string& id, const std::string& display, double ms,
                        const std::string& pasted = "{}") {
  return R"({"sessionId":")" + id + R"(","display":")" + display +
         R"(","pastedContents":)" + pasted + R"(,"timestamp":)" + std::to_string(ms) +
         R"(,"project":"/p/)" + id + "\"}";
}

std::string codex_line(const std::string& id, const std::string& text, double ts) {
  return R"({"session_id":")" + id + R"(","text":")" + text + R"(","ts":)" +
         std::to_string(ts) + "}";
}

std::vector<std::string> texts(const Session& s) {
  std::vector<std::string> out;
  for (const Message& m : s.messages) out.push_back(m.text);
  return out;
}

// A temporary agent home whose history.jsonl the test writes.
class HistoryRecoveryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = fs::temp_directory_path() /
            ("lorebox-history-" + std::to_string(getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(home_);
    fs::create_directories(home_);
  }
  void TearDown() override { fs::remove_all(home_); }

  void write_history(const std::vector<std::string>& lines) {
    std::ofstream out(home_ / "history.jsonl", std::ios::binary);
    for (const std::string& line : lines) out << line << '\n';
  }

  RecoveryCounts recover(std::vector<Session>& sessions, SourceKind source,
                         const TitleTable& titles = {}, PackOptions options = {}) {
    return recover_from_history(sessions, home_, source, titles, options);
  }

  fs::path home_;
};

TEST_F(HistoryRecoveryTest, HistoryAlreadyHeldAddsNothing) {
  std::vector<Session> sessions = {
      session(SourceKind::Codex, "codex-a", {msg("one", 10), msg("two", 20)})};
  write_history({codex_line("a", "one", 10), codex_line("a", "two", 99)});
  RecoveryCounts counts = recover(sessions, SourceKind::Codex);
  EXPECT_EQ(counts.recovered_prompts, 0u);
  EXPECT_EQ(counts.rebuilt_sessions, 0u);
  ASSERT_EQ(sessions.size(), 1u);
  EXPECT_EQ(texts(sessions[0]), (std::vector<std::string>{"one", "two"}));
}

TEST_F(HistoryRecoveryTest, MissingHistoryChangesNothing) {
  std::vector<Session> sessions = {
      session(SourceKind::ClaudeCode, "claude-a", {msg("late", 20), msg("early", 10)})};
  RecoveryCounts counts = recover(sessions, SourceKind::ClaudeCode);
  EXPECT_EQ(counts.recovered_prompts + counts.rebuilt_sessions, 0u);
  EXPECT_EQ(texts(sessions[0]), (std::vector<std::string>{"late", "early"}));
}

// Three prompts of one pruned session, two identical, in either time unit.
TEST_F(HistoryRecoveryTest, PrunedSessionIsRebuiltInTimeOrder) {
  for (SourceKind source : {SourceKind::ClaudeCode, SourceKind::Codex}) {
    bool claude = source == SourceKind::ClaudeCode;
    auto line = [&](const std::string& text, double seconds) {
      return claude ? claude_line("gone", text, seconds * 1000) : codex_line("gone", text, seconds);
    };
    write_history({line("second", 30), line("first", 2.5), line("second", 40)});
    std::vector<Session> sessions = {session(source, "other", {msg("x", 1)})};
    RecoveryCounts counts = recover(sessions, source);
    EXPECT_EQ(counts.recovered_prompts, 2u);
    EXPECT_EQ(counts.rebuilt_sessions, 1u);
    ASSERT_EQ(sessions.size(), 2u);
    const Session& rebuilt = sessions[1];
    EXPECT_EQ(rebuilt.id, claude ? "claude-gone" : "codex-gone");
    EXPECT_EQ(rebuilt.source, source);
    EXPECT_EQ(texts(rebuilt), (std::vector<std::string>{"first", "second"}));
    EXPECT_DOUBLE_EQ(rebuilt.created_at, 2.5);
    EXPECT_EQ(rebuilt.project, claude ? std::optional<std::string>("/p/gone") : std::nullopt);
    EXPECT_FALSE(rebuilt.title.has_value());
  }
}

TEST_F(HistoryRecoveryTest, LostPromptJoinsItsSessionAndLendsProject) {
  for (bool has_project : {false, true}) {
    std::vector<Session> sessions = {
        session(SourceKind::ClaudeCode, "claude-a", {msg("one", 10), msg("three", 30)})};
    if (has_project) sessions[0].project = "/own";
    write_history({claude_line("a", "two", 20000), claude_line("a", " \\t\u3000 ", 25000)});
    RecoveryCounts counts = recover(sessions, SourceKind::ClaudeCode);
    EXPECT_EQ(counts.recovered_prompts, 1u);
    EXPECT_EQ(counts.rebuilt_sessions, 0u);
    EXPECT_EQ(texts(sessions[0]), (std::vector<std::string>{"one", "two", "three"}));
    EXPECT_EQ(sessions[0].project, has_project ? "/own" : "/p/a");
  }
}

// Whether a history prompt matches what a surviving transcript holds.
struct MatchCase {
  std::string name;
  std::string history_text;
  Message transcript;
  bool redact;
  std::optional<uint64_t> limit;
  bool added;
};

class HistoryMatchTest : public HistoryRecoveryTest,
                         public ::testing::WithParamInterface<MatchCase> {};

TEST_P(HistoryMatchTest, ComparesProcessedText) {
  const MatchCase& c = GetParam();
  std::vector<Session> sessions = {session(SourceKind::Codex, "codex-a", {c.transcript})};
  write_history({codex_line("a", c.history_text, 50)});
  PackOptions options;
  options.redact = c.redact;
  options.max_message_chars = c.limit;
  RecoveryCounts counts = recover(sessions, SourceKind::Codex, {}, options);
  EXPECT_EQ(counts.recovered_prompts, c.added ? 1u : 0u);
  ASSERT_EQ(sessions[0].messages.size(), c.added ? 2u : 1u);
  if (c.added) {
    std::string expected(c.history_text);
    if (c.redact) expected = redact_secrets(expected);
    EXPECT_EQ(sessions[0].messages[1].text, truncate_message(expected, c.limit));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HistoryMatchTest,
    ::testing::Values(
        MatchCase{"HistoryTrimmed", "  hello ", msg("hello", 1), true, {}, false},
        MatchCase{"TranscriptUntrimmed", "hello", msg(" hello", 1), true, {}, true},
        MatchCase{"AssistantCounts", "hello", msg("hello", 1, Role::Assistant), true, {},
                  false},
        MatchCase{"Redacted", "key " + kSecret, msg(redact_secrets("key " + kSecret), 1),
                  true, {}, false},
        MatchCase{"RawAgainstRedacted", "key " + kSecret,
                  msg(redact_secrets("key " + kSecret), 1), false, {}, true},
        MatchCase{"Unredacted", "key " + kSecret, msg("key " + kSecret, 1), false, {},
                  false},
        MatchCase{"Truncated", "hello world", msg(truncate_message("hello world", 5), 1),
                  true, 5, false},
        MatchCase{"TruncatedDiffers", "hello world", msg("hello world", 1), true, 5, true}),
    [](const ::testing::TestParamInfo<MatchCase>& param) { return param.param.name; });

// A pasted prompt's transcript copy has the pasted text inline, so it is found
// by time instead: a user message within 2 seconds, in a session that
// existed before recovery.
struct PastedCase {
  std::string name;
  Message transcript;
  std::string pasted;
  bool added;
};

class PastedPromptTest : public HistoryRecoveryTest,
                         public ::testing::WithParamInterface<PastedCase> {};

TEST_P(PastedPromptTest, MatchesByTime) {
  const PastedCase& c = GetParam();
  std::vector<Session> sessions = {session(SourceKind::ClaudeCode, "claude-a", {c.transcript})};
  write_history({claude_line("a", "see [Pasted text #1]", 100000, c.pasted)});
  RecoveryCounts counts = recover(sessions, SourceKind::ClaudeCode);
  EXPECT_EQ(counts.recovered_prompts, c.added ? 1u : 0u);
  EXPECT_EQ(sessions[0].messages.size(), c.added ? 2u : 1u);
}

const std::string kPasted = R"({"1":{"content":"pasted body"}})";

INSTANTIATE_TEST_SUITE_P(
    Cases, PastedPromptTest,
    ::testing::Values(
        PastedCase{"JustBefore", msg("see <pasted_content>", 98), kPasted, false},
        PastedCase{"JustAfter", msg("see <pasted_content>", 101.5), kPasted, false},
        PastedCase{"TooLate", msg("see <pasted_content>", 102.5), kPasted, true},
        PastedCase{"OnlyAssistant", msg("reply", 100.2, Role::Assistant), kPasted, true},
        PastedCase{"NothingPasted", msg("something else", 100.2), "{}", true}),
    [](const ::testing::TestParamInfo<PastedCase>& param) { return param.param.name; });

TEST_F(HistoryRecoveryTest, PrunedSessionKeepsPastedText) {
  write_history({claude_line("gone", "see [Pasted text #1]", 100000, kPasted),
                 claude_line("gone", "again [Pasted text #1]", 101000, kPasted)});
  std::vector<Session> sessions;
  RecoveryCounts counts = recover(sessions, SourceKind::ClaudeCode);
  EXPECT_EQ(counts.recovered_prompts, 2u);
  ASSERT_EQ(sessions.size(), 1u);
  EXPECT_EQ(texts(sessions[0]), (std::vector<std::string>{"see [Pasted text #1]\npasted body",
                                                          "again [Pasted text #1]\npasted body"}));
}

TEST_F(HistoryRecoveryTest, RebuiltCodexSessionTakesRedactedThreadName) {
  for (bool redact : {true, false}) {
    write_history({codex_line("t1", "hi", 5), codex_line("t2", "ho", 6)});
    std::vector<Session> sessions;
    PackOptions options;
    options.redact = redact;
    TitleTable titles = {{"t1", "use " + kSecret}};
    recover(sessions, SourceKind::Codex, titles, options);
    ASSERT_EQ(sessions.size(), 2u);
    EXPECT_EQ(sessions[0].title, redact ? redact_secrets("use " + kSecret) : "use " + kSecret);
    EXPECT_EQ(sessions[0].title->find(kSecret) == std::string::npos, redact);
    EXPECT_FALSE(sessions[1].title.has_value());
  }
}

TEST_F(HistoryRecoveryTest, FirstOfTwoSessionsWithOneIdReceivesPrompts) {
  std::vector<Session> sessions = {session(SourceKind::Codex, "codex-a", {msg("x", 1)}),
                                   session(SourceKind::ClaudeCode, "codex-a", {}),
                                   session(SourceKind::Codex, "codex-a", {msg("y", 1)})};
  write_history({codex_line("a", "lost", 5)});
  EXPECT_EQ(recover(sessions, SourceKind::Codex).recovered_prompts, 1u);
  EXPECT_EQ(texts(sessions[0]), (std::vector<std::string>{"x", "lost"}));
  EXPECT_TRUE(sessions[1].messages.empty());
  EXPECT_EQ(texts(sessions[2]), (std::vector<std::string>{"y"}));
}

TEST_F(HistoryRecoveryTest, BadLinesAreSkippedAndInvalidUtf8EndsReading) {
  write_history({codex_line("a", "one", 1), "{not json", R"({"session_id":"a"})",
                 codex_line("a", "two", 2), codex_line("a", "bad \xff byte", 3),
                 codex_line("a", "three", 4)});
  std::vector<Session> sessions;
  RecoveryCounts counts = recover(sessions, SourceKind::Codex);
  EXPECT_EQ(counts.recovered_prompts, 2u);
  ASSERT_EQ(sessions.size(), 1u);
  EXPECT_EQ(texts(sessions[0]), (std::vector<std::string>{"one", "two"}));
}

// The captured interactive run: its history names a pasted prompt that the
// transcript holds with the pasted text inline; it must not come back twice.
TEST_F(HistoryRecoveryTest, CapturedPastedPromptIsNotDuplicated) {
  const fs::path capture =
      fs::path(LOREBOX_SOURCE_DIR) / "tests/data/realdata/local-captures/claude-code-2.1.337";
  const std::string id = "4b8ec991-b0fd-4c9d-81bb-dc4daf89d02f";
  fs::create_directories(home_ / "projects/-home-dev-mock-project");
  fs::copy_file(capture / ("interactive__" + id + ".jsonl"),
                home_ / "projects/-home-dev-mock-project" / (id + ".jsonl"));
  fs::copy_file(capture / "history.jsonl", home_ / "history.jsonl");

  Result<SourceScan> scan = read_claude_sessions(home_, PackOptions{});
  ASSERT_TRUE(scan.has_value());
  std::vector<Session> sessions = std::move(scan->sessions);
  ASSERT_EQ(sessions.size(), 1u);
  recover(sessions, SourceKind::ClaudeCode);
  ASSERT_EQ(sessions.size(), 1u);
  int pasted = 0;
  for (const Message& m : sessions[0].messages)
    if (m.text.find("pasted line 25") != std::string::npos) ++pasted;
  EXPECT_EQ(pasted, 1);
}

}  // namespace
}  // namespace lorebox
