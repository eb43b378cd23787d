#include "redact_model.h"

#include "fuzz_check.h"
#include "support/credential_tokens.h"

namespace lorebox::fuzz {

namespace {

constexpr std::string_view kBegin = "-----BEGIN";

std::string mask_key_blocks(std::string_view text) {
  std::string out;
  size_t cursor = 0;
  while (true) {
    const size_t begin = text.find(kBegin, cursor);
    if (begin == std::string_view::npos) break;
    size_t terminator = text.find("-----\n", begin);
    if (terminator == std::string_view::npos) terminator = text.find("-----\r\n", begin);
    if (terminator == std::string_view::npos)
      terminator = text.find("-----", begin + kBegin.size());
    if (terminator == std::string_view::npos) break;

    const std::string_view header = text.substr(begin, terminator - begin);
    if (header.find("PRIVATE KEY") == std::string_view::npos) {
      out.append(text.substr(cursor, begin + kBegin.size() - cursor));
      cursor = begin + kBegin.size();
      continue;
    }
    out.append(text.substr(cursor, begin - cursor));
    out.append("[redacted-private-key]");
    const size_t end = text.find("PRIVATE KEY-----", terminator);
    if (end == std::string_view::npos) return out;
    cursor = end + std::string_view("PRIVATE KEY-----").size();
  }
  out.append(text.substr(cursor));
  return out;
}

}  // namespace

std::string model_redact(std::string_view text) {
  return testing::mask_credential_tokens(mask_key_blocks(text));
}

}  // namespace lorebox::fuzz
