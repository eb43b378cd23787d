#include "archive/title.h"

#include <string_view>

#include "text/utf8.h"

namespace lorebox {

namespace {

constexpr std::string_view kEllipsis = "\xE2\x80\xA6";  // U+2026

// The first line of `text` that is not blank, trimmed; empty when every
// line is blank. Lines end at line feeds; a carriage return before a line
// feed is white space and so falls away with the trimming.
std::string_view first_non_blank_line(std::string_view text) {
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = trim(text.substr(start, end - start));
    if (!line.empty()) return line;
    start = end + 1;
  }
  return {};
}

}  // namespace

std::string display_title(const Session& session) {
  if (session.title) {
    const std::string_view stored = trim(*session.title);
    if (!stored.empty()) return std::string(stored);
  }

  std::string_view prompt;
  for (const Message& message : session.messages) {
    if (message.role == Role::User) {
      prompt = message.text;
      break;
    }
  }

  const std::string_view line = first_non_blank_line(prompt);
  const std::string_view kept = line.substr(0, prefix_bytes(line, kTitleChars));
  if (kept.empty()) {
    std::string fallback(source_display_name(session.source));
    fallback += " session";
    return fallback;
  }

  std::string title(kept);
  // Anything beyond the kept characters, even a final line feed, earns the
  // ellipsis.
  if (count_chars(prompt) > count_chars(kept)) title += kEllipsis;
  return title;
}

}  // namespace lorebox
