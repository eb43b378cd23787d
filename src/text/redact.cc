// Two left-to-right passes over the text:
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
//    least that prefix's minimum length is replaced whole.
//
// Most texts hold neither, so both passes copy untouched stretches in bulk
// and pass 2 hands back pass 1's string when it finds nothing.
#include "text/redact.h"

#include <array>
#include <cstdint>

namespace lorebox {

namespace {

constexpr std::string_view kPrivateKeyMarker = "[redacted-private-key]";
constexpr std::string_view kSecretMarker = "[redacted-secret]";

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
constexpr std::array<CredentialPrefix, 24> kPrefixes = {{
    {"sk-", 24},      {"sk_live_", 24}, {"sk_test_", 24},    {"rk_live_", 24},
    {"pk_live_", 24}, {"ghp_", 36},     {"gho_", 36},        {"ghu_", 36},
    {"ghs_", 36},     {"ghr_", 36},     {"github_pat_", 40}, {"glpat-", 20},
    {"AKIA", 20},     {"ASIA", 20},     {"xoxb-", 24},       {"xoxp-", 24},
    {"xoxa-", 24},    {"xoxs-", 24},    {"AIza", 35},        {"npm_", 36},
    {"dop_v1_", 40},  {"shpat_", 32},   {"hf_", 30},         {"SG.", 40},
}};

// No credential is shorter than this, so shorter tokens are never checked.
constexpr size_t kShortestCredential = 20;

// Byte classes for the token scan: 1 for a token character, plus 2 when the
// byte is the first byte of some prefix.
struct ByteTable {
  std::array<uint8_t, 256> bits{};
  constexpr ByteTable() {
    for (int c = 'A'; c <= 'Z'; ++c) bits[c] = 1;
    for (int c = 'a'; c <= 'z'; ++c) bits[c] = 1;
    for (int c = '0'; c <= '9'; ++c) bits[c] = 1;
    bits['-'] = bits['.'] = bits['_'] = 1;
    for (const CredentialPrefix& p : kPrefixes)
      bits[static_cast<unsigned char>(p.prefix[0])] |= 2;
  }
};
constexpr ByteTable kBytes;

bool is_token_char(char c) { return kBytes.bits[static_cast<unsigned char>(c)] & 1; }
bool may_start_credential(char c) {
  return kBytes.bits[static_cast<unsigned char>(c)] & 2;
}

bool is_credential(std::string_view token) {
  if (token.size() < kShortestCredential || !may_start_credential(token[0])) return false;
  for (const CredentialPrefix& p : kPrefixes) {
    if (token.size() >= p.min_length && token.starts_with(p.prefix)) return true;
  }
  return false;
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
    if (!is_credential(std::string_view(text).substr(start, end - start))) continue;
    if (out.empty()) out.reserve(size);
    out.append(text, copied, start - copied);
    out.append(kSecretMarker);
    copied = end;
  }
  if (copied == 0) return text;  // nothing was masked
  out.append(text, copied, size - copied);
  return out;
}

}  // namespace

std::string redact_secrets(std::string_view text) {
  return mask_tokens(mask_private_keys(text));
}

}  // namespace lorebox
