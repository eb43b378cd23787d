#include "text/utf8.h"

#include <simdjson.h>

namespace lorebox {

namespace {

bool is_ascii_white_space(unsigned char c) {
  return c == ' ' || (c >= 0x09 && c <= 0x0D);
}

bool is_continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// U+FFFD in UTF-8.
constexpr std::string_view kReplacementUtf8 = "\xEF\xBF\xBD";

}  // namespace

bool is_white_space(char32_t c) {
  if (c < 0x80) return is_ascii_white_space(static_cast<unsigned char>(c));
  return c == 0x85 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) ||
         c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

// Well-formed sequences (Unicode table 3-7): the lead byte fixes the length
// and the allowed range of the second byte; later bytes are 80..BF.
char32_t decode_utf8(std::string_view text, size_t pos, size_t* length) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(pos);
  if (lead < 0x80) {
    *length = 1;
    return lead;
  }
  size_t needed = 0;
  unsigned char low = 0x80, high = 0xBF;
  char32_t value = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    needed = 2;
    value = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    needed = 3;
    value = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;   // no overlongs
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    needed = 4;
    value = lead & 0x07;
    if (lead == 0xF0) low = 0x90;   // no overlongs
    if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    *length = 1;
    return kReplacementChar;
  }
  for (size_t i = 1; i < needed; ++i) {
    if (pos + i >= text.size()) {
      *length = i;
      return kReplacementChar;
    }
    const unsigned char c = byte(pos + i);
    const unsigned char lo = i == 1 ? low : 0x80;
    const unsigned char hi = i == 1 ? high : 0xBF;
    if (c < lo || c > hi) {
      *length = i;
      return kReplacementChar;
    }
    value = (value << 6) | (c & 0x3F);
  }
  *length = needed;
  return value;
}

std::string_view trim_start(std::string_view text) {
  size_t pos = 0;
  while (pos < text.size()) {
    const unsigned char c = static_cast<unsigned char>(text[pos]);
    if (c < 0x80) {
      if (!is_ascii_white_space(c)) break;
      ++pos;
      continue;
    }
    size_t length = 0;
    if (!is_white_space(decode_utf8(text, pos, &length))) break;
    pos += length;
  }
  return text.substr(pos);
}

std::string_view trim_end(std::string_view text) {
  size_t end = text.size();
  while (end > 0) {
    const unsigned char last = static_cast<unsigned char>(text[end - 1]);
    if (last < 0x80) {
      if (!is_ascii_white_space(last)) break;
      --end;
      continue;
    }
    // Step back to the lead byte of the last character (at most 3
    // continuation bytes) and accept it only when it decodes to exactly the
    // bytes up to `end`.
    size_t start = end - 1;
    while (start > 0 && end - start < 4 &&
           is_continuation(static_cast<unsigned char>(text[start])))
      --start;
    size_t length = 0;
    const char32_t c = decode_utf8(text, start, &length);
    if (start + length != end || !is_white_space(c)) break;
    end = start;
  }
  return text.substr(0, end);
}

std::string_view trim(std::string_view text) { return trim_end(trim_start(text)); }

size_t count_chars(std::string_view text) {
  size_t count = 0;
  size_t pos = 0;
  while (pos < text.size()) {
    if (static_cast<unsigned char>(text[pos]) < 0x80) {
      ++pos;
    } else {
      size_t length = 0;
      decode_utf8(text, pos, &length);
      pos += length;
    }
    ++count;
  }
  return count;
}

size_t prefix_bytes(std::string_view text, size_t chars) {
  size_t pos = 0;
  while (chars > 0 && pos < text.size()) {
    if (static_cast<unsigned char>(text[pos]) < 0x80) {
      ++pos;
    } else {
      size_t length = 0;
      decode_utf8(text, pos, &length);
      pos += length;
    }
    --chars;
  }
  return pos;
}

bool is_valid_utf8(std::string_view bytes) {
  return simdjson::validate_utf8(bytes.data(), bytes.size());
}

std::string lossy_utf8(std::string_view bytes) {
  if (is_valid_utf8(bytes)) return std::string(bytes);
  std::string out;
  out.reserve(bytes.size() + 16);
  size_t pos = 0;
  size_t copied = 0;  // bytes before this are already in `out`
  while (pos < bytes.size()) {
    if (static_cast<unsigned char>(bytes[pos]) < 0x80) {
      ++pos;
      continue;
    }
    size_t length = 0;
    const char32_t c = decode_utf8(bytes, pos, &length);
    if (c == kReplacementChar && bytes.substr(pos, length) != kReplacementUtf8) {
      out.append(bytes, copied, pos - copied);
      out.append(kReplacementUtf8);
      copied = pos + length;
    }
    pos += length;
  }
  out.append(bytes, copied, bytes.size() - copied);
  return out;
}

}  // namespace lorebox
