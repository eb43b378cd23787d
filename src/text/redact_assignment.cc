// The pass visits every '=', ':', U+FF1A, " is", " as", " was", " to" and " are"
// left to right. Most of them follow no key at all, or a key whose last two
// letters end no keyword, and are passed over after a look at the few bytes
// before them.
#include "text/redact_assignment.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "text/char_class.h"
#include "text/redact_spans.h"
#include "text/utf8.h"

namespace lorebox {

namespace {

constexpr size_t npos = std::string_view::npos;

// What a key tells about the values it takes.
enum class KeyKind {
  kNone,      // names no secret
  kSecret,    // a value with a letter and a digit
  kPassword,  // also a quoted value without a digit
  kPwd,       // "pwd": only quoted values, and no paths
  kAuth,      // "auth": only base64 of "user:password"
  kCjk,       // a CJK word: as kPassword, but not in a sentence
};

struct Keyword {
  std::string_view word;  // normalised: lower case, '_' for '-'
  KeyKind kind;
  bool alone;  // a word of its own: no letter or digit right before it
};

// Every keyword ends in "et", "ey", "rd", "wd", "en", "al", "ls" or "th".
constexpr std::array<Keyword, 17> kKeywords = {{
    {"secret", KeyKind::kPassword, false},
    {"secret_key", KeyKind::kSecret, false},
    {"password", KeyKind::kPassword, false},
    {"passwd", KeyKind::kPassword, false},
    {"pwd", KeyKind::kPwd, true},
    {"token", KeyKind::kSecret, false},
    {"auth_token", KeyKind::kSecret, false},
    {"api_key", KeyKind::kSecret, false},
    {"apikey", KeyKind::kSecret, false},
    {"access_key", KeyKind::kSecret, false},
    {"private_key", KeyKind::kSecret, false},
    {"privatekey", KeyKind::kSecret, false},
    {"client_secret", KeyKind::kPassword, false},
    {"credential", KeyKind::kSecret, false},
    {"credentials", KeyKind::kSecret, false},
    {"accountkey", KeyKind::kSecret, false},
    {"auth", KeyKind::kAuth, true},
}};

// Words for password, secret key, private key and token in Chinese,
// Japanese and Korean; they are keys whatever stands before them.
constexpr std::array<std::string_view, 18> kCjkKeywords = {
    "密码",     "密碼",     "口令", "私钥",   "私鑰",       "密钥",
    "密鑰",     "秘钥",     "令牌", "秘密鍵", "パスワード", "秘密キー",
    "トークン", "비밀번호", "암호", "토큰",   "비밀키",     "개인키",
};

// Lower case, and '_' for '-' and ' ' (so "API key" reads as "api_key").
char normalized_key_char(char c) {
  if (c >= 'A' && c <= 'Z') return static_cast<char>(c - 'A' + 'a');
  return c == '-' || c == ' ' ? '_' : c;
}

// What the key that ends just before `end`, and starts no earlier than
// `floor`, names. Key characters are the token characters; keywords hold
// only letters and '_', so matching them checks that too.
KeyKind key_kind(std::string_view text, size_t end, size_t floor) {
  if (end < floor + 2) return KeyKind::kNone;
  if (static_cast<unsigned char>(text[end - 1]) >= 0x80) {
    const std::string_view before = text.substr(floor, end - floor);
    for (std::string_view word : kCjkKeywords)
      if (before.ends_with(word)) return KeyKind::kCjk;
    return KeyKind::kNone;
  }
  // Most keys are ruled out by their last two letters.
  const char last = normalized_key_char(text[end - 1]);
  const char before = normalized_key_char(text[end - 2]);
  const bool may_end_keyword =
      (before == 'e' && (last == 't' || last == 'y' || last == 'n')) ||
      ((before == 'r' || before == 'w') && last == 'd') ||
      (before == 'a' && last == 'l') || (before == 'l' && last == 's') ||
      (before == 't' && last == 'h');
  if (!may_end_keyword) return KeyKind::kNone;
  for (const Keyword& keyword : kKeywords) {
    const size_t size = keyword.word.size();
    if (end - floor < size) continue;
    bool match = true;
    for (size_t i = 1; i <= size && match; ++i)
      match = normalized_key_char(text[end - i]) == keyword.word[size - i];
    if (!match) continue;
    if (keyword.alone && end - size > floor && is_ascii_alnum(text[end - size - 1]))
      continue;
    return keyword.kind;
  }
  return KeyKind::kNone;
}

// The end of the key before the separator at `pos` (see key_before).
size_t key_end_before(std::string_view text, size_t pos, size_t floor) {
  while (pos > floor) {
    const size_t length = blank_before(text, pos);
    if (length == 0) break;
    pos -= length;
  }
  if (pos > floor && is_quote(text[pos - 1])) {
    --pos;
    if (pos > floor && text[pos - 1] == '\\') --pos;
  }
  return pos;
}

// The key before the separator at `pos`, starting no earlier than `floor`:
// white space, then an optional closing quote, escaped or not, lie between.
KeyKind key_before(std::string_view text, size_t pos, size_t floor) {
  return key_kind(text, key_end_before(text, pos, floor), floor);
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

// A placeholder or a template ("${DB_PASSWORD}", "<token>", "[REDACTED]"),
// or terminal output that holds control characters, not a secret.
bool is_placeholder(std::string_view value) {
  const char first = value[0];
  if (first == '$' || first == '{' || first == '<' || first == '%' || first == '[')
    return true;
  return std::any_of(value.begin(), value.end(), [](char c) {
    return static_cast<unsigned char>(c) < ' ' || c == '\x7F';
  });
}

bool has_letter_and_digit(std::string_view value) {
  return std::any_of(value.begin(), value.end(), is_ascii_digit) &&
         std::any_of(value.begin(), value.end(), is_ascii_letter);
}

// A password without a digit that is not a word or a name: ASCII, no white
// space or '/', and not letters and '_' or '.' alone ("Password",
// "DB_PASSWORD", "user.password" are names; "correct-horse-battery-staple"
// and "kx!Qp#mWz" are not).
bool is_digitless_password(std::string_view value) {
  bool other = false;
  for (char c : value) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= ' ' || byte >= 0x7F || c == '/') return false;
    if (!is_ascii_letter(c) && c != '_' && c != '.') other = true;
  }
  if (other) return true;
  // Letters alone: a password when its case changes inside the word more
  // than a name's would ("kXqPmWzT", not "Password" or "devPassword").
  size_t humps = 0;
  for (size_t i = 1; i < value.size(); ++i)
    if (is_ascii_letter(value[i - 1]) && is_ascii_letter(value[i]) &&
        (value[i - 1] >= 'a') != (value[i] >= 'a'))
      ++humps;
  return humps * 4 > value.size();
}

// Base64 of "user:password" (a Docker config's "auth").
bool is_basic_credential(std::string_view value) {
  if (value.size() < 8) return false;
  for (char c : value)
    if (!is_ascii_alnum(c) && c != '+' && c != '/' && c != '=') return false;
  const std::string decoded = decode_base64(value);
  const size_t colon = decoded.find(':');
  if (colon == npos || colon == 0 || colon + 1 >= decoded.size()) return false;
  return std::all_of(decoded.begin(), decoded.end(), [](char c) {
    return static_cast<unsigned char>(c) > ' ' && static_cast<unsigned char>(c) < 0x7F;
  });
}

// Whether a value after a key of `kind` is a secret. `prose`: the value
// follows " is", " was", " to" or " as".
bool looks_like_secret(std::string_view value, KeyKind kind, bool quoted, bool prose) {
  if (value.empty() || is_placeholder(value)) return false;
  if (kind == KeyKind::kAuth) return is_basic_credential(value);
  if (kind == KeyKind::kPwd && (!quoted || value.find('/') != npos)) return false;
  if (!quoted && value.find_first_of("([") != npos) return false;
  const size_t chars = count_chars(value);
  if (chars < (prose ? 16 : 8) || is_dotted_name(value)) return false;
  if (prose && is_word_identifier(value)) return false;  // "decode_nla_in6_addr"
  if (has_letter_and_digit(value)) return true;
  return !prose && quoted && kind != KeyKind::kSecret && is_digitless_password(value);
}

// True for the non-ASCII characters that end an unquoted value: white space
// and anything that is neither a letter nor a digit (CJK punctuation such as
// "。", "，" or "」", arrows, dashes).
bool ends_bare_value(char32_t c) { return is_white_space(c) || !is_alphanumeric(c); }

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
    if (ends_bare_value(decode_utf8(text, pos, &length))) break;
    pos += length;
  }
  return pos;
}

