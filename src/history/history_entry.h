// One line of an agent's prompt history ("history.jsonl"), parsed.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "session/session.h"

namespace lorebox {

// One usable history line: a prompt the person typed, as recorded.
struct HistoryEntry {
  std::string session_id;              // the agent's own id, without the source prefix
  std::string text;                    // the prompt, untrimmed
  std::optional<std::string> project;  // working directory (Claude Code only)
  double timestamp = 0.0;              // epoch seconds
  // True when Claude Code's "pastedContents" added text after the "display"
  // text, or named a cached paste that could not be read (the text is then
  // the "display" text with its placeholder). The transcript holds such a
  // prompt with the pasted text inline, so its text can never equal the
  // entry's.
  bool has_pasted_text = false;
  // True for a Claude Code line with no "sessionId" member at all, as
  // versions before about 2.0.40 wrote them; `session_id` is then empty.
  bool legacy = false;
};

// How far apart, in seconds, a history entry with pasted text and the
// transcript's user message for it may lie: history and transcript write
// one pasted prompt milliseconds apart, and two seconds leaves room for a
// slow disk without reaching the next prompt.
inline constexpr double kPastedPromptWindow = 2.0;

// Parses one history line of the given source. Claude Code lines need a
// string "display" and a number "timestamp" (in milliseconds), and a string
// "sessionId" or none at all (a legacy entry); Codex lines a string
// "session_id", a string "text" and a number "ts" (in seconds). Returns
// nothing for a line that is not a JSON object or lacks one of them.
// Pasted texts kept by hash are read from the folder `paste_cache`, a
// canonical path (history/paste_cache.h); none are when it is empty.
std::optional<HistoryEntry> parse_history_line(
    std::string_view line, SourceKind source,
    const std::filesystem::path& paste_cache = std::filesystem::path());

// The usable entries of "{agent_home}/history.jsonl" in file order, Claude
// Code's pasted texts taken from "{agent_home}/paste-cache" (resolved once,
// links included, as a transcript root is). A missing or unreadable file
// gives none; a read error or a line that is not valid UTF-8 ends the
// reading, keeping the entries before it.
std::vector<HistoryEntry> read_history_entries(const std::filesystem::path& agent_home,
                                               SourceKind source);

}  // namespace lorebox
