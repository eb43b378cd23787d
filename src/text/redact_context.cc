#include "text/redact_context.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "text/redact_spans.h"
#include "text/utf8.h"

namespace lorebox {

namespace {

constexpr size_t npos = std::string_view::npos;

// Where the authority that starts at `pos` ends: at the first '/', '?',
// '#' or white space, or at the end of the text.
size_t authority_end(std::string_view text, size_t pos) {
  for (; pos < text.size(); ++pos) {
    const char c = text[pos];
    if (c == '/' || c == '?' || c == '#' || white_space_at(text, pos) > 0) break;
  }
  return pos;
}

bool is_url_password(std::string_view password) {
  if (count_chars(password) < 3) return false;
  const char first = password[0];
  return first != '$' && first != '{' && first != '<' && first != '%';
}

// The characters of a bearer, basic or bot credential as HTTP allows them.
bool is_authorization_char(char c) {
  return is_ascii_alnum(c) || c == '.' || c == '_' || c == '~' || c == '+' || c == '/' ||
         c == '=' || c == '-';
}

// True when `text` begins with `lower` (lower-case letters) in any case.
bool starts_with_ignoring_case(std::string_view text, std::string_view lower) {
  if (text.size() < lower.size()) return false;
  for (size_t i = 0; i < lower.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != lower[i]) return false;
  }
  return true;
}

// Where the value begins after "Authorization" (at `pos`), or npos when no
// ':' or '=' and scheme follow: ["] ws (':' | '=') ws ["] ws scheme ws+.
size_t authorization_value_start(std::string_view text, size_t pos) {
  static constexpr std::array<std::string_view, 4> kSchemes = {"bearer", "basic", "token",
                                                               "bot"};
  if (pos < text.size() && is_quote(text[pos])) ++pos;
  pos = skip_white_space(text, pos);
  if (pos >= text.size() || (text[pos] != ':' && text[pos] != '=')) return npos;
  pos = skip_white_space(text, pos + 1);
  if (pos < text.size() && is_quote(text[pos])) ++pos;
  pos = skip_white_space(text, pos);
  for (std::string_view scheme : kSchemes) {
    if (!starts_with_ignoring_case(text.substr(pos), scheme)) continue;
    const size_t value = skip_white_space(text, pos + scheme.size());
    return value > pos + scheme.size() ? value : npos;
  }
  return npos;
}

// Where a webhook's path that starts at `pos` ends.
size_t webhook_path_end(std::string_view text, size_t pos) {
  for (; pos < text.size(); ++pos) {
    const char c = text[pos];
    if (is_quote(c) || c == '<' || c == '>' || c == ')' || c == ']' ||
        white_space_at(text, pos) > 0)
      break;
  }
  return pos;
}

// For positions given in increasing order, the last occurrence of a
// literal before each of them; the text is searched once in all.
class LastBefore {
 public:
  LastBefore(std::string_view text, std::string_view literal)
      : text_(text), literal_(literal), next_(text.find(literal)) {}

  size_t at(size_t pos) {
    while (next_ != npos && next_ < pos) {
      last_ = next_;
      next_ = text_.find(literal_, next_ + 1);
    }
    return last_;
  }

 private:
  std::string_view text_;
  std::string_view literal_;
  size_t next_;
  size_t last_ = npos;
};

// Position just past the word `word` (preceded by white space or the
// start) that follows white space at `pos`, or npos.
size_t after_word(std::string_view text, size_t pos, std::string_view word) {
  const size_t start = skip_white_space(text, pos);
  if (start == pos || !text.substr(start).starts_with(word)) return npos;
  const size_t end = start + word.size();
  return white_space_at(text, end) > 0 ? end : npos;
}

// Position just past the run of bytes that are not white space at `pos`.
size_t word_end(std::string_view text, size_t pos) {
  while (pos < text.size() && white_space_at(text, pos) == 0) ++pos;
  return pos;
}

}  // namespace

std::string mask_url_passwords(std::string text) {
  size_t hit = find_literal(text, kUrlSchemeEnd);
  if (hit == npos) return text;

  MaskedText out(text);
  while (hit != npos) {
    const size_t authority = hit + kUrlSchemeEnd.text.size();
    const size_t end = authority_end(text, authority);
    const std::string_view host_part =
        std::string_view(text).substr(authority, end - authority);
    const size_t at = host_part.rfind('@');
    const size_t colon = at == npos ? npos : host_part.substr(0, at).find(':');
    if (colon != npos) {
      const size_t begin = authority + colon + 1;
      const size_t stop = end_before_marker(text, begin, authority + at);
      if (is_url_password(std::string_view(text).substr(begin, stop - begin)))
        out.mask(begin, stop, kSecretMarker);
    }
    // The '/' that ends an authority may be that of the next "://".
    hit = find_literal(text, kUrlSchemeEnd, end > authority ? end - 1 : end);
  }
  if (!out.changed()) return text;
  return out.finish();
}

