#include "text/utf8.h"

#include <gtest/gtest.h>

namespace lorebox {
namespace {

TEST(Utf8Test, WhiteSpaceIsExactlyTheUnicodeSet) {
  const char32_t white[] = {0x09,   0x0A,   0x0B,   0x0C,   0x0D,   0x20,
                            0x85,   0xA0,   0x1680, 0x2000, 0x2005, 0x200A,
                            0x2028, 0x2029, 0x202F, 0x205F, 0x3000};
  for (char32_t c : white)
    EXPECT_TRUE(is_white_space(c)) << std::hex << static_cast<uint32_t>(c);
  // Neighbours and look-alikes that are not White_Space.
  const char32_t other[] = {0x08,   0x0E,   0x1F,   0x21,   0x84,   0x86,   0x9F,
                            0xA1,   0x180E, 0x1FFF, 0x200B, 0x200D, 0x2027, 0x202A,
                            0x2060, 0x2FFF, 0x3001, 0xFEFF, 0xFFFD};
  for (char32_t c : other)
    EXPECT_FALSE(is_white_space(c)) << std::hex << static_cast<uint32_t>(c);
}

TEST(Utf8Test, Trim) {
  struct Case {
    std::string_view in, both, start, end;
  } cases[] = {
      {"", "", "", ""},
      {" \t\n", "", "", ""},
      {"  a b  ", "a b", "a b  ", "  a b"},
      {"\u3000\u00A0x\u2028\u0085", "x", "x\u2028\u0085", "\u3000\u00A0x"},
      {"\u200Bx\u200B", "\u200Bx\u200B", "\u200Bx\u200B", "\u200Bx\u200B"},
      {"\u1680\u205F\u202F", "", "", ""},
      // A malformed tail is not white space, and no continuation byte is
      // mistaken for the end of a white space character.
      {" x\xE3\x80", "x\xE3\x80", "x\xE3\x80", " x\xE3\x80"},
      {"x\x80\x80\x80\x80 ", "x\x80\x80\x80\x80", "x\x80\x80\x80\x80 ",
       "x\x80\x80\x80\x80"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(trim(c.in), c.both) << c.in;
    EXPECT_EQ(trim_start(c.in), c.start) << c.in;
    EXPECT_EQ(trim_end(c.in), c.end) << c.in;
  }
}

TEST(Utf8Test, DecodeGivesScalarValueAndLength) {
  struct Case {
    std::string_view in;
    char32_t value;
    size_t length;
  } cases[] = {
      {"a", 'a', 1},
      {"\u00E9", 0xE9, 2},
      {"\u20AC", 0x20AC, 3},
      {"\U0001F600", 0x1F600, 4},
      {"\U0010FFFF", 0x10FFFF, 4},
      {"\x80", kReplacementChar, 1},
      {"\xC0\x80", kReplacementChar, 1},          // overlong lead
      {"\xE0\x80\x80", kReplacementChar, 1},      // overlong second byte
      {"\xED\xA0\x80", kReplacementChar, 1},      // surrogate
      {"\xF4\x90\x80\x80", kReplacementChar, 1},  // above U+10FFFF
      {"\xE2\x82", kReplacementChar, 2},          // cut short
      {"\xF0\x9F\x98x", kReplacementChar, 3},
  };
  for (const Case& c : cases) {
    size_t length = 0;
    EXPECT_EQ(decode_utf8(c.in, 0, &length), c.value) << c.in;
    EXPECT_EQ(length, c.length) << c.in;
  }
}

TEST(Utf8Test, CountsAndPrefixes) {
  const std::string_view text = "h\u00E9llo \U0001F600!";  // 8 characters
  EXPECT_EQ(count_chars(text), 8u);
  EXPECT_EQ(count_chars(""), 0u);
  EXPECT_EQ(count_chars("a\xE2\x82z"), 3u);  // a malformed run is one character
  const size_t expected_bytes[] = {0, 1, 3, 4, 5, 6, 7, 11, 12, 12, 12};
  for (size_t chars = 0; chars < std::size(expected_bytes); ++chars)
    EXPECT_EQ(prefix_bytes(text, chars), expected_bytes[chars]) << chars;
}

TEST(Utf8Test, LossyReplacesEachMaximalBadSequence) {
  struct Case {
    std::string_view in, out;
  } cases[] = {
      {"plain", "plain"},
      {"caf\u00E9 \uFFFD", "caf\u00E9 \uFFFD"},  // a real U+FFFD stays
      {"a\x80z", "a\uFFFDz"},
      {"Hello \xF0\x90\x80World", "Hello \uFFFDWorld"},
      {"\xC0\x80", "\uFFFD\uFFFD"},
      {"\xED\xA0\x80", "\uFFFD\uFFFD\uFFFD"},
      {"\xF4\x90\x80\x80", "\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"\xE2\x82\xE2\x82\xAC", "\uFFFD\u20AC"},
      {"end\xE2\x82", "end\uFFFD"},
      {"\xFF\xFE", "\uFFFD\uFFFD"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(lossy_utf8(c.in), c.out) << c.in;
    EXPECT_EQ(is_valid_utf8(c.in), c.in == c.out) << c.in;
    EXPECT_TRUE(is_valid_utf8(lossy_utf8(c.in))) << c.in;
  }
}

}  // namespace
}  // namespace lorebox
