#include "main/report.h"

#include <gtest/gtest.h>

#include "archive/test_sessions.h"
#include "time/timestamp.h"

namespace lorebox {
namespace {

double at(const char* text) { return parse_timestamp(text).value(); }

// `prompts` user messages then `replies` replies, from `start` to `end`.
Session make_session(SourceKind source, double start, double end, int prompts,
                     int replies, std::string first_prompt = "Prompt") {
  std::vector<Message> messages;
  for (int i = 0; i < prompts; ++i)
    messages.push_back(testing::user(i ? "more" : first_prompt, start));
  for (int i = 0; i < replies; ++i)
    messages.push_back(testing::reply("r", start, std::nullopt));
  if (!messages.empty()) messages.back().timestamp = end;
  Session session = testing::make_session("s", source, std::move(messages));
  session.created_at = start;
  return session;
}

TEST(ReportTest, CountPhrasesAreSingularOnlyForOne) {
  EXPECT_EQ(count_phrase(0, "session"), "0 sessions");
  EXPECT_EQ(count_phrase(1, "session"), "1 session");
  EXPECT_EQ(count_phrase(1, "pruned session"), "1 pruned session");
  EXPECT_EQ(count_phrase(12, "prompt"), "12 prompts");
}

TEST(ReportTest, ReproducesTheExampleReport) {
  const std::vector<Session> sessions = {
      make_session(SourceKind::ClaudeCode, at("2025-05-30T10:00:00Z"),
                   at("2025-05-31T09:00:00Z"), 9, 10,
                   "Fix the flaky upload test\nwith retries"),
      make_session(SourceKind::Codex, at("2025-06-01T08:00:00Z"),
                   at("2025-06-01T09:00:00Z"), 2, 2, "Add retries to the uploader"),
      make_session(SourceKind::ClaudeCode, at("2025-06-02T08:00:00Z"),
                   at("2025-06-02T09:00:00Z"), 5, 4, "Rename the settings module"),
  };
  EXPECT_EQ(summary_lines(sessions),
            "\nFound 3 sessions spanning 2025-05-30 to 2025-06-02\n"
            "  Claude Code     2 sessions      14 prompts      28 messages\n"
            "  Codex           1 sessions       2 prompts       4 messages\n");
  EXPECT_EQ(session_line(sessions[0]),
            "  2025-05-31  claude-code   9p  Fix the flaky upload test…");
  EXPECT_EQ(session_line(sessions[1]),
            "  2025-06-01  codex         2p  Add retries to the uploader");
}

TEST(ReportTest, OnlyCodexSingularSummaryAndWidthsThatGrow) {
  // Started before midnight, listed under the day of its last activity.
  const Session late = make_session(SourceKind::Codex, at("2025-03-01T23:30:00Z"),
                                    at("2025-03-02T00:30:00Z"), 1, 0);
  EXPECT_EQ(summary_lines({late}),
            "\nFound 1 session spanning 2025-03-01 to 2025-03-02\n"
            "  Codex           1 sessions       1 prompts       1 messages\n");
  EXPECT_EQ(session_line(late), "  2025-03-02  codex         1p  Prompt");

  EXPECT_EQ(session_line(make_session(SourceKind::ClaudeCode, 0.5, 1.0, 1234, 0)),
            "  1970-01-01  claude-code 1234p  Prompt");
  std::vector<Session> many(12345, make_session(SourceKind::Codex, 1.0, 2.0, 0, 0));
  EXPECT_EQ(summary_lines(many),
            "\nFound 12345 sessions spanning 1970-01-01 to 1970-01-01\n"
            "  Codex        12345 sessions       0 prompts       0 messages\n");
}

}  // namespace
}  // namespace lorebox
