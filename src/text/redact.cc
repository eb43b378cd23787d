// redact_secrets runs these passes in order, each over the previous one's
// output:
//
// 1. Private-key blocks. Each "-----BEGIN" is examined once. Its header runs
//    to the first "-----\n" after it (else the first "-----\r\n", else the
//    first "-----" after the "-----BEGIN", which covers keys pasted on one
//    line or copied out of a JSON string with literal "\n"). A header that
//    names a PRIVATE KEY is replaced with its whole block, through the next
//    "PRIVATE KEY-----" (or to the end of the text when there is none); any
//    other block is passed over.
// 2. Credential tokens. A token is a maximal run of ASCII letters, digits,
//    '-', '.' and '_'; a token that starts with a known prefix and is at
//    least that prefix's minimum length, unless it is words joined by '_',
//    '-' or '.' (a name such as "AKIA_ROTATION_SCHEDULE_DAYS"), or has a
//    credential shape (JWTs, Discord bot tokens and a few exact forms), is
//    replaced whole; full stops that end a sentence after a token of an
//    exact shape stay. A Google refresh token ("1//0...") is replaced with
//    the "1//" before it.
// 3. Telegram bot tokens, base64 credentials and private keys, Django keys
//    (redact_shapes.h); passwords in URLs, curl options and .netrc lines,
//    Authorization values (redact_context.h); keyword assignments and
//    values named in a sentence (redact_assignment.h); webhook URLs
//    (redact_context.h). redact_passes.h runs them in this order.
//
// Every token rule looks at one token only (and the refresh token at the
// "1//" before it), and markers begin and end with brackets, so the token
// rules share one pass. Later passes never mask part
// of a marker (end_before_marker).
//
// Most texts hold none of this: both first passes copy untouched stretches
// in bulk and hand back their input when they find nothing, and a quick look
// at the text (later_passes_to_run) skips every later pass that cannot find
// anything in it.
#include "text/redact.h"

#include <array>
#include <cstdint>

#include "text/redact_passes.h"
#include "text/redact_spans.h"

