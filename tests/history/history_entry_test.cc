#include "history/history_entry.h"

#include <gtest/gtest.h>

namespace lorebox {
namespace {

struct EntryCase {
  SourceKind source;
  std::string line;
  bool usable;
  std::string session_id;
  std::string text;
  double timestamp;
  std::optional<std::string> project;
  bool has_pasted_text;
};

const SourceKind kClaude = SourceKind::ClaudeCode;
const SourceKind kCodex = SourceKind::Codex;

class HistoryEntryTest : public ::testing::TestWithParam<EntryCase> {};

TEST_P(HistoryEntryTest, ParsesOrRejectsLine) {
  const EntryCase& c = GetParam();
  std::optional<HistoryEntry> entry = parse_history_line(c.line, c.source);
  ASSERT_EQ(entry.has_value(), c.usable) << c.line;
  if (!entry) return;
  EXPECT_EQ(entry->session_id, c.session_id);
  EXPECT_EQ(entry->text, c.text);
  EXPECT_DOUBLE_EQ(entry->timestamp, c.timestamp);
  EXPECT_EQ(entry->project, c.project);
  EXPECT_EQ(entry->has_pasted_text, c.has_pasted_text);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, HistoryEntryTest,
    ::testing::Values(
        // Claude Code time is in milliseconds, Codex time in seconds.
        EntryCase{kClaude, R"({"sessionId":"s","display":"hi","timestamp":2500})", true,
                  "s", "hi", 2.5, std::nullopt, false},
        EntryCase{kCodex, R"({"session_id":"s","text":"hi","ts":2500})", true, "s", "hi",
                  2500.0, std::nullopt, false},
        EntryCase{kCodex, R"({"session_id":"s","text":" \t ","ts":1.25e3})", true, "s",
                  " \t ", 1250.0, std::nullopt, false},
        // Pasted texts in byte order of their keys; the last duplicate wins;
        // members without a string "content" add nothing.
        EntryCase{kClaude,
                  R"({"sessionId":"s","display":"see [Pasted text #1]","timestamp":0,)"
                  R"("project":"/p","pastedContents":{"b":{"content":"B"},)"
                  R"("a":{"content":"old"},"10":{"content":"X"},"c":{"id":3},)"
                  R"("d":"loose","a":{"content":"A"}}})",
                  true, "s", "see [Pasted text #1]\nX\nA\nB", 0.0, "/p", true},
        EntryCase{kClaude,
                  R"({"sessionId":"s","display":"d","timestamp":0,"pastedContents":{}})",
                  true, "s", "d", 0.0, std::nullopt, false},
        EntryCase{kClaude,
                  R"({"sessionId":"s","display":"d","timestamp":0,"project":7,)"
                  R"("pastedContents":{"1":{"content":""}}})",
                  true, "s", "d", 0.0, std::nullopt, false},
        // Unusable lines.
        EntryCase{kClaude, R"({"sessionId":"s","display":"d"})", false, "", "", 0, {}, false},
        EntryCase{kClaude, R"({"sessionId":"s","display":"d","timestamp":"5"})", false, "",
                  "", 0, {}, false},
        EntryCase{kClaude, R"({"sessionId":1,"display":"d","timestamp":5})", false, "", "",
                  0, {}, false},
        EntryCase{kClaude, R"({"session_id":"s","text":"d","ts":5})", false, "", "", 0, {},
                  false},
        EntryCase{kCodex, R"({"session_id":"s","text":null,"ts":5})", false, "", "", 0, {},
                  false},
        EntryCase{kCodex, R"(["s","d",5])", false, "", "", 0, {}, false},
        EntryCase{kCodex, R"({"session_id":"s",)", false, "", "", 0, {}, false}));

}  // namespace
}  // namespace lorebox
