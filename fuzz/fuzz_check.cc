#include "fuzz_check.h"

#include <array>

#include "text/utf8.h"

namespace lorebox::fuzz {

namespace {

std::string& recorded_violation() {
  static std::string violation;
  return violation;
}

struct CredentialRule {
  std::string_view prefix;
  size_t min_length;
};

// The credential prefixes and the shortest token each one masks.
constexpr std::array<CredentialRule, 24> kCredentialRules = {{
    {"sk-", 24},      {"sk_live_", 24}, {"sk_test_", 24},    {"rk_live_", 24},
    {"pk_live_", 24}, {"ghp_", 36},     {"gho_", 36},        {"ghu_", 36},
    {"ghs_", 36},     {"ghr_", 36},     {"github_pat_", 40}, {"glpat-", 20},
    {"AKIA", 20},     {"ASIA", 20},     {"xoxb-", 24},       {"xoxp-", 24},
    {"xoxa-", 24},    {"xoxs-", 24},    {"AIza", 35},        {"npm_", 36},
    {"dop_v1_", 40},  {"shpat_", 32},   {"hf_", 30},         {"SG.", 40},
}};

bool is_token_byte(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
         c == '-' || c == '.' || c == '_';
}

bool is_credential_token(std::string_view token) {
  for (const CredentialRule& rule : kCredentialRules) {
    if (token.starts_with(rule.prefix) && token.size() >= rule.min_length) return true;
  }
  return false;
}

constexpr std::string_view kMarker = "\xE2\x80\xA6 [truncated]";

}  // namespace

bool expect(bool condition, std::string_view what) {
  std::string& violation = recorded_violation();
  if (!condition && violation.empty()) violation = std::string(what);
  return condition;
}

std::string take_violation() {
  std::string violation;
  violation.swap(recorded_violation());
  return violation;
}

bool holds_credential(std::string_view text) {
  size_t pos = 0;
  while (pos < text.size()) {
    if (!is_token_byte(text[pos])) {
      ++pos;
      continue;
    }
    const size_t start = pos;
    while (pos < text.size() && is_token_byte(text[pos])) ++pos;
    if (is_credential_token(text.substr(start, pos - start))) return true;
  }
  return false;
}

bool holds_private_key_header(std::string_view text) {
  constexpr std::string_view kBegin = "-----BEGIN";
  for (size_t begin = text.find(kBegin); begin != std::string_view::npos;
       begin = text.find(kBegin, begin + 1)) {
    size_t end = text.find("-----\n", begin);
    if (end == std::string_view::npos) end = text.find("-----\r\n", begin);
    if (end == std::string_view::npos) end = text.find("-----", begin + kBegin.size());
    if (end == std::string_view::npos) return false;
    const std::string_view header = text.substr(begin, end - begin);
    if (header.find("PRIVATE KEY") != std::string_view::npos &&
        header.find("[redacted-secret]") == std::string_view::npos &&
        header.find("[redacted-private-key]") == std::string_view::npos)
      return true;
  }
  return false;
}

void expect_message_text(std::string_view text, bool redacted,
                         std::optional<uint64_t> limit) {
  expect(!text.empty(), "a kept message is empty");
  expect(is_valid_utf8(text), "a kept message is not valid UTF-8");
  expect(trim(text) == text, "a kept message is not trimmed");
  if (redacted) {
    expect(!holds_credential(text), "a credential survived in a kept message");
    expect(!holds_private_key_header(text), "a private key survived in a kept message");
  }
  if (limit) {
    const size_t chars = count_chars(text);
    expect(chars <= *limit ||
               (chars == *limit + count_chars(kMarker) && text.ends_with(kMarker)),
           "a kept message is longer than the limit");
  }
}

}  // namespace lorebox::fuzz