// How far before a key's end one of kProseKeyPieces may start: the "cred"
// of "credentials".
constexpr size_t kLongestKeyTail = 11;

// True when the last kLongestKeyTail characters of the key that ends at
// `end` (not before `floor`) hold one of kProseKeyPieces.
bool has_prose_key_piece(std::string_view text, size_t end, size_t floor) {
  size_t start = end;
  while (start > floor && end - start < kLongestKeyTail && is_token_char(text[start - 1]))
    --start;
  const std::string_view tail = text.substr(start, end - start);
  return std::any_of(kProseKeyPieces.begin(), kProseKeyPieces.end(),
                     [&](const Literal& piece) { return tail.find(piece.text) != npos; });
}

}  // namespace

bool follows_secret_key(std::string_view text, size_t pos) {
  return key_before(text, pos, 0) != KeyKind::kNone;
}

bool precedes_prose_value(std::string_view text, size_t pos) {
  size_t end = pos;
  while (end < text.size() && is_token_char(text[end])) {
    if (end - pos >= kLongestKeyTail) return false;
    ++end;
  }
  size_t after = end;
  if (after < text.size() && text[after] == '\\') ++after;
  if (after < text.size() && is_quote(text[after])) ++after;
  after = skip_blanks(text, after);
  if (after == 0 || text[after - 1] != ' ') return false;
  const size_t separator = after - 1;
  for (size_t i = kFirstProseSeparator; i < kAssignmentSeparators.size(); ++i)
    if (holds_at(text, separator, kAssignmentSeparators[i].text))
      return follows_secret_key(text, separator);
  return false;
}

