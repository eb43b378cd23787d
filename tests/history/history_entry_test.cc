#include "history/history_entry.h"

#include <gtest/gtest.h>

#include <functional>

#include "history/paste_cache.h"
#include "support/temp_dir.h"

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

namespace fs = std::filesystem;

// A Claude Code history line whose paste the cache keeps under `hash`.
std::string cached_paste_line(const std::string& hash, const std::string& type = "text") {
  return R"({"sessionId":"s","display":"see [Pasted text #1]","timestamp":0,)"
         R"("pastedContents":{"1":{"id":1,"type":")" +
         type + R"(","contentHash":")" + hash + R"("}}})";
}

struct PasteCase {
  std::string name;
  std::string line;
  std::function<void(const fs::path& home)> lay_out;  // beside history.jsonl
  std::string text;
  bool has_pasted_text;
};

// Pastes kept in "paste-cache/<hash>.txt" are read through the transcript
// checks; anything else leaves the placeholder.
TEST(PasteCacheTest, ExpandsReadableCachedPastesOnly) {
  const std::string placeholder = "see [Pasted text #1]";
  auto cache = [](std::string name, std::string content) {
    return [name, content](const fs::path& home) {
      testing::write_file(home / "paste-cache" / name, content);
    };
  };
  const PasteCase cases[] = {
      {"Read", cached_paste_line("32b5cd2a679b07a2"),
       cache("32b5cd2a679b07a2.txt", "a\nb"), placeholder + "\na\nb", true},
      {"Missing", cached_paste_line("32b5cd2a679b07a2"), cache("other.txt", "x"),
       placeholder, true},
      {"Empty", cached_paste_line("e"), cache("e.txt", ""), placeholder, true},
      {"NotUtf8", cached_paste_line("u"), cache("u.txt", "a\xff"), placeholder, true},
      {"ImageIgnored", cached_paste_line("i", "image"), cache("i.txt", "png"),
       placeholder, false},
      {"InlineAndCachedInKeyOrder",
       R"({"sessionId":"s","display":"d","timestamp":0,"pastedContents":{)"
       R"("2":{"content":"two"},"1":{"type":"text","contentHash":"h1"},)"
       R"("3":{"type":"text","contentHash":"gone"}}})",
       cache("h1.txt", "one"), "d\none\ntwo", true},
      // Names that could leave the folder or name something else.
      {"EscapesFolder", cached_paste_line("../secret"),
       [](const fs::path& home) { testing::write_file(home / "secret.txt", "no"); },
       placeholder, true},
      {"Slash", cached_paste_line("sub/x"), cache("sub/x.txt", "no"), placeholder, true},
      {"Dot", cached_paste_line(".x"), cache("..x.txt", "no"), placeholder, true},
      {"Link", cached_paste_line("l"),
       [](const fs::path& home) {
         testing::write_file(home / "elsewhere.txt", "no");
         fs::create_directories(home / "paste-cache");
         fs::create_symlink(home / "elsewhere.txt", home / "paste-cache/l.txt");
       },
       placeholder, true},
      // The folder itself may be a link, as a transcript root may.
      {"LinkedFolder", cached_paste_line("f"),
       [](const fs::path& home) {
         testing::write_file(home / "real/f.txt", "yes");
         fs::create_directory_symlink(home / "real", home / "paste-cache");
       },
       placeholder + "\nyes", true},
      {"Directory", cached_paste_line("d"),
       [](const fs::path& home) { fs::create_directories(home / "paste-cache/d.txt"); },
       placeholder, true},
      {"TooLarge", cached_paste_line("big"),
       [](const fs::path& home) {
         testing::write_file(home / "paste-cache/big.txt", "");
         fs::resize_file(home / "paste-cache/big.txt", kMaxPastedBytes + 1);
       },
       placeholder, true},
  };
  for (const PasteCase& c : cases) {
    testing::TempDir dir;
    const fs::path home = dir.path();
    testing::write_file(home / "history.jsonl", c.line + "\n");
    c.lay_out(home);
    std::vector<HistoryEntry> entries = read_history_entries(home, kClaude);
    ASSERT_EQ(entries.size(), 1u) << c.name;
    EXPECT_EQ(entries[0].text, c.text) << c.name;
    EXPECT_EQ(entries[0].has_pasted_text, c.has_pasted_text) << c.name;
  }
}

}  // namespace
}  // namespace lorebox
