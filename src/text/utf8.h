// UTF-8 helpers shared by the text rules: white space, trimming and
// character counts. A character is a Unicode scalar value; white space is
// the Unicode White_Space set (U+0009-U+000D, U+0020, U+0085, U+00A0,
// U+1680, U+2000-U+200A, U+2028, U+2029, U+202F, U+205F, U+3000).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace lorebox {

// The replacement character that stands for a malformed sequence.
inline constexpr char32_t kReplacementChar = 0xFFFD;

// True when the code point has the Unicode White_Space property.
bool is_white_space(char32_t c);

// Decodes the character starting at text[pos] (pos < text.size()) and stores
// its byte length in *length. A malformed sequence decodes as U+FFFD; its
// length is that of the longest prefix of a well-formed sequence found there
// (at least 1), so a scan always moves forward and sees exactly the
// characters lossy_utf8 would produce.
char32_t decode_utf8(std::string_view text, size_t pos, size_t* length);

// The text without white space at both ends / at the start / at the end.
std::string_view trim(std::string_view text);
std::string_view trim_start(std::string_view text);
std::string_view trim_end(std::string_view text);

// Number of characters (scalar values) in the text, counting each malformed
// sequence as one character as decode_utf8 does.
size_t count_chars(std::string_view text);

// Byte length of the first `chars` characters of the text (the whole text
// when it has fewer). Never splits a character.
size_t prefix_bytes(std::string_view text, size_t chars);

// True when the bytes are valid UTF-8 (no overlongs, no surrogates, nothing
// above U+10FFFF). Runs at memory speed.
bool is_valid_utf8(std::string_view bytes);

// The bytes with every malformed sequence replaced by one U+FFFD (the
// maximal-subpart rule, as Rust's String::from_utf8_lossy). Valid input is
// returned unchanged.
std::string lossy_utf8(std::string_view bytes);

}  // namespace lorebox
