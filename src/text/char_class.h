// Character classes beyond white space (which lives in utf8.h).
#pragma once

namespace lorebox {

// True when the code point is a letter or a number: ASCII letters and
// digits, and non-ASCII code points with the Unicode Alphabetic property
// (letters, letter numbers, and the marks that spell words, such as
// Devanagari vowel signs) or whose general category is Nd, Nl or No.
// Other combining marks (accents) are not letters here.
bool is_alphanumeric(char32_t c);

}  // namespace lorebox