std::string mask_keyword_assignments(std::string text) {
  LiteralScanner scanner(text, kAssignmentSeparators);
  MaskedText out(text);
  size_t cursor = 0;  // text before this is masked
  size_t from = 0;
  while (std::optional<LiteralScanner::Hit> hit = scanner.next(from)) {
    const size_t separator = hit->pos;
    size_t after = separator + kAssignmentSeparators[hit->literal].text.size();
    const bool prose = hit->literal >= kFirstProseSeparator;
    if (prose) {
      // A word of its own, then white space or ':'.
      if (after < text.size() && text[after] == ':') ++after;
      if (white_space_at(text, after) == 0 && after < text.size()) {
        from = after;
        continue;
      }
    } else if (hit->literal < 2 && after < text.size() &&
               text[after] == (hit->literal == 0 ? '>' : '=')) {
      ++after;  // "=>" and ":=" are separators of their own
    }
    from = after;

    const KeyKind kind = key_before(text, separator, cursor);
    if (kind == KeyKind::kNone) continue;
    // In a sentence only keys found by precedes_prose_value count.
    if (prose &&
        ((kind != KeyKind::kSecret && kind != KeyKind::kPassword) ||
         !has_prose_key_piece(text, key_end_before(text, separator, cursor), cursor)))
      continue;

    size_t begin = skip_blanks(text, after);
    size_t end = 0;
    bool quoted = false;
    const bool escaped = begin + 1 < text.size() && text[begin] == '\\' &&
                         is_quote(text[begin + 1]);  // JSON inside a JSON string
    if (escaped || (begin < text.size() && is_quote(text[begin]))) {
      const size_t open = escaped ? 2 : 1;
      const char quote = text[begin + open - 1];
      size_t close = text.find(quote, begin + open);
      if (close == npos) continue;
      if (escaped && text[close - 1] == '\\') --close;
      const std::string_view quoted_text =
          std::string_view(text).substr(begin + open, close - begin - open);
      if (quoted_text.find('\n') != npos) continue;  // the quote closes on another line
      begin += open;
      end = close;
      quoted = true;
    } else {
      end = bare_value_end(text, begin);
      // The sentence's full stop, exclamation or question mark.
      while (end > begin &&
             (text[end - 1] == '.' || text[end - 1] == '!' || text[end - 1] == '?'))
        --end;
    }
    // A value is read once: the scan goes on after it whether it is masked
    // or not, so a long value full of separators costs no more than its
    // length.
    from = std::max(end, from);
    const size_t stop = end_before_marker(text, begin, end);
    const std::string_view value = std::string_view(text).substr(begin, stop - begin);
    if (!looks_like_secret(value, kind, quoted, prose)) continue;
    out.mask(begin, stop, kSecretMarker);
    cursor = end;
  }
  if (!out.changed()) return text;
  return out.finish();
}

}  // namespace lorebox
