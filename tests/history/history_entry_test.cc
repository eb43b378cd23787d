#include "history/history_entry.h"

#include <gtest/gtest.h>

namespace lorebox {
namespace {

const SourceKind kClaude = SourceKind::ClaudeCode;
const SourceKind kCodex = SourceKind::Codex;

struct EntryCase {
  SourceKind source;
  std::string line;
  std::optional<HistoryEntry> expected;  // nothing: the line is unusable
};

class HistoryEntryTest : public ::testing::TestWithParam<EntryCase> {};

TEST_P(HistoryEntryTest, ParsesOrRejectsLine) {
  const EntryCase& c = GetParam();
  std::optional<HistoryEntry> entry = parse_history_line(c.line, c.source);
  ASSERT_EQ(entry.has_value(), c.expected.has_value()) << c.line;
  if (!entry) return;
  EXPECT_EQ(entry->session_id, c.expected->session_id);
  EXPECT_EQ(entry->text, c.expected->text);
  EXPECT_EQ(entry->project, c.expected->project);
  EXPECT_DOUBLE_EQ(entry->timestamp, c.expected->timestamp);
  EXPECT_EQ(entry->has_pasted_text, c.expected->has_pasted_text);
  EXPECT_EQ(entry->legacy, c.expected->legacy);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Lines, HistoryEntryTest, ::testing::Values(
    // Claude Code time is in milliseconds, Codex time in seconds.
    EntryCase{kClaude, R"({"sessionId":"s","display":"hi","timestamp":2500})",
              HistoryEntry{"s", "hi", std::nullopt, 2.5, false}},
    EntryCase{kCodex, R"({"session_id":"s","text":"hi","ts":2500})",
              HistoryEntry{"s", "hi", std::nullopt, 2500.0, false}},
    EntryCase{kCodex, R"({"session_id":"s","text":" \t ","ts":1.25e3,"project":"/p"})",
              HistoryEntry{"s", " \t ", std::nullopt, 1250.0, false}},
    // Pasted texts in byte order of their keys; the last duplicate wins;
    // members without a string "content" add nothing.
    EntryCase{kClaude,
              R"({"sessionId":"s","display":"see [Pasted text #1]","timestamp":0,)"
              R"("project":"/p","pastedContents":{"b":{"content":"B"},)"
              R"("a":{"content":"old"},"10":{"content":"X"},"c":{"id":3},)"
              R"("d":"loose","a":{"content":"A"}}})",
              HistoryEntry{"s", "see [Pasted text #1]\nX\nA\nB", "/p", 0.0, true}},
    EntryCase{kClaude, R"({"sessionId":"s","display":"d","timestamp":0,"pastedContents":{}})",
              HistoryEntry{"s", "d", std::nullopt, 0.0, false}},
    EntryCase{kClaude,
              R"({"sessionId":"s","display":"d","timestamp":0,"project":7,)"
              R"("pastedContents":{"1":{"content":""}}})",
              HistoryEntry{"s", "d", std::nullopt, 0.0, false}},
    // Claude Code lines from before session ids are legacy entries; Codex
    // lines need theirs.
    EntryCase{kClaude, R"({"display":"hi","timestamp":2500,"project":"/p"})",
              HistoryEntry{"", "hi", "/p", 2.5, false, true}},
    EntryCase{kCodex, R"({"text":"hi","ts":2500})", std::nullopt},
    // Unusable lines.
    EntryCase{kClaude, R"({"sessionId":"s","display":"d"})", std::nullopt},
    EntryCase{kClaude, R"({"sessionId":"s","display":"d","timestamp":"5"})", std::nullopt},
    EntryCase{kClaude, R"({"sessionId":1,"display":"d","timestamp":5})", std::nullopt},
    EntryCase{kClaude, R"({"sessionId":null,"display":"d","timestamp":5})", std::nullopt},
    EntryCase{kClaude, R"({"session_id":"s","text":"d","ts":5})", std::nullopt},
    EntryCase{kCodex, R"({"session_id":"s","text":null,"ts":5})", std::nullopt},
    EntryCase{kCodex, R"(["s","d",5])", std::nullopt},
    EntryCase{kCodex, R"({"session_id":"s",)", std::nullopt}));
// clang-format on

}  // namespace
}  // namespace lorebox