namespace lorebox {

namespace {

constexpr std::string_view kBegin = "-----BEGIN";
constexpr std::string_view kLineEndLf = "-----\n";
constexpr std::string_view kLineEndCrLf = "-----\r\n";
constexpr std::string_view kDashes = "-----";
constexpr std::string_view kPrivateKey = "PRIVATE KEY";
constexpr std::string_view kPrivateKeyEnd = "PRIVATE KEY-----";

struct CredentialPrefix {
  std::string_view prefix;
  size_t min_length;  // of the whole token, prefix included
};

// Tried in this order; the first match decides.
constexpr std::array<CredentialPrefix, 66> kPrefixes = {{
    {"sk-", 24},
    {"sk_live_", 24},
    {"sk_test_", 24},
    {"rk_live_", 24},
    {"pk_live_", 24},
    {"ghp_", 36},
    {"gho_", 36},
    {"ghu_", 36},
    {"ghs_", 36},
    {"ghr_", 36},
    {"github_pat_", 40},
    {"glpat-", 20},
    {"AKIA", 20},
    {"ASIA", 20},
    {"xoxb-", 24},
    {"xoxp-", 24},
    {"xoxa-", 24},
    {"xoxs-", 24},
    {"AIza", 35},
    {"npm_", 36},
    {"dop_v1_", 40},
    {"shpat_", 32},
    {"hf_", 30},
    {"SG.", 40},
    {"gsk_", 56},
    {"r8_", 40},
    {"pplx-", 50},
    {"xai-", 80},
    {"lsv2_pt_", 51},
    {"lsv2_sk_", 51},
    {"xapp-", 40},
    {"xoxe.", 40},
    {"xoxe-", 40},
    {"xoxc-", 40},
    {"xoxr-", 40},
    {"ya29.", 30},
    {"GOCSPX-", 35},
    {"dckr_pat_", 36},
    {"pypi-AgEIcHlwaS5vcmc", 70},
    {"gldt-", 25},
    {"glrt-", 25},
    {"glptt-", 25},
    {"glcbt-", 25},
    {"glft-", 25},
    {"doo_v1_", 71},
    {"dor_v1_", 71},
    {"HRKU-", 60},
    {"hvs.", 28},
    {"hvb.", 28},
    {"sbp_", 44},
    {"sb_secret_", 30},
    {"APA91b", 100},
    {"rk_test_", 26},
    {"whsec_", 26},
    {"shpss_", 38},
    {"shpca_", 38},
    {"lin_api_", 48},
    {"ntn_", 50},
    {"ATATT3", 100},
    {"sntryu_", 71},
    {"NRAK-", 32},
    {"NRII-", 32},
    {"glsa_", 46},
    {"PMAK-", 64},
    {"AGE-SECRET-KEY-1", 74},
    {"dp.pt.", 46},
}};

// No credential is shorter than this, so shorter tokens are never checked.
constexpr size_t kShortestCredential = 20;

// The rows grouped by their first byte, in table order within a group, so a
// token is compared only with the rows that can match it.
struct PrefixIndex {
  std::array<CredentialPrefix, kPrefixes.size()> rows{};
  std::array<uint8_t, 257> begin{};  // rows[begin[b], begin[b + 1]) start with b
  constexpr PrefixIndex() {
    uint8_t n = 0;
    for (int b = 0; b < 256; ++b) {
      begin[b] = n;
      for (const CredentialPrefix& p : kPrefixes)
        if (static_cast<unsigned char>(p.prefix[0]) == b) rows[n++] = p;
    }
    begin[256] = n;
  }
};
constexpr PrefixIndex kPrefixIndex;

// The smallest minimum length among the rows whose prefix starts the token
// and whose minimum it reaches, or 0 when there is none.
size_t prefix_min_length(std::string_view token) {
  const auto first = static_cast<unsigned char>(token[0]);
  size_t min = 0;
  for (size_t i = kPrefixIndex.begin[first]; i < kPrefixIndex.begin[first + 1]; ++i) {
    const CredentialPrefix& p = kPrefixIndex.rows[i];
    if (token.size() >= p.min_length && token.starts_with(p.prefix) &&
        (min == 0 || p.min_length < min))
      min = p.min_length;
  }
  return min;
}

// True when a token with a credential prefix is a name: words joined by
// '_', '-' or '.' with a separator before `min_length` characters (so the
// first word alone is too short to be the credential). Every beginning of
// such a token that reaches `min_length` is a name too, so cutting a text
// (truncation) never turns a name into a credential.
bool is_prefixed_name(std::string_view token, size_t min_length) {
  const size_t separator = token.find_first_of("_-.");
  return separator < min_length && is_word_identifier(token);
}

bool is_lower_hex(std::string_view text) {
  for (char c : text)
    if (!is_ascii_digit(c) && !(c >= 'a' && c <= 'f')) return false;
  return true;
}

bool is_alnum_only(std::string_view text) {
  for (char c : text)
    if (!is_ascii_alnum(c)) return false;
  return true;
}

constexpr bool is_upper(char c) { return c >= 'A' && c <= 'Z'; }
constexpr bool is_lower(char c) { return c >= 'a' && c <= 'z'; }

// A JSON Web Token: a base64url header that opens with '{"' ("eyJ"), a
// payload that opens with '{' ("ey") after the first dot, and a signature
// after a second dot.
bool is_jwt(std::string_view token) {
  if (token.size() < 36 || !token.starts_with("eyJ")) return false;
  const size_t dot = token.find('.');
  if (dot == std::string_view::npos || token.find('.', dot + 1) == std::string_view::npos)
    return false;
  return token.substr(dot + 1).starts_with("ey");
}

// True when the base64url text (no padding) encodes ASCII digits only.
bool encodes_digits(std::string_view text) {
  uint32_t bits = 0;
  int count = 0;
  for (char c : text) {
    int value = -1;
    if (is_upper(c)) value = c - 'A';
    if (is_lower(c)) value = c - 'a' + 26;
    if (is_ascii_digit(c)) value = c - '0' + 52;
    if (c == '-') value = 62;
    if (c == '_') value = 63;
    if (value < 0) return false;
    bits = (bits << 6) | static_cast<uint32_t>(value);
    count += 6;
    if (count >= 8) {
      count -= 8;
      if (!is_ascii_digit(static_cast<char>((bits >> count) & 0xFF))) return false;
    }
  }
  return true;
}

// A Discord bot token: three dot-separated parts of 24 to 28, 6 or 7, and
// 27 to 40 characters, the first the base64 of the bot's numeric id, or of
// 24-26, 6 and 27-38 characters beginning with 'M' or 'N' whatever it
// encodes.
bool is_discord_bot_token(std::string_view token) {
  const size_t first_dot = token.find('.');
  if (first_dot < 24 || first_dot > 28) return false;  // also when there is none
  const size_t second_dot = token.find('.', first_dot + 1);
  if (second_dot == std::string_view::npos ||
      token.find('.', second_dot + 1) != std::string_view::npos)
    return false;
  const size_t middle = second_dot - first_dot - 1;
  const size_t last = token.size() - second_dot - 1;
  if (middle < 6 || middle > 7 || last < 27 || last > 40) return false;
  if ((token[0] == 'M' || token[0] == 'N') && first_dot <= 26 && middle == 6 &&
      last <= 38)
    return true;
  return encodes_digits(token.substr(0, first_dot));
}

// Credentials recognised by their form rather than by a prefix alone.
bool has_credential_shape(std::string_view token) {
  if (token.size() >= 80 && token.find(".atlasv1.") != std::string_view::npos)
    return true;  // a Terraform Cloud token
  switch (token[0]) {
    case 'd':  // "dapi" and 32 lowercase hexadecimal digits (Databricks)
      return token.size() >= 36 && token.starts_with("dapi") &&
             is_lower_hex(token.substr(4, 32));
    case 'S':  // "SK" and exactly 32 lowercase hexadecimal digits (Twilio)
      return token.size() == 34 && token[1] == 'K' && is_lower_hex(token.substr(2));
    case 's':  // "secret_" and exactly 43 letters or digits (Notion)
      return token.size() == 50 && token.starts_with("secret_") &&
             is_alnum_only(token.substr(7));
    case 'k':  // "key-" and exactly 32 lowercase hexadecimal digits (Mailgun)
      return token.size() == 36 && token.starts_with("key-") &&
             is_lower_hex(token.substr(4));
    case 'e':
      return is_jwt(token);
    case 'M':
    case 'N':
    case 'O':
      return is_discord_bot_token(token);
    default:
      return false;
  }
}

bool is_credential(std::string_view token) {
  if (token.size() < kShortestCredential) return false;
  const size_t min_length = prefix_min_length(token);
  return (min_length > 0 && !is_prefixed_name(token, min_length)) ||
         has_credential_shape(token);
}

// How many bytes from the start of the token are a credential: the whole
// token, or the token without the full stops that end a sentence after it
// ("the key is SK0123....") when only that is one; else 0.
size_t credential_length(std::string_view token) {
  if (is_credential(token)) return token.size();
  size_t length = token.size();
  while (length > 0 && token[length - 1] == '.') --length;
  if (length < token.size() && is_credential(token.substr(0, length))) return length;
  return 0;
}

// A Google OAuth refresh token: "1//0" and at least 30 of letters, digits,
// '_' and '-'. The token scan meets it as the token after "1//" (at
// `start`); the "1//" before it, when it starts a run, is masked with it.
bool is_google_refresh_token(std::string_view text, size_t start,
                             std::string_view token) {
  if (start < 3 || text.substr(start - 3, 3) != "1//" ||
      (start > 3 && is_token_char(text[start - 4])))
    return false;
  if (token[0] != '0' || token.size() < 31) return false;
  return token.find('.') == std::string_view::npos;
}

std::string mask_private_keys(std::string_view text) {
  size_t begin = text.find(kBegin);
  if (begin == std::string_view::npos) return std::string(text);

  std::string out;
  out.reserve(text.size());
  size_t cursor = 0;  // text before this is in `out` or dropped
  while (begin != std::string_view::npos) {
    size_t terminator = text.find(kLineEndLf, begin);
    if (terminator == std::string_view::npos) terminator = text.find(kLineEndCrLf, begin);
    if (terminator == std::string_view::npos)
      terminator = text.find(kDashes, begin + kBegin.size());
    if (terminator == std::string_view::npos) break;

    const std::string_view header = text.substr(begin, terminator - begin);
    if (header.find(kPrivateKey) != std::string_view::npos) {
      out.append(text, cursor, begin - cursor);
      out.append(kPrivateKeyMarker);
      const size_t end = text.find(kPrivateKeyEnd, terminator);
      if (end == std::string_view::npos) return out;  // the rest is key material
      cursor = end + kPrivateKeyEnd.size();
      begin = text.find(kBegin, cursor);
    } else {
      // Not a key: leave the block as it is (it is copied with the next
      // masked block or the tail) and look for the next "-----BEGIN".
      begin = text.find(kBegin, begin + kBegin.size());
    }
  }
  out.append(text, cursor, text.size() - cursor);
  return out;
}

// Replaces credential tokens; returns `text` itself when there are none.
//
// Only runs of at least kShortestCredential token characters can be
// credentials, so the scan looks at every kShortestCredential-th byte: when
// the byte at pos + kShortestCredential - 1 is not a token character, no
// such run starts in [pos, pos + kShortestCredential) and the scan jumps
// past them. Otherwise the run through that byte is found and tested. The
// byte just before `pos` is never a token character (or pos is 0), so a run
// found this way always starts at its true beginning.
std::string mask_tokens(std::string text) {
  constexpr size_t kSpan = kShortestCredential;
  std::string out;
  size_t copied = 0;  // text before this is already in `out`
  size_t pos = 0;
  const size_t size = text.size();
  while (size - pos >= kSpan) {
    size_t probe = pos + kSpan - 1;
    if (!is_token_char(text[probe])) {
      pos = probe + 1;
      continue;
    }
    size_t start = probe;
    while (start > pos && is_token_char(text[start - 1])) --start;
    size_t end = probe + 1;
    while (end < size && is_token_char(text[end])) ++end;
    // text[end] is not a token character (or the text ends there).
    pos = end < size ? end + 1 : end;
    const std::string_view token = std::string_view(text).substr(start, end - start);
    size_t length = credential_length(token);
    if (length == 0) {
      std::string_view bare = token;
      while (bare.ends_with('.')) bare.remove_suffix(1);
      if (!is_google_refresh_token(text, start, bare) || start - 3 < copied) continue;
      start -= 3;
      length = bare.size() + 3;
    }
    if (out.empty()) out.reserve(size);
    out.append(text, copied, start - copied);
    out.append(kSecretMarker);
    copied = start + length;
  }
  if (copied == 0) return text;  // nothing was masked
  out.append(text, copied, size - copied);
  return out;
}

}  // namespace

std::string redact_secrets(std::string_view text) {
  const uint32_t passes = later_passes_to_run(text);
  std::string out = mask_tokens(mask_private_keys(text));
  if (passes == 0) return out;
  return run_later_passes(std::move(out), passes);
}

}  // namespace lorebox
