#include "text/redact_spans.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "text/utf8.h"

namespace lorebox {

namespace {

// Letters in one run of an identifier's word; longer runs are generated.
constexpr size_t kLongestWord = 20;

constexpr bool is_upper(char c) { return c >= 'A' && c <= 'Z'; }
constexpr bool is_lower(char c) { return c >= 'a' && c <= 'z'; }

// Position just past the small letters at `pos`, or npos when they are
// more than kLongestWord.
size_t skip_small_letters(std::string_view part, size_t pos) {
  const size_t start = pos;
  while (pos < part.size() && is_lower(part[pos])) ++pos;
  return pos - start > kLongestWord ? std::string_view::npos : pos;
}

// One part of an identifier: capitals, small letters, then humps of a
// capital and small letters ("ROTATION", "devDependencies", "HTTPServer",
// "Max"), no run longer than kLongestWord, no letter three times in a row,
// and at most four digits at the end ("v2"). The last part (`last`) may end
// in a hump cut short to its capital, so that every beginning of a name
// passes too ("devD"). Generated text almost never falls into this pattern for long.
bool is_word_part(std::string_view part, bool last) {
  size_t i = 0;
  while (i < part.size() && is_upper(part[i])) ++i;
  if (i > kLongestWord || (i = skip_small_letters(part, i)) == std::string_view::npos)
    return false;
  while (i < part.size() && is_upper(part[i])) {
    if (i + 1 == part.size() && last) {
      ++i;  // a hump cut short: "devD"
      break;
    }
    if (i + 1 == part.size() || !is_lower(part[i + 1])) break;
    i = skip_small_letters(part, i + 1);
    if (i == std::string_view::npos) return false;
  }
  const size_t letters = i;
  while (i < part.size() && is_ascii_digit(part[i])) ++i;
  if (i != part.size() || i - letters > 4) return false;
  // Words hardly ever hold one letter three times in a row ("xxxx" is filler).
  for (size_t j = 2; j < letters; ++j)
    if (part[j] == part[j - 1] && part[j] == part[j - 2]) return false;
  return true;
}

}  // namespace

bool is_word_identifier(std::string_view token) {
  size_t words = 0;
  size_t pos = 0;
  while (true) {
    size_t end = pos;
    while (end < token.size() && token[end] != '_' && token[end] != '-' &&
           token[end] != '.')
      ++end;
    const std::string_view part = token.substr(pos, end - pos);
    if (!is_word_part(part, end == token.size())) return false;
    if (!part.empty()) ++words;
    if (end == token.size()) return words > 0;
    pos = end + 1;
  }
}

size_t find_literal(std::string_view text, const Literal& literal, size_t from) {
  const std::string_view needle = literal.text;
  if (from > text.size() || text.size() - from < needle.size())
    return std::string_view::npos;
  const char anchor = needle[literal.anchor];
  size_t pos = from + literal.anchor;  // first place for the anchor
  const size_t last = text.size() - needle.size() + literal.anchor;  // and the last
  while (pos <= last) {
    const void* hit = std::memchr(text.data() + pos, anchor, last - pos + 1);
    if (hit == nullptr) break;
    pos = static_cast<size_t>(static_cast<const char*>(hit) - text.data());
    const size_t start = pos - literal.anchor;
    if (holds_at(text, start, needle)) return start;
    ++pos;
  }
  return std::string_view::npos;
}

std::string decode_base64(std::string_view text) {
  std::string out;
  uint32_t bits = 0;
  int count = 0;
  for (char c : text) {
    int value = -1;
    if (c >= 'A' && c <= 'Z') value = c - 'A';
    if (c >= 'a' && c <= 'z') value = c - 'a' + 26;
    if (is_ascii_digit(c)) value = c - '0' + 52;
    if (c == '+' || c == '-') value = 62;
    if (c == '/' || c == '_') value = 63;
    if (value < 0) break;
    bits = (bits << 6) | static_cast<uint32_t>(value);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out.push_back(static_cast<char>((bits >> count) & 0xFF));
    }
  }
  return out;
}

size_t non_ascii_white_space_at(std::string_view text, size_t pos) {
  size_t length = 0;
  return is_white_space(decode_utf8(text, pos, &length)) ? length : 0;
}

size_t non_ascii_blank_before(std::string_view text, size_t pos) {
  // Non-ASCII white space is two (U+0085, U+00A0) or three bytes long.
  for (size_t n = 2; n <= 3 && n <= pos; ++n) {
    size_t length = 0;
    const char32_t c = decode_utf8(text, pos - n, &length);
    if (length == n && is_white_space(c) && !is_line_break(c)) return n;
  }
  return 0;
}

size_t skip_blanks(std::string_view text, size_t pos) {
  while (pos < text.size()) {
    size_t length = 0;
    const char32_t c = decode_utf8(text, pos, &length);
    if (!is_white_space(c) || is_line_break(c)) break;
    pos += length;
  }
  return pos;
}

size_t skip_white_space(std::string_view text, size_t pos) {
  while (const size_t length = white_space_at(text, pos)) pos += length;
  return pos;
}

size_t end_before_marker(std::string_view text, size_t begin, size_t end) {
  const std::string_view span = text.substr(begin, end - begin);
  for (size_t at = span.find('['); at != std::string_view::npos;
       at = span.find('[', at + 1)) {
    const std::string_view rest = text.substr(begin + at);
    if (rest.starts_with(kSecretMarker) || rest.starts_with(kPrivateKeyMarker))
      return begin + at;
  }
  return end;
}

void MaskedText::mask(size_t begin, size_t end, std::string_view marker) {
  if (!masked_) out_.reserve(text_.size());
  masked_ = true;
  out_.append(text_, copied_, begin - copied_);
  out_.append(marker);
  copied_ = end;
}

std::string MaskedText::finish() {
  out_.append(text_, copied_, text_.size() - copied_);
  return std::move(out_);
}

LiteralScanner::LiteralScanner(std::string_view text, std::span<const Literal> literals)
    : text_(text), literals_(literals.first(std::min(literals.size(), kMaxLiterals))) {
  from_.fill(std::string_view::npos);
}

std::optional<LiteralScanner::Hit> LiteralScanner::next(size_t from) {
  std::optional<Hit> best;
  for (size_t i = 0; i < literals_.size(); ++i) {
    // The last search still answers when it started at or before `from`
    // and found nothing, or found something at or after `from`.
    const bool current = from_[i] != std::string_view::npos && from_[i] <= from &&
                         (found_[i] == std::string_view::npos || found_[i] >= from);
    if (!current) {
      from_[i] = from;
      found_[i] = find_literal(text_, literals_[i], from);
    }
    if (found_[i] != std::string_view::npos && (!best || found_[i] < best->pos))
      best = Hit{found_[i], i};
  }
  return best;
}

}  // namespace lorebox
