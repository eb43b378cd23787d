// Target for the display title of a session.
#include <string>
#include <string_view>

#include "archive/title.h"
#include "fuzz_check.h"
#include "fuzz_targets.h"
#include "text/utf8.h"

namespace lorebox::fuzz {

namespace {

constexpr std::string_view kEllipsis = "\xE2\x80\xA6";

// Builds a session from the input: its first byte chooses the source and
// whether there is a stored title; the rest, split at 0x01 bytes, is the
// stored title followed by message texts (a text starting with 'a' is an
// assistant reply, any other a prompt).
Session session_from(std::string_view text, bool* all_valid) {
  Session session;
  *all_valid = true;
  if (text.empty()) return session;
  const auto flags = static_cast<unsigned char>(text[0]);
  text.remove_prefix(1);
  session.source = (flags & 2) ? SourceKind::Codex : SourceKind::ClaudeCode;
  bool first = true;
  while (true) {
    const size_t split = text.find('\x01');
    const std::string_view part = text.substr(0, split);
    *all_valid = *all_valid && is_valid_utf8(part);
    if (first) {
      if (flags & 1) session.title = std::string(part);
      first = false;
    } else {
      Message message;
      message.text = std::string(part);
      message.role = part.starts_with('a') ? Role::Assistant : Role::User;
      session.messages.push_back(std::move(message));
    }
    if (split == std::string_view::npos) break;
    text.remove_prefix(split + 1);
  }
  return session;
}

const Message* first_prompt(const Session& session) {
  for (const Message& message : session.messages)
    if (message.role == Role::User) return &message;
  return nullptr;
}

}  // namespace

int fuzz_display_title(const uint8_t* data, size_t size) {
  bool all_valid = true;
  const Session session = session_from(
      std::string_view(reinterpret_cast<const char*>(data), size), &all_valid);
  const std::string title = display_title(session);

  expect(!title.empty(), "display_title is empty");
  if (all_valid) expect(is_valid_utf8(title), "display_title made valid UTF-8 invalid");

  if (session.title && !trim(*session.title).empty()) {
    expect(title == trim(*session.title), "a stored title is not shown trimmed");
    return 0;
  }
  const Message* prompt = first_prompt(session);
  if (prompt != nullptr && !trim(prompt->text).empty()) {
    std::string_view kept = title;
    if (kept.ends_with(kEllipsis) &&
        (count_chars(kept) > kTitleChars || prompt->text.find(kept) == std::string::npos))
      kept.remove_suffix(kEllipsis.size());
    expect(count_chars(kept) <= kTitleChars, "a prompt title is longer than the limit");
    // Cut after 72 characters, the kept text may end in white space.
    expect(trim_start(kept) == kept && !kept.empty(),
           "a prompt title starts with white space");
    expect(kept.find('\n') == std::string_view::npos, "a prompt title spans lines");
    expect(prompt->text.find(kept) != std::string::npos,
           "a prompt title is not taken from the prompt");
    return 0;
  }
  const std::string fallback =
      session.source == SourceKind::Codex ? "Codex session" : "Claude Code session";
  expect(title == fallback,
         "a session without title or prompt text is not named by source");
  return 0;
}

}  // namespace lorebox::fuzz
