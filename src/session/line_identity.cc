#include "session/line_identity.h"

namespace lorebox {

namespace {

__extension__ using Uint128 = unsigned __int128;

// The value of a lower-case hexadecimal digit, or -1.
int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Reads a canonical lower-case UUID (8-4-4-4-12 digits) into *id.
bool parse_uuid(std::string_view text, LineIdentity* id) {
  if (text.size() != 36) return false;
  uint64_t words[2] = {0, 0};
  size_t digits = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      if (text[i] != '-') return false;
      continue;
    }
    const int value = hex_value(text[i]);
    if (value < 0) return false;
    uint64_t& word = words[digits / 16];
    word = (word << 4) | static_cast<uint64_t>(value);
    ++digits;
  }
  id->high = words[0];
  id->low = words[1];
  return true;
}

}  // namespace

LineIdentity line_identity(std::string_view text) {
  LineIdentity id;
  if (parse_uuid(text, &id)) return id;
  // 128-bit FNV-1a over the bytes, with the length folded in last.
  Uint128 hash =
      (static_cast<Uint128>(0x6C62272E07BB0142ull) << 64) | 0x62B821756295C58Dull;
  const Uint128 prime = (static_cast<Uint128>(1) << 88) | 0x13B;
  for (char c : text) {
    hash ^= static_cast<unsigned char>(c);
    hash *= prime;
  }
  hash ^= text.size();
  hash *= prime;
  id.high = static_cast<uint64_t>(hash >> 64);
  id.low = static_cast<uint64_t>(hash);
  return id;
}

}  // namespace lorebox
