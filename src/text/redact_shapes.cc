#include "text/redact_shapes.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <string_view>

#include "text/redact_spans.h"

namespace lorebox {

namespace {

constexpr size_t npos = std::string_view::npos;

bool is_base64_char(char c) {
  return is_ascii_alnum(c) || c == '+' || c == '/' || c == '=';
}

// Position just past the line break at `pos` (LF, CR LF, or their escaped
// forms "\\n" and "\\r\\n") and the blanks after it, or `pos` when there is none.
size_t after_wrap(std::string_view text, size_t pos) {
  static constexpr std::array<std::string_view, 4> kBreaks = {"\n", "\r\n", "\\n",
                                                              "\\r\\n"};
  for (std::string_view line_break : kBreaks) {
    if (!text.substr(pos).starts_with(line_break)) continue;
    pos += line_break.size();
    while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t')) ++pos;
    return pos;
  }
  return pos;
}

// End of the base64 run that starts at `begin`, followed over line breaks
// while the lines before them are full (see mask_base64_private_keys).
size_t wrapped_base64_end(std::string_view text, size_t begin) {
  constexpr size_t kFullLine = 60;
  size_t line_start = begin;
  size_t end = begin;
  while (true) {
    while (end < text.size() && is_base64_char(text[end])) ++end;
    const size_t line = end - line_start;
    const size_t next = after_wrap(text, end);
    if (line < kFullLine || next == end) return end;
    size_t next_end = next;
    while (next_end < text.size() && is_base64_char(text[next_end])) ++next_end;
    if (next_end == next || next_end - next > line) return end;
    // The next line is base64 to its end, and a short last line is no word.
    if (next_end < text.size() && after_wrap(text, next_end) == next_end &&
        !is_quote(text[next_end]))
      return end;
    const std::string_view tail = text.substr(next, next_end - next);
    if (tail.size() < kFullLine && tail.find_first_of("0123456789+/=") == npos)
      return end;
    line_start = next;
    end = next;
  }
}

}  // namespace

std::string mask_telegram_tokens(std::string text) {
  constexpr size_t kMinRest = 33;  // after "AA"
  size_t hit = find_literal(text, kTelegramSeparator);
  if (hit == npos) return text;

  MaskedText out(text);
  size_t cursor = 0;  // text before this is already masked
  for (; hit != npos;
       hit = find_literal(text, kTelegramSeparator, std::max(hit + 1, cursor))) {
    size_t start = hit;
    while (start > 0 && is_ascii_digit(text[start - 1])) --start;
    const size_t digits = hit - start;
    if (digits < 8 || digits > 10 || start < cursor) continue;
    size_t end = hit + kTelegramSeparator.text.size();
    while (end < text.size() &&
           (is_ascii_alnum(text[end]) || text[end] == '_' || text[end] == '-'))
      ++end;
    if (end - hit - kTelegramSeparator.text.size() < kMinRest) continue;
    out.mask(start, end, kSecretMarker);
    cursor = end;
  }
  if (!out.changed()) return text;
  return out.finish();
}

std::string mask_base64_credentials(std::string text) {
  LiteralScanner scanner(text, kBase64CredentialPrefixes);
  MaskedText out(text);
  size_t from = 0;
  while (std::optional<LiteralScanner::Hit> hit = scanner.next(from)) {
    const size_t begin = hit->pos;
    from = begin + 1;
    if (begin > 0 && is_token_char(text[begin - 1])) continue;  // not a token's start
    size_t end = begin;
    while (end < text.size() && (is_token_char(text[end]) || is_base64_char(text[end])))
      ++end;
    end = end_before_marker(text, begin, end);
    out.mask(begin, end, kSecretMarker);
    from = end;
  }
  if (!out.changed()) return text;
  return out.finish();
}

std::string mask_base64_private_keys(std::string text) {
  constexpr size_t kDecodedPrefix = 64;  // characters decoded to find the header
  size_t begin = find_literal(text, kEncodedPemBegin);
  if (begin == npos) return text;

  MaskedText out(text);
  size_t end = 0;  // end of the base64 run that holds `begin`
  while (begin != npos) {
    // Further literals in the same run share its end, so a long run is read
    // once however many of them it holds.
    if (end <= begin) end = wrapped_base64_end(text, begin);
    const std::string_view head =
        std::string_view(text).substr(begin, std::min(end - begin, kDecodedPrefix));
    size_t next = begin + 1;
    if (decode_base64(head).find("PRIVATE KEY") != npos) {
      out.mask(begin, end, kPrivateKeyMarker);
      next = end;
    }
    begin = find_literal(text, kEncodedPemBegin, next);
  }
  if (!out.changed()) return text;
  return out.finish();
}

std::string mask_putty_private_keys(std::string text) {
  constexpr Literal kLabel("Private-Lines: ", 'L');
  constexpr uint64_t kManyLines = uint64_t{1} << 32;  // more than any text has
  if (find_literal(text, kPuttyKeyFile) == npos) return text;

  MaskedText out(text);
  size_t cursor = 0;  // text before this belongs to a key already handled
  for (size_t at = find_literal(text, kLabel); at != npos;
       at = find_literal(text, kLabel, std::max(at + 1, cursor))) {
    // A key inside a JSON string has its line breaks written "\\n".
    const bool escaped = at >= 2 && text.substr(at - 2, 2) == "\\n";
    if (at > 0 && text[at - 1] != '\n' && !escaped) continue;  // not at a line's start
    const std::string_view feed_text = escaped ? "\\n" : "\n";
    const std::string_view return_text = escaped ? "\\r" : "\r";
    size_t pos = at + kLabel.text.size();
    const size_t digits = pos;
    uint64_t lines = 0;
    for (; pos < text.size() && is_ascii_digit(text[pos]); ++pos)
      lines = std::min(lines * 10 + static_cast<uint64_t>(text[pos] - '0'), kManyLines);
    if (pos == digits || lines == 0) continue;
    if (text.substr(pos).starts_with(return_text)) pos += return_text.size();
    if (!text.substr(pos).starts_with(feed_text)) continue;

    // The key lines run to the line feed that ends the last of them (or to
    // the end of the text); that line break stays.
    const size_t begin = pos + feed_text.size();
    size_t end = begin;
    for (uint64_t line = 1;; ++line) {
      const size_t feed = text.find(feed_text, end);
      if (feed == npos) {
        end = text.size();
        break;
      }
      if (line == lines) {
        const bool after_return =
            feed >= begin + return_text.size() &&
            text.substr(feed - return_text.size(), return_text.size()) == return_text;
        end = after_return ? feed - return_text.size() : feed;
        break;
      }
      end = feed + feed_text.size();
    }
    // The lines counted belong to this key even when a marker starts them
    // and nothing is masked, so no later label among them is read again.
    cursor = end;
    end = end_before_marker(text, begin, end);
    if (end == begin) continue;
    out.mask(begin, end, kPrivateKeyMarker);
  }
  if (!out.changed()) return text;
  return out.finish();
}

std::string mask_django_keys(std::string text) {
  constexpr size_t kMinBody = 20;
  auto is_key_char = [](char c) {
    return (c >= 'a' && c <= 'z') || is_ascii_digit(c) ||
           std::string_view("!@#$%^&*(-_=+)").find(c) != npos;
  };
  MaskedText out(text);
  for (size_t at = find_literal(text, kDjangoInsecure); at != npos;
       at = find_literal(text, kDjangoInsecure, at + 1)) {
    if (at > 0 && is_token_char(text[at - 1])) continue;  // not a token's start
    const size_t body = at + kDjangoInsecure.text.size();
    size_t end = body;
    while (end < text.size() && is_key_char(text[end])) ++end;
    if (end - body < kMinBody) continue;
    out.mask(at, end_before_marker(text, at, end), kSecretMarker);
    at = end - 1;
  }
  if (!out.changed()) return text;
  return out.finish();
}

}  // namespace lorebox
