// Character classes beyond white space (which lives in utf8.h).
#pragma once

namespace lorebox {

// True when the code point is a letter or a number: ASCII letters and
// digits, and non-ASCII code points whose Unicode general category is L*
// (letters) or N* (decimal digits, letter numbers, other numbers). Combining
// marks are not letters here.
bool is_alphanumeric(char32_t c);

}  // namespace lorebox
