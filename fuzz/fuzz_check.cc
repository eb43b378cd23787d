#include "fuzz_check.h"

#include <array>

#include "support/credential_tokens.h"
#include "text/utf8.h"

namespace lorebox::fuzz {

namespace {

std::string& recorded_violation() {
  static std::string violation;
  return violation;
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
    if (!testing::is_token_byte(text[pos])) {
      ++pos;
      continue;
    }
    const size_t start = pos;
    while (pos < text.size() && testing::is_token_byte(text[pos])) ++pos;
    if (testing::credential_length(text.substr(start, pos - start)) > 0) return true;
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
