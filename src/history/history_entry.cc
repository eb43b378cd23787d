// Reading the prompt histories.
//
// Claude Code writes one object per prompt:
//   {"display": "...", "pastedContents": {"1": {"content": "..."}},
//    "timestamp": <ms>, "project": "...", "sessionId": "..."}
// where "display" shows a pasted text only as a placeholder such as
// "[Pasted text #1 +25 lines]". The pasted texts are appended to the display
// text, visiting the members in ascending byte order of their keys (the
// parser hands them over in file order, duplicates included, so they are
// sorted here and the last duplicate wins).
//
// Versions before about 2.0.40 wrote the same lines without "sessionId".
// Newer versions keep a long paste outside the history: its member is
// {"id": 1, "type": "text", "contentHash": "..."}, with no "content", and
// the text is in "paste-cache/<contentHash>.txt" under the Claude Code home.
//
// Codex writes {"session_id": "...", "ts": <s>, "text": "..."}.

#include "history/history_entry.h"

#include <map>

#include "history/paste_cache.h"
#include "json/line_parser.h"
#include "json/value.h"
#include "scan/transcripts.h"

namespace lorebox {

namespace {

constexpr std::string_view kHistoryFile = "history.jsonl";
constexpr std::string_view kPasteCacheFolder = "paste-cache";

// What a "pastedContents" value gives: its pasted texts joined by "\n", and
// whether it names any pasted text at all (one the cache could not give
// still stands inline in the transcript).
struct PastedTexts {
  std::string joined;
  bool any = false;
};

// Every member whose value is an object with a string "content" gives that
// content; one with a string "contentHash" instead (and a "type" of "text",
// when it has a type) gives the cached text, when it can be read. Members
// are taken in key order.
PastedTexts pasted_texts(json::Element pasted, const std::filesystem::path& paste_cache) {
  std::map<std::string_view, json::Element> by_key;
  json::for_each_member(pasted, [&by_key](std::string_view key, json::Element value) {
    by_key[key] = value;
  });

  PastedTexts texts;
  bool first = true;
  for (const auto& [key, value] : by_key) {
    std::optional<std::string> cached;
    std::optional<std::string_view> content = json::string_member(value, "content");
    if (!content) {
      std::optional<std::string_view> hash = json::string_member(value, "contentHash");
      std::optional<std::string_view> type = json::string_member(value, "type");
      if (!hash || (type && *type != "text")) continue;
      texts.any = true;
      cached = read_pasted_text(paste_cache, *hash);
      if (!cached) continue;
      content = *cached;
    }
    if (!first) texts.joined += '\n';
    texts.joined.append(*content);
    first = false;
  }
  if (!texts.joined.empty()) texts.any = true;
  return texts;
}

std::optional<HistoryEntry> claude_entry(json::Element line,
                                         const std::filesystem::path& paste_cache) {
  // Older versions wrote no "sessionId"; one of another type is unusable.
  std::optional<json::Element> id = json::member(line, "sessionId");
  std::optional<std::string_view> session_id = id ? json::as_string(*id) : std::nullopt;
  std::optional<std::string_view> display = json::string_member(line, "display");
  std::optional<json::Element> time = json::member(line, "timestamp");
  std::optional<double> millis = time ? json::as_number(*time) : std::nullopt;
  if ((id && !session_id) || !display || !millis) return std::nullopt;

  HistoryEntry entry;
  entry.session_id = std::string(session_id.value_or(""));
  entry.legacy = !id;
  entry.text = std::string(*display);
  entry.timestamp = *millis / 1000.0;
  if (std::optional<json::Element> pasted = json::member(line, "pastedContents")) {
    PastedTexts texts = pasted_texts(*pasted, paste_cache);
    if (!texts.joined.empty()) {
      entry.text += '\n';
      entry.text += texts.joined;
    }
    entry.has_pasted_text = texts.any;
  }
  if (std::optional<std::string_view> project = json::string_member(line, "project"))
    entry.project = std::string(*project);
  return entry;
}

std::optional<HistoryEntry> codex_entry(json::Element line) {
  std::optional<std::string_view> session_id = json::string_member(line, "session_id");
  std::optional<std::string_view> text = json::string_member(line, "text");
  std::optional<json::Element> time = json::member(line, "ts");
  std::optional<double> seconds = time ? json::as_number(*time) : std::nullopt;
  if (!session_id || !text || !seconds) return std::nullopt;

  HistoryEntry entry;
  entry.session_id = std::string(*session_id);
  entry.text = std::string(*text);
  entry.timestamp = *seconds;
  return entry;
}

std::optional<HistoryEntry> parse_with(json::LineParser& parser, std::string_view line,
                                       SourceKind source,
                                       const std::filesystem::path& paste_cache) {
  std::optional<json::Element> value = parser.parse(line);
  if (!value || !json::is_object(*value)) return std::nullopt;
  return source == SourceKind::ClaudeCode ? claude_entry(*value, paste_cache)
                                          : codex_entry(*value);
}

}  // namespace

std::optional<HistoryEntry> parse_history_line(std::string_view line, SourceKind source,
                                               const std::filesystem::path& paste_cache) {
  json::LineParser parser;
  return parse_with(parser, line, source, paste_cache);
}

std::vector<HistoryEntry> read_history_entries(const std::filesystem::path& agent_home,
                                               SourceKind source) {
  std::vector<HistoryEntry> entries;
  json::LineParser parser;
  std::filesystem::path paste_cache;
  if (source == SourceKind::ClaudeCode) {
    if (std::optional<std::string> root = canonical_root(agent_home / kPasteCacheFolder))
      paste_cache = *root;
  }
  read_plain_lines(agent_home / kHistoryFile, [&](LineReader& lines) {
    std::string_view line;
    while (lines.next(&line)) {
      if (std::optional<HistoryEntry> entry =
              parse_with(parser, line, source, paste_cache))
        entries.push_back(std::move(*entry));
    }
  });
  return entries;
}

}  // namespace lorebox
