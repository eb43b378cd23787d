// Building blocks shared by the masking passes of redact_secrets: the two
// markers, the byte classes the rules speak of, a builder for a pass's
// output and a left-to-right search for several literals at once.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace lorebox {

inline constexpr std::string_view kSecretMarker = "[redacted-secret]";
inline constexpr std::string_view kPrivateKeyMarker = "[redacted-private-key]";

constexpr bool is_ascii_digit(char c) { return c >= '0' && c <= '9'; }
constexpr bool is_ascii_letter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
constexpr bool is_ascii_alnum(char c) { return is_ascii_digit(c) || is_ascii_letter(c); }

// Token characters: ASCII letters, digits, '-', '.' and '_'. A table,
// because the token scan asks for every few bytes of every text.
inline constexpr std::array<bool, 256> kTokenChars = [] {
  std::array<bool, 256> table{};
  for (int c = 0; c < 256; ++c) {
    const char ch = static_cast<char>(c);
    table[c] = is_ascii_alnum(ch) || ch == '-' || ch == '.' || ch == '_';
  }
  return table;
}();
inline bool is_token_char(char c) { return kTokenChars[static_cast<unsigned char>(c)]; }

// The quotation marks that open and close values: '"', '\'' and '`'.
constexpr bool is_quote(char c) { return c == '"' || c == '\'' || c == '`'; }

// A literal to search for, and the byte of it that searches look for with
// memchr: one that is uncommon in prose, code and logs, so that memchr stops
// rarely and most of a text is skipped at its speed.
struct Literal {
  consteval Literal(std::string_view chars, char anchor_byte)
      : text(chars), anchor(chars.find(anchor_byte)) {
    if (chars.empty() || anchor == std::string_view::npos)
      throw "the anchor byte must occur in the literal";  // fails the build
  }

  std::string_view text;
  size_t anchor;  // offset of the first anchor byte in `text`
};

// True when `literal` occurs in `text` at `pos` (which may lie anywhere).
// Literals are short and most candidates differ early, so a plain loop
// beats a call to memcmp.
inline bool holds_at(std::string_view text, size_t pos, std::string_view literal) {
  if (pos > text.size() || text.size() - pos < literal.size()) return false;
  for (size_t i = 0; i < literal.size(); ++i)
    if (text[pos + i] != literal[i]) return false;
  return true;
}

// True for words joined by '_', '-' or '.' (snake_case, kebab-case, dotted
// names): "AKIA_ROTATION_SCHEDULE_DAYS", "sk-toggle-button-primary",
// "SG.NotificationsService.RetryPolicy", "decode_nla_in6_addr", "decode". A
// word is capitals, small letters, then humps of a capital and small letters
// ("ROTATION", "devDependencies", "HTTPServer"), no run longer than 20
// letters, no letter three times in a row, and at most four digits at the
// end ("v2", "in6"); the last word may also end in a capital after small
// letters ("devD"), so every beginning of such a name is one too. Empty words between
// separators are allowed. Generated text almost never falls into this
// pattern for long.
bool is_word_identifier(std::string_view token);

// The bytes a base64 text encodes ('+' and '/' or '-' and '_' as the last
// two digits), up to its first byte that is not a base64 digit ('='
// included); a trailing partial group gives what it holds.
std::string decode_base64(std::string_view text);

// Position of the first occurrence of `literal` at or after `from`, or npos.
size_t find_literal(std::string_view text, const Literal& literal, size_t from = 0);

// ASCII white space: space and U+0009 to U+000D.
constexpr bool is_ascii_white_space(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

// True for the white space that breaks a line: U+000A to U+000D, U+0085,
// U+2028 and U+2029.
constexpr bool is_line_break(char32_t c) {
  return (c >= '\n' && c <= '\r') || c == 0x85 || c == 0x2028 || c == 0x2029;
}

// The non-ASCII case of white_space_at.
size_t non_ascii_white_space_at(std::string_view text, size_t pos);

// Byte length of the white-space character (Unicode White_Space) at `pos`,
// or 0 when there is none there.
inline size_t white_space_at(std::string_view text, size_t pos) {
  if (pos >= text.size()) return 0;
  if (static_cast<unsigned char>(text[pos]) < 0x80)
    return is_ascii_white_space(text[pos]);
  return non_ascii_white_space_at(text, pos);
}

// The non-ASCII case of blank_before.
size_t non_ascii_blank_before(std::string_view text, size_t pos);

// Byte length of the white-space character that ends just before `pos` and
// does not break a line, or 0 when there is none there.
inline size_t blank_before(std::string_view text, size_t pos) {
  if (pos == 0) return 0;
  const char last = text[pos - 1];
  if (static_cast<unsigned char>(last) >= 0x80) return non_ascii_blank_before(text, pos);
  return last == ' ' || last == '\t' ? 1 : 0;  // the ASCII blanks
}

// Position just past the white space that starts at `pos`, stopping at the
// first line break.
size_t skip_blanks(std::string_view text, size_t pos);

// Position just past the white space that starts at `pos`.
size_t skip_white_space(std::string_view text, size_t pos);

// Where a span that starts at `begin` and would run to `end` has to stop so
// that it holds no marker an earlier pass left: the start of the first
// marker that begins inside the span (it may reach past `end`), else `end`.
// A marker is never masked again.
size_t end_before_marker(std::string_view text, size_t begin, size_t end);

// The output of one pass: the text with some spans replaced by markers.
// Spans are given left to right and do not overlap. Untouched stretches are
// copied in bulk.
class MaskedText {
 public:
  // `text` must outlive the builder and is the text the spans refer to.
  explicit MaskedText(std::string_view text) : text_(text) {}

  // Replaces text[begin, end) by `marker`.
  void mask(size_t begin, size_t end, std::string_view marker);

  // True once a span was masked.
  bool changed() const { return masked_; }

  // The text with every span replaced; only when changed(). A pass that
  // masked nothing returns its own input instead, without a copy.
  std::string finish();

 private:
  std::string_view text_;
  std::string out_;
  size_t copied_ = 0;  // text_ before this is in out_ or masked
  bool masked_ = false;
};

// Finds the occurrences of up to eight literals in one text from left to
// right. Each literal's search resumes where it last stopped, so walking a
// text through all of them reads it once per literal, however many hits
// there are.
class LiteralScanner {
 public:
  static constexpr size_t kMaxLiterals = 8;

  struct Hit {
    size_t pos;      // where the literal starts
    size_t literal;  // its index in the list given to the constructor
  };

  // `text` and `literals` (at most kMaxLiterals) must outlive the scanner.
  LiteralScanner(std::string_view text, std::span<const Literal> literals);

  // The leftmost occurrence of any literal that starts at or after `from`
  // (the first literal in the list wins a tie), or nothing.
  std::optional<Hit> next(size_t from);

 private:
  std::string_view text_;
  std::span<const Literal> literals_;
  std::array<size_t, kMaxLiterals> found_{};  // last hit of each, or npos
  std::array<size_t, kMaxLiterals> from_{};   // where that search started
};

}  // namespace lorebox
