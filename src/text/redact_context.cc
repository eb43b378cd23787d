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

// Where the value begins after "Authorization" (at `pos`), or npos when no
// ':' or '=' and scheme follow: ["] ws (':' | '=') ws ["] ws scheme ws+.
size_t authorization_value_start(std::string_view text, size_t pos) {
  static constexpr std::array<std::string_view, 4> kSchemes = {"Bearer", "Basic", "Token",
                                                               "Bot"};
  if (pos < text.size() && is_quote(text[pos])) ++pos;
  pos = skip_white_space(text, pos);
  if (pos >= text.size() || (text[pos] != ':' && text[pos] != '=')) return npos;
  pos = skip_white_space(text, pos + 1);
  if (pos < text.size() && is_quote(text[pos])) ++pos;
  pos = skip_white_space(text, pos);
  for (std::string_view scheme : kSchemes) {
    if (!text.substr(pos).starts_with(scheme)) continue;
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
    const size_t value =
        hit->literal == 0 ? authorization_value_start(text, after) : after;
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

}  // namespace lorebox
