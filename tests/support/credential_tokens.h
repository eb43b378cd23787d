// An independent statement of which tokens are credentials, for the tests
// and the fuzz checks: the prefix table and the exact shapes, written out
// plainly and separately from the masking code so that each checks the
// other. A token is a maximal run of ASCII letters, digits, "-", "." and
// "_".
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace lorebox::testing {

struct CredentialPrefix {
  std::string_view prefix;
  size_t min_length;  // of the whole token, prefix included
};

inline constexpr std::array<CredentialPrefix, 66> kCredentialPrefixes = {{
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

// True for the bytes a token is made of.
inline bool is_token_byte(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
         c == '-' || c == '.' || c == '_';
}

namespace credential_detail {

inline bool all_of(std::string_view text, bool (*pass)(char)) {
  for (char c : text)
    if (!pass(c)) return false;
  return true;
}
inline bool lower_hex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }
inline bool alnum(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

inline bool upper(char c) { return c >= 'A' && c <= 'Z'; }
inline bool lower(char c) { return c >= 'a' && c <= 'z'; }
inline bool digit(char c) { return c >= '0' && c <= '9'; }

// Capitals, then small letters, then humps of one capital and small
// letters (the last part may end in a capital alone), then up to four
// digits;
// no run of capitals or small letters longer than 20, and no letter three
// times in a row.
inline bool word_part(std::string_view part, bool last) {
  size_t i = 0, run = 0;
  while (i < part.size() && upper(part[i])) ++i, ++run;
  if (run > 20) return false;
  for (run = 0; i < part.size() && lower(part[i]); ++i)
    if (++run > 20) return false;
  while (i + 1 < part.size() && upper(part[i]) && lower(part[i + 1])) {
    for (++i, run = 0; i < part.size() && lower(part[i]); ++i)
      if (++run > 20) return false;
  }
  if (last && i + 1 == part.size() && upper(part[i])) ++i;  // "devD"
  const size_t letters = i;
  size_t digits = 0;
  while (i < part.size() && digit(part[i])) ++i, ++digits;
  if (i != part.size() || digits > 4) return false;
  for (size_t j = 0; j + 2 < letters; ++j)
    if (part[j] == part[j + 1] && part[j + 1] == part[j + 2]) return false;
  return true;
}

// Words joined by "_", "-" or ".", the first separator before `min_length`.
inline bool prefixed_name(std::string_view token, size_t min_length) {
  if (token.find_first_of("_-.") >= min_length) return false;
  size_t begin = 0;
  for (size_t i = 0; i <= token.size(); ++i) {
    if (i < token.size() && token[i] != '_' && token[i] != '-' && token[i] != '.')
      continue;
    if (!word_part(token.substr(begin, i - begin), i == token.size())) return false;
    begin = i + 1;
  }
  return true;
}

// Base64url text that decodes to ASCII digits.
inline bool base64url_of_digits(std::string_view text) {
  const std::string_view digits =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  unsigned bits = 0, count = 0;
  for (char c : text) {
    const size_t value = digits.find(c);
    if (value == std::string_view::npos) return false;
    bits = (bits << 6 | static_cast<unsigned>(value)) & 0xFFFF;
    count += 6;
    if (count >= 8) {
      count -= 8;
      if (!digit(static_cast<char>((bits >> count) & 0xFF))) return false;
    }
  }
  return true;
}

// Three "."-separated parts of 24-28, 6-7 and 27-40 characters, the first
// the base64url of digits; or of 24-26, 6 and 27-38 characters, the first
// beginning with "M" or "N".
inline bool discord_shape(std::string_view token) {
  const size_t first = token.find('.');
  if (first == std::string_view::npos) return false;
  const size_t second = token.find('.', first + 1);
  if (second == std::string_view::npos ||
      token.find('.', second + 1) != std::string_view::npos)
    return false;
  const size_t a = first, b = second - first - 1, c = token.size() - second - 1;
  if (a < 24 || a > 28 || b < 6 || b > 7 || c < 27 || c > 40) return false;
  const bool older_rule =
      (token[0] == 'M' || token[0] == 'N') && a <= 26 && b == 6 && c <= 38;
  return older_rule || base64url_of_digits(token.substr(0, first));
}

inline bool whole_token_is_credential(std::string_view token) {
  for (const CredentialPrefix& row : kCredentialPrefixes)
    if (token.starts_with(row.prefix) && token.size() >= row.min_length &&
        !prefixed_name(token, row.min_length))
      return true;
  if (token.size() < 20) return false;
  if (token.starts_with("dapi") && token.size() >= 36 &&
      all_of(token.substr(4, 32), lower_hex))
    return true;
  if (token.starts_with("SK") && token.size() == 34 && all_of(token.substr(2), lower_hex))
    return true;
  if (token.starts_with("secret_") && token.size() == 50 &&
      all_of(token.substr(7), alnum))
    return true;
  if (token.starts_with("key-") && token.size() == 36 &&
      all_of(token.substr(4), lower_hex))
    return true;
  if (token.size() >= 80 && token.find(".atlasv1.") != std::string_view::npos)
    return true;
  if (token.starts_with("eyJ") && token.size() >= 36) {
    const size_t dot = token.find('.');
    if (token.find('.', dot + 1) != std::string_view::npos &&
        token.substr(dot + 1).starts_with("ey"))
      return true;
  }
  return discord_shape(token);
}

}  // namespace credential_detail

// How much of a token, from its start, is a credential: all of it when it
// is one (a prefix row at its minimum length whose token is not words joined
// by "_", "-" or ".", the first of them before that length, or one of the
// exact shapes: dapi keys, SK keys,
// secret_ keys, key- keys, ".atlasv1." tokens, JWTs, Discord bot tokens);
// else the token without its final full stops when that is one; else 0.
inline size_t credential_length(std::string_view token) {
  using credential_detail::whole_token_is_credential;
  if (whole_token_is_credential(token)) return token.size();
  std::string_view bare = token;
  while (bare.ends_with('.')) bare.remove_suffix(1);
  return bare.size() < token.size() && whole_token_is_credential(bare) ? bare.size() : 0;
}

// True when the whole token is a credential.
inline bool is_credential_token(std::string_view token) {
  return credential_length(token) == token.size();
}

// True when the token, found right after "1//" that starts a run, makes a
// Google OAuth refresh token with it: "0" and 30 more of letters, digits, "_"
// and "-" (final full stops aside).
inline bool is_google_refresh_tail(std::string_view token) {
  while (token.ends_with('.')) token.remove_suffix(1);
  return token.size() >= 31 && token[0] == '0' &&
         token.find('.') == std::string_view::npos;
}

// Every credential token of the text replaced by "[redacted-secret]", as a
// plain scan from left to right: each maximal run of token bytes, and a
// Google OAuth refresh token with the "1//" before it.
inline std::string mask_credential_tokens(std::string_view text) {
  std::string out;
  size_t pos = 0;
  while (pos < text.size()) {
    if (!is_token_byte(text[pos])) {
      out.push_back(text[pos++]);
      continue;
    }
    size_t end = pos;
    while (end < text.size() && is_token_byte(text[end])) ++end;
    const std::string_view token = text.substr(pos, end - pos);
    size_t length = credential_length(token);
    // "1//" is still in the output as it was when it starts a run here.
    const bool refresh = length == 0 && pos >= 3 && text.substr(pos - 3, 3) == "1//" &&
                         (pos == 3 || !is_token_byte(text[pos - 4])) &&
                         out.ends_with("1//") && is_google_refresh_tail(token);
    if (refresh) {
      out.resize(out.size() - 3);
      length = token.find_last_not_of('.') + 1;
    }
    if (length > 0) out.append("[redacted-secret]");
    out.append(token.substr(length));
    pos = end;
  }
  return out;
}

}  // namespace lorebox::testing
