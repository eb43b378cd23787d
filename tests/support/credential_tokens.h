// An independent statement of which tokens are credentials, for the tests
// and the fuzz checks: the prefix table and the exact shapes, written out
// plainly and separately from the masking code so that each checks the
// other. A token is a maximal run of ASCII letters, digits, "-", "." and
// "_".
#pragma once

#include <array>
#include <cstddef>
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

// Three "."-separated parts of 24-26, 6 and 27-38 characters, the first
// beginning with "M" or "N".
inline bool discord_shape(std::string_view token) {
  const size_t first = token.find('.');
  if (first == std::string_view::npos) return false;
  const size_t second = token.find('.', first + 1);
  if (second == std::string_view::npos ||
      token.find('.', second + 1) != std::string_view::npos)
    return false;
  const size_t a = first, b = second - first - 1, c = token.size() - second - 1;
  return (token[0] == 'M' || token[0] == 'N') && a >= 24 && a <= 26 && b == 6 &&
         c >= 27 && c <= 38;
}

}  // namespace credential_detail

// True when a whole token is a credential: a prefix row at its minimum
// length, or one of the exact shapes (dapi keys, SK keys, secret_ keys,
// ".atlasv1." tokens, JWTs, Discord bot tokens).
inline bool is_credential_token(std::string_view token) {
  using namespace credential_detail;
  for (const CredentialPrefix& row : kCredentialPrefixes)
    if (token.starts_with(row.prefix) && token.size() >= row.min_length) return true;
  if (token.starts_with("dapi") && token.size() >= 36 &&
      all_of(token.substr(4, 32), lower_hex))
    return true;
  if (token.starts_with("SK") && token.size() == 34 && all_of(token.substr(2), lower_hex))
    return true;
  if (token.starts_with("secret_") && token.size() == 50 &&
      all_of(token.substr(7), alnum))
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

}  // namespace lorebox::testing
