// The pass visits every '=', ':' and U+FF1A left to right. Most of them
// follow no key at all, or a key whose last two letters end no keyword, and
// are passed over after a look at the few bytes before them.
#include "text/redact_assignment.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "text/redact_spans.h"
#include "text/utf8.h"

namespace lorebox {

namespace {

constexpr size_t npos = std::string_view::npos;

// Keywords in the normalised form of a key: lower case, '_' for '-'.
constexpr std::array<std::string_view, 15> kKeywords = {
    "secret",     "secret_key",    "password",   "passwd",      "token",
    "auth_token", "api_key",       "apikey",     "access_key",  "private_key",
    "privatekey", "client_secret", "credential", "credentials", "accountkey",
};

char normalized_key_char(char c) {
  if (c >= 'A' && c <= 'Z') return static_cast<char>(c - 'A' + 'a');
  return c == '-' ? '_' : c;
}

// True when the key that ends just before `end`, and starts no earlier than
// `floor`, ends with a keyword. Key characters are the token characters;
// keywords hold only letters and '_', so matching them checks that too.
bool key_names_secret(std::string_view text, size_t end, size_t floor) {
  // Most keys are ruled out by their last two letters: every keyword ends in
  // "et", "ey", "rd", "wd", "en", "al" or "ls".
  if (end < floor + 2) return false;
  const char last = normalized_key_char(text[end - 1]);
  const char before = normalized_key_char(text[end - 2]);
  const bool may_end_keyword =
      (before == 'e' && (last == 't' || last == 'y' || last == 'n')) ||
      ((before == 'r' || before == 'w') && last == 'd') ||
      (before == 'a' && last == 'l') || (before == 'l' && last == 's');
  if (!may_end_keyword) return false;
  return std::any_of(kKeywords.begin(), kKeywords.end(), [&](std::string_view keyword) {
    if (end - floor < keyword.size()) return false;
    for (size_t i = 1; i <= keyword.size(); ++i)
      if (normalized_key_char(text[end - i]) != keyword[keyword.size() - i]) return false;
    return true;
  });
}

// follows_secret_key for a key that starts no earlier than `floor`.
bool follows_secret_key_after(std::string_view text, size_t pos, size_t floor) {
  size_t key_end = pos;
  while (key_end > floor) {
    const size_t length = blank_before(text, key_end);
    if (length == 0) break;
    key_end -= length;
  }
  if (key_end > floor && is_quote(text[key_end - 1])) --key_end;
  return key_names_secret(text, key_end, floor);
}

// Identifiers joined by '.', at least two of them ("self.config.token1").
bool is_dotted_name(std::string_view value) {
  size_t parts = 0;
  size_t pos = 0;
  while (true) {
    const size_t dot = std::min(value.find('.', pos), value.size());
    const std::string_view part = value.substr(pos, dot - pos);
    if (part.empty() || is_ascii_digit(part[0])) return false;
    for (char c : part)
      if (!is_ascii_alnum(c) && c != '_') return false;
    ++parts;
    if (dot == value.size()) return parts >= 2;
    pos = dot + 1;
  }
}

bool looks_like_secret(std::string_view value) {
  if (count_chars(value) < 8) return false;
  const char first = value[0];
  if (first == '$' || first == '{' || first == '<' || first == '%') return false;
  return std::any_of(value.begin(), value.end(), is_ascii_digit) &&
         std::any_of(value.begin(), value.end(), is_ascii_letter) &&
         value.find_first_of("([") == npos && !is_dotted_name(value);
}

// Where an unquoted value that starts at `pos` ends.
size_t bare_value_end(std::string_view text, size_t pos) {
  while (pos < text.size()) {
    const char c = text[pos];
    if (is_quote(c) || c == ',' || c == ';' || c == ')' || c == ']' || c == '}') break;
    if (static_cast<unsigned char>(c) < 0x80) {
      if (white_space_at(text, pos) > 0) break;
      ++pos;
      continue;
    }
    size_t length = 0;
    if (is_white_space(decode_utf8(text, pos, &length))) break;
    pos += length;
  }
  return pos;
}

}  // namespace

bool follows_secret_key(std::string_view text, size_t pos) {
  return follows_secret_key_after(text, pos, 0);
}

std::string mask_keyword_assignments(std::string text) {
  LiteralScanner scanner(text, kAssignmentSeparators);
  MaskedText out(text);
  size_t cursor = 0;  // text before this is masked
  size_t from = 0;
  while (std::optional<LiteralScanner::Hit> hit = scanner.next(from)) {
    const size_t separator = hit->pos;
    // "=>" and ":=" are separators of their own.
    size_t after = separator + kAssignmentSeparators[hit->literal].text.size();
    if (hit->literal < 2 && after < text.size() &&
        text[after] == (hit->literal == 0 ? '>' : '='))
      ++after;
    from = after;

    if (!follows_secret_key_after(text, separator, cursor)) continue;

    size_t begin = skip_blanks(text, after);
    size_t end = 0;
    if (begin < text.size() && is_quote(text[begin])) {
      const size_t close = text.find(text[begin], begin + 1);
      if (close == npos) continue;
      const std::string_view quoted =
          std::string_view(text).substr(begin + 1, close - begin - 1);
      if (quoted.find('\n') != npos) continue;  // the quote closes on another line
      begin += 1;
      end = close;
    } else {
      end = bare_value_end(text, begin);
    }
    // A value is read once: the scan goes on after it whether it is masked
    // or not, so a long value full of separators costs no more than its
    // length.
    from = end;
    const size_t stop = end_before_marker(text, begin, end);
    if (!looks_like_secret(std::string_view(text).substr(begin, stop - begin))) continue;
    out.mask(begin, stop, kSecretMarker);
    cursor = end;
  }
  if (!out.changed()) return text;
  return out.finish();
}

}  // namespace lorebox
