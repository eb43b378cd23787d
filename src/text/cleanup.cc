#include "text/cleanup.h"

#include <array>
#include <span>

#include "text/redact.h"
#include "text/utf8.h"

namespace lorebox {

namespace {

// Markup Claude Code injects into user turns; a message that begins with one
// of these tags is not something the person typed.
// Shell mode ("!cmd") writes its command as a bash-input element, and local
// commands write their errors and a caveat for the model as elements too.
// A finished background shell is a bash-notification before 2.1 and a
// task-notification since.
constexpr std::array<std::string_view, 11> kClaudeInternalTags = {
    "task-notification",       "system-reminder",   "local-command-stdout",
    "command-message",         "bash-stdout",       "bash-stderr",
    "user-prompt-submit-hook", "bash-input",        "local-command-stderr",
    "local-command-caveat",    "bash-notification",
};

// The same for Codex user items.
constexpr std::array<std::string_view, 11> kCodexInternalTags = {
    "environment_context",   "recommended_plugins",    "turn_aborted",
    "subagent_notification", "user_instructions",      "INSTRUCTIONS",
    "app-context",           "codex_internal_context", "in-app-browser-context",
    "chrome_tabs",           "ambient_state",
};

constexpr std::string_view kEllipsisMarker = "\u2026 [truncated]";

// True when the text begins with "<" followed by the name. No closing ">" is
// required, so tags with attributes match too.
bool begins_with_tag(std::string_view text, std::string_view name) {
  return text.size() > name.size() && text[0] == '<' &&
         text.substr(1, name.size()) == name;
}

bool begins_with_any_tag(std::string_view text, std::span<const std::string_view> names) {
  if (text.empty() || text[0] != '<') return false;
  for (std::string_view name : names) {
    if (begins_with_tag(text, name)) return true;
  }
  return false;
}

// Cuts `text` (already trimmed) to `limit` characters plus the marker.
void cut_to_limit(std::string& text, std::optional<uint64_t> limit) {
  if (!limit || text.size() <= *limit) return;  // bytes bound characters
  const size_t keep = prefix_bytes(text, static_cast<size_t>(*limit));
  if (keep == text.size()) return;
  text.resize(keep);
  text.append(kEllipsisMarker);
}

// Trims `text` in place.
void trim_in_place(std::string& text) {
  const std::string_view trimmed = trim(text);
  if (trimmed.size() == text.size()) return;
  const size_t start = static_cast<size_t>(trimmed.data() - text.data());
  text.erase(start + trimmed.size());
  text.erase(0, start);
}

}  // namespace

std::optional<std::string> element_text(std::string_view text, std::string_view name) {
  std::string open;
  open.reserve(name.size() + 2);
  open.append("<").append(name).append(">");
  const size_t open_at = text.find(open);
  if (open_at == std::string_view::npos) return std::nullopt;

  std::string close;
  close.reserve(name.size() + 3);
  close.append("</").append(name).append(">");
  const size_t inner_at = open_at + open.size();
  const size_t close_at = text.find(close, inner_at);
  if (close_at == std::string_view::npos) return std::nullopt;
  return std::string(trim(text.substr(inner_at, close_at - inner_at)));
}

std::optional<std::string> command_prompt(std::string_view text) {
  const std::optional<std::string> name = element_text(text, "command-name");
  if (!name) return std::nullopt;
  const std::optional<std::string> args = element_text(text, "command-args");
  // Early versions wrote the name without its slash ("init"); the person
  // typed "/init".
  std::string joined;
  if (!name->empty() && !name->starts_with('/')) joined.push_back('/');
  joined.append(*name);
  joined.push_back(' ');
  if (args) joined.append(*args);
  trim_in_place(joined);
  if (joined.empty()) return std::nullopt;
  return joined;
}

bool is_claude_noise(std::string_view text) {
  const std::string_view t = trim(text);
  return t.empty() ||
         t.starts_with("This session is being continued from a previous conversation") ||
         begins_with_any_tag(t, kClaudeInternalTags) ||
         t.starts_with("[Request interrupted by user]") ||
         t.starts_with("[Request interrupted by user for tool use]") ||
         t.starts_with("API Error");
}

std::string clean_codex_prompt(std::string_view text) {
  // The files preamble lists attached paths before the actual request.
  if (trim_start(text).starts_with("# Files mentioned by the user:")) {
    constexpr std::string_view kRequest = "## My request:";
    const size_t request_at = text.find(kRequest);
    if (request_at != std::string_view::npos)
      text = trim_start(text.substr(request_at + kRequest.size()));
  }

  // Image elements carry attachments, not typed words.
  constexpr std::string_view kImageOpen = "<image ";
  constexpr std::string_view kImageClose = "</image>";
  std::string out;
  size_t pos = 0;
  while (true) {
    const size_t open_at = text.find(kImageOpen, pos);
    if (open_at == std::string_view::npos) break;
    const size_t close_at = text.find(kImageClose, open_at);
    if (close_at == std::string_view::npos) break;
    out.append(text, pos, open_at - pos);
    pos = close_at + kImageClose.size();
  }
  if (pos == 0) return std::string(trim(text));
  out.append(text, pos, text.size() - pos);
  trim_in_place(out);
  return out;
}

bool is_codex_internal(std::string_view text) {
  const std::string_view t = trim(text);
  return t.empty() || begins_with_any_tag(t, kCodexInternalTags) ||
         t.starts_with("# AGENTS.md") || t.starts_with("# Global agent instructions") ||
         // Codex's own summary of the conversation so far, written into the
         // history as a user item after a compaction.
         t.starts_with("Another language model started to solve this problem");
}

std::string truncate_message(std::string_view text, std::optional<uint64_t> limit) {
  std::string out(trim(text));
  cut_to_limit(out, limit);
  return out;
}

std::optional<std::string> finish_message(std::string_view text, bool redact,
                                          std::optional<uint64_t> limit) {
  std::string out = redact ? redact_secrets(text) : std::string(text);
  trim_in_place(out);
  cut_to_limit(out, limit);
  if (out.empty()) return std::nullopt;
  return out;
}

}  // namespace lorebox
