#include "session/line_identity.h"

#include <array>

namespace lorebox {

namespace {

__extension__ using Uint128 = unsigned __int128;

// The value of each byte as a lower-case hexadecimal digit, or kNotHex.
constexpr uint8_t kNotHex = 0x10;
constexpr std::array<uint8_t, 256> make_hex_values() {
  std::array<uint8_t, 256> values{};
  for (auto& value : values) value = kNotHex;
  for (int c = '0'; c <= '9'; ++c) values[c] = static_cast<uint8_t>(c - '0');
  for (int c = 'a'; c <= 'f'; ++c) values[c] = static_cast<uint8_t>(c - 'a' + 10);
  return values;
}
constexpr std::array<uint8_t, 256> kHexValues = make_hex_values();

// Where the 32 digits of a canonical UUID (8-4-4-4-12) sit.
constexpr std::array<uint8_t, 32> kDigitPositions = {
    0,  1,  2,  3,  4,  5,  6,  7,  9,  10, 11, 12, 14, 15, 16, 17,
    19, 20, 21, 22, 24, 25, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35};

// Reads a canonical lower-case UUID into *id. Every line of a transcript
// has one or two, so the digits go through a table without a branch each.
bool parse_uuid(std::string_view text, LineIdentity* id) {
  if (text.size() != 36 || text[8] != '-' || text[13] != '-' || text[18] != '-' ||
      text[23] != '-')
    return false;
  uint64_t words[2] = {0, 0};
  unsigned seen = 0;  // the values or-ed together: kNotHex when one is not a digit
  for (size_t half = 0; half < 2; ++half) {
    uint64_t word = 0;
    for (size_t k = 0; k < 16; ++k) {
      const uint8_t value =
          kHexValues[static_cast<unsigned char>(text[kDigitPositions[half * 16 + k]])];
      seen |= value;
      word = (word << 4) | (value & 0xF);
    }
    words[half] = word;
  }
  if (seen & kNotHex) return false;
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
