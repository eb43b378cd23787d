// Text rules applied to candidate messages before they are kept: internal
// markup tests, prompt unwrapping, and the finishing step (redaction,
// trimming, truncation). All pure functions over UTF-8 text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace lorebox {

// The trimmed inner text of the first "<name>...</name>" element, or
// nothing when there is no opening tag or no closing tag after it.
std::optional<std::string> element_text(std::string_view text, std::string_view name);

// The prompt a Claude Code slash command stands for: the command-name and
// command-args elements joined by a space and trimmed, with a "/" put before
// a non-empty name that lacks one; nothing when there is no command-name
// element or the joined text is empty.
std::optional<std::string> command_prompt(std::string_view text);

// True when a Claude Code message is internal (empty, continuation summary,
// internal tag, interruption notice, "API Error").
bool is_claude_noise(std::string_view text);

// A Codex user text with its files preamble and image elements removed,
// trimmed.
std::string clean_codex_prompt(std::string_view text);

// True when a cleaned Codex user text is internal (empty, internal tag,
// instruction file, compaction summary).
bool is_codex_internal(std::string_view text);

// The trimmed text, cut to `limit` characters followed by "… [truncated]"
// when it is longer.
std::string truncate_message(std::string_view text, std::optional<uint64_t> limit);

// Redacts (when `redact`), then truncates; nothing when the result is empty.
std::optional<std::string> finish_message(std::string_view text, bool redact,
                                          std::optional<uint64_t> limit);

}  // namespace lorebox
