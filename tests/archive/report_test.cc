#include "archive/report.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "time/timestamp.h"

namespace lorebox {
namespace {

double at(const char* text) { return parse_timestamp(text).value(); }

// A session with `prompts` user messages and `replies` assistant messages
// from `start` to `end`.
Session make_session(std::string id, SourceKind source, double start, double end,
                     int prompts, int replies, std::string first_prompt = "Prompt") {
  Session session;
  session.id = std::move(id);
  session.source = source;
  for (int i = 0; i < prompts; ++i)
    session.messages.push_back(
        Message{i == 0 ? first_prompt : "more", std::nullopt, start, Role::User});
  for (int i = 0; i < replies; ++i)
    session.messages.push_back(Message{"reply", std::nullopt, start, Role::Assistant});
  if (!session.messages.empty()) session.messages.back().timestamp = end;
  session.created_at = start;
  return session;
}

struct PhraseCase {
  uint64_t count;
  const char* noun;
  const char* expected;
};

TEST(ReportTest, CountPhrasesAreSingularOnlyForOne) {
  const PhraseCase cases[] = {
      {0, "session", "0 sessions"},
      {1, "session", "1 session"},
      {3, "prompt", "3 prompts"},
      {1, "pruned session", "1 pruned session"},
      {2, "pruned session", "2 pruned sessions"},
  };
  for (const PhraseCase& c : cases) EXPECT_EQ(count_phrase(c.count, c.noun), c.expected);
}

TEST(ReportTest, ReproducesTheDocumentedReport) {
  const std::vector<Session> sessions = {
      make_session("claude-1", SourceKind::ClaudeCode, at("2025-05-30T10:00:00Z"),
                   at("2025-05-31T09:00:00Z"), 9, 10,
                   "Fix the flaky upload test\nwith retries"),
      make_session("codex-2", SourceKind::Codex, at("2025-06-01T08:00:00Z"),
                   at("2025-06-01T09:00:00Z"), 2, 2, "Add retries to the uploader"),
      make_session("claude-3", SourceKind::ClaudeCode, at("2025-06-02T08:00:00Z"),
                   at("2025-06-02T09:00:00Z"), 5, 4, "Rename the settings module"),
  };
  EXPECT_EQ(summary_lines(sessions),
            "\n"
            "Found 3 sessions spanning 2025-05-30 to 2025-06-02\n"
            "  Claude Code     2 sessions      14 prompts      28 messages\n"
            "  Codex           1 sessions       2 prompts       4 messages\n");
  EXPECT_EQ(session_line(sessions[0]), "  2025-05-31  claude-code   9p  Fix the flaky upload test…");
  EXPECT_EQ(session_line(sessions[1]), "  2025-06-01  codex         2p  Add retries to the uploader");
  EXPECT_EQ(session_line(sessions[2]), "  2025-06-02  claude-code   5p  Rename the settings module");
}

TEST(ReportTest, OnlyCodexAndSingularSummary) {
  const std::vector<Session> sessions = {make_session(
      "codex-1", SourceKind::Codex, at("2025-03-01T23:30:00Z"), at("2025-03-02T00:30:00Z"), 1, 0)};
  EXPECT_EQ(summary_lines(sessions),
            "\nFound 1 session spanning 2025-03-01 to 2025-03-02\n"
            "  Codex           1 sessions       1 prompts       1 messages\n");
  // Listed under the day of its last activity.
  EXPECT_EQ(session_line(sessions[0]), "  2025-03-02  codex         1p  Prompt");
}

TEST(ReportTest, WidthsAreMinimumsNeverCuts) {
  Session many = make_session("claude-m", SourceKind::ClaudeCode, 0.5, 1.0, 1234, 0);
  EXPECT_EQ(session_line(many), "  1970-01-01  claude-code 1234p  Prompt");
  std::vector<Session> sessions(12345, make_session("codex-x", SourceKind::Codex, 1.0, 2.0, 0, 0));
  sessions.push_back(make_session("codex-y", SourceKind::Codex, 3.0, 4.0, 5, 4));
  EXPECT_EQ(summary_lines(sessions),
            "\nFound 12346 sessions spanning 1970-01-01 to 1970-01-01\n"
            "  Codex        12346 sessions       5 prompts       9 messages\n");
}

struct SpanCase {
  const char* name;
  std::vector<double> created;
  double earliest;
  double latest;
};

TEST(ReportTest, SummariseSpan) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const SpanCase cases[] = {
      {"none", {}, 0.0, 0.0},
      {"least and greatest", {30.0, 10.0, 20.0}, 10.0, 30.0},
      {"epoch creation time is replaced by the next", {0.0, 40.0, 50.0}, 40.0, 50.0},
      {"NaN never wins a comparison", {20.0, nan, 10.0}, 10.0, 20.0},
  };
  for (const SpanCase& c : cases) {
    std::vector<Session> sessions;
    for (double created : c.created) {
      Session s;
      s.created_at = created;  // no messages: updated time is created_at
      sessions.push_back(s);
    }
    const SourceSummary summary = summarise(sessions);
    EXPECT_EQ(summary.sessions, c.created.size()) << c.name;
    EXPECT_EQ(summary.earliest, c.earliest) << c.name;
    EXPECT_EQ(summary.latest, c.latest) << c.name;
  }
}

TEST(ReportTest, SummariseBySource) {
  const std::vector<Session> sessions = {
      make_session("claude-1", SourceKind::ClaudeCode, 10.0, 20.0, 2, 1),
      make_session("codex-1", SourceKind::Codex, 5.0, 50.0, 1, 3),
      make_session("claude-2", SourceKind::ClaudeCode, 30.0, 40.0, 0, 2),
  };
  const SourceSummary claude = summarise(sessions, SourceKind::ClaudeCode);
  EXPECT_EQ(claude.sessions, 2u);
  EXPECT_EQ(claude.prompts, 2u);
  EXPECT_EQ(claude.messages, 5u);
  EXPECT_EQ(claude.earliest, 10.0);
  EXPECT_EQ(claude.latest, 40.0);
  const SourceSummary all = summarise(sessions);
  EXPECT_EQ(all.messages, 9u);
  EXPECT_EQ(all.earliest, 5.0);
  EXPECT_EQ(all.latest, 50.0);
}

}  // namespace
}  // namespace lorebox
