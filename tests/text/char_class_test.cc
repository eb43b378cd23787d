#include "text/char_class.h"

#include <gtest/gtest.h>

namespace lorebox {
namespace {

TEST(CharClassTest, LettersAndNumbersOfMajorScripts) {
  const char32_t yes[] = {
      'a',
      'Z',
      '0',
      '9',  // ASCII
      0xAA,
      0xB2,
      0xBD,
      0xE9,  // ª ² ½ é
      0x0416,
      0x03C9,
      0x05D0,
      0x0628,  // Ж ω א ب
      0x0905,
      0x0966,
      0x0E01,
      0x10D0,  // अ ० ก ა
      0x3042,
      0x30AB,
      0x4E2D,
      0x9FFF,  // あ カ 中 (CJK end)
      0xAC00,
      0xD7A3,
      0x2160,
      0xFF10,  // 가 힣 Ⅰ ０
      0x1D400,
      0x20000,
      0x2A6DF,
      0x1F100,  // 𝐀 𠀀 (ext. B) 🄀
      // Marks with the Alphabetic property: Devanagari vowel sign i and
      // visarga, Thai sara am, Arabic fatha.
      0x093F,
      0x0903,
      0x0E33,
      0x064E,
  };
  // Punctuation, symbols, spaces, accents and the virama (combining marks
  // without the Alphabetic property), surrogates, unassigned.
  for (char32_t c : yes)
    EXPECT_TRUE(is_alphanumeric(c)) << std::hex << static_cast<uint32_t>(c);
  const char32_t no[] = {
      '-',  '_',    '.',    '/',    ' ',    '+',    0x7F,   0x80,   0xA0,    0xD7,
      0xF7, 0x0301, 0x094D, 0x2013, 0x3000, 0x3001, 0xD800, 0xFFFD, 0x1F600, 0x10FFFF,
  };
  for (char32_t c : no)
    EXPECT_FALSE(is_alphanumeric(c)) << std::hex << static_cast<uint32_t>(c);
}

}  // namespace
}  // namespace lorebox