std::string mask_authorization_values(std::string text) {
  constexpr size_t kMinValue = 16;
  LiteralScanner scanner(text, kAuthorizationWords);
  MaskedText out(text);
  size_t from = 0;
  while (std::optional<LiteralScanner::Hit> hit = scanner.next(from)) {
    const size_t after = hit->pos + kAuthorizationWords[hit->literal].text.size();
    from = after;
    const bool header = hit->literal < 3;  // not "Bearer " alone
    const size_t value = header ? authorization_value_start(text, after) : after;
    if (value == npos) continue;
    size_t end = value;
    while (end < text.size() && is_authorization_char(text[end])) ++end;
    const std::string_view credential = std::string_view(text).substr(value, end - value);
    if (credential.size() < kMinValue ||
        std::none_of(credential.begin(), credential.end(), is_ascii_digit))
      continue;
    out.mask(value, end, kSecretMarker);
    from = end;
  }
  if (!out.changed()) return text;
  return out.finish();
}

std::string mask_webhook_urls(std::string text) {
  LiteralScanner scanner(text, kWebhookPrefixes);
  MaskedText out(text);
  size_t from = 0;
  while (std::optional<LiteralScanner::Hit> hit = scanner.next(from)) {
    const size_t begin = hit->pos + kWebhookPrefixes[hit->literal].text.size();
    from = begin;
    const size_t end = end_before_marker(text, begin, webhook_path_end(text, begin));
    if (end == begin) continue;
    out.mask(begin, end, kSecretMarker);
    from = end;
  }
  if (!out.changed()) return text;
  return out.finish();
}

std::string mask_curl_passwords(std::string text) {
  LiteralScanner scanner(text, kCurlUserOptions);
  MaskedText out(text);
  LastBefore line_feeds(text, "\n");
  LastBefore curls(text, "curl");
  size_t from = 0;
  while (std::optional<LiteralScanner::Hit> hit = scanner.next(from)) {
    size_t pos = hit->pos + kCurlUserOptions[hit->literal].text.size();
    from = pos;
    if (hit->literal == 1 && pos < text.size() && text[pos] == '=') {
      ++pos;
    } else {
      const size_t blanks = skip_blanks(text, pos);
      if (blanks == pos) continue;
      pos = blanks;
    }
    char quote = 0;
    if (pos < text.size() && is_quote(text[pos])) quote = text[pos++];
    size_t colon = pos;
    while (colon < text.size() && text[colon] != ':' && text[colon] != quote &&
           white_space_at(text, colon) == 0)
      ++colon;
    if (colon == pos || colon >= text.size() || text[colon] != ':') continue;
    const size_t begin = colon + 1;
    size_t end = begin;
    while (end < text.size() && text[end] != quote && text[end] != '\n' &&
           (quote != 0 || white_space_at(text, end) == 0))
      ++end;
    if (quote == 0) {
      // A closing quote or bracket of the text around the command stays.
      while (end > begin && (is_quote(text[end - 1]) || text[end - 1] == ')')) --end;
    }
    from = end;
    const size_t stop = end_before_marker(text, begin, end);
    const std::string_view password = std::string_view(text).substr(begin, stop - begin);
    if (!is_url_password(password) || password[0] == '/' ||
        std::all_of(password.begin(), password.end(), is_ascii_digit))
      continue;
    // "curl" earlier on the option's line.
    const size_t line_feed = line_feeds.at(hit->pos);
    const size_t curl = curls.at(hit->pos);
    if (curl == npos || (line_feed != npos && curl < line_feed)) continue;
    out.mask(begin, stop, kSecretMarker);
  }
  if (!out.changed()) return text;
  return out.finish();
}

std::string mask_netrc_passwords(std::string text) {
  MaskedText out(text);
  size_t masked_to = 0;
  for (size_t at = find_literal(text, kNetrcLogin); at != npos;
       at = find_literal(text, kNetrcLogin, at + 1)) {
    // "machine HOST login" or "default login".
    if (at == 0 || white_space_at(text, at - 1) == 0) continue;
    size_t before = at;
    while (before > 0 && white_space_at(text, before - 1) > 0) --before;
    size_t word = before;
    while (word > 0 && white_space_at(text, word - 1) == 0) --word;
    const std::string_view previous = std::string_view(text).substr(word, before - word);
    if (previous != "default") {
      size_t host_start = word;
      while (host_start > 0 && white_space_at(text, host_start - 1) > 0) --host_start;
      const size_t machine = host_start >= 7 ? host_start - 7 : npos;
      if (machine == npos || word == before ||
          std::string_view(text).substr(machine, 7) != "machine" ||
          (machine > 0 && white_space_at(text, machine - 1) == 0))
        continue;
    }
    const size_t user = skip_white_space(text, at + kNetrcLogin.text.size());
    if (user == at + kNetrcLogin.text.size()) continue;
    const size_t password_word = after_word(text, word_end(text, user), "password");
    if (password_word == npos) continue;
    const size_t begin = skip_white_space(text, password_word);
    const size_t end = end_before_marker(text, begin, word_end(text, begin));
    if (end == begin || begin < masked_to ||
        !is_url_password(std::string_view(text).substr(begin, end - begin)))
      continue;
    out.mask(begin, end, kSecretMarker);
    masked_to = end;
  }
  if (!out.changed()) return text;
  return out.finish();
}

}  // namespace lorebox
