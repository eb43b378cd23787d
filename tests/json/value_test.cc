#include "json/value.h"

#include "json/compact.h"
#include "json/key_equal.h"
#include "json/line_parser.h"
#include "json/member_table.h"

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace lorebox::json {
namespace {

using Text = std::optional<std::string>;

// What nlohmann-json, whose semantics the reader follows, makes of a line:
// its dump(), or nothing when it refuses the line.
Text reference_dump(std::string_view line) {
  nlohmann::json value = nlohmann::json::parse(line.begin(), line.end(), nullptr, false);
  if (value.is_discarded()) return std::nullopt;
  return value.dump();
}

// The reader's compact text of a line, or nothing when it ignores it. Also
// checks that compact_size agrees with the text.
Text reader_compact(LineParser& parser, std::string_view line) {
  std::optional<Element> value = parser.parse(line);
  if (!value) return std::nullopt;
  std::string text = "<";
  append_compact(*value, &text);
  EXPECT_EQ(compact_size(*value), text.size() - 1) << line;
  return text.substr(1);
}

std::string nested(char open, size_t depth, std::string_view inner) {
  std::string text;
  for (size_t i = 0; i < depth; ++i) text += open == '[' ? "[" : "{\"k\":";
  return text + std::string(inner) + std::string(depth, open == '[' ? ']' : '}');
}

TEST(JsonReaderTest, NestingUpTo128LevelsIsReadDeeperIsIgnored) {
  struct Case {
    char open;
    size_t depth;
    std::string_view inner;
    bool parsed;
  };
  const std::string_view kBig = "18446744073709551616";  // read through the fallback
  const Case cases[] = {
      {'[', 127, "[]", true},  {'[', 128, "1", true},    {'[', 128, "[]", false},
      {'[', 129, "1", false},  {'{', 127, "{}", true},   {'{', 128, "1", true},
      {'{', 128, "{}", false}, {'{', 129, "1", false},   {'{', 127, "[]", true},
      {'[', 128, kBig, true},  {'[', 129, kBig, false},  {'{', 128, kBig, true},
      {'{', 129, kBig, false}, {'[', 10000, "1", false}, {'{', 10000, kBig, false},
  };
  LineParser parser;
  for (const Case& c : cases) {
    std::string line = nested(c.open, c.depth, c.inner);
    SCOPED_TRACE(std::string(1, c.open) + std::to_string(c.depth) + std::string(c.inner));
    Text expected = c.parsed ? reference_dump(line) : std::nullopt;
    EXPECT_EQ(c.parsed, expected.has_value());
    EXPECT_EQ(reader_compact(parser, line), expected);
  }
  // Brackets inside strings are not levels.
  std::string line = "[\"" + std::string(500, '[') + "\"," + std::string(kBig) + "]";
  EXPECT_EQ(reader_compact(parser, line), reference_dump(line));
}

TEST(JsonReaderTest, AcceptsExactlyOneValuePerLine) {
  struct Case {
    std::string_view line;
    std::optional<std::string_view> compact;
  };
  const Case cases[] = {
      {"  \t{\"a\" : [1, 2]}\r ", "{\"a\":[1,2]}"},
      {"\xEF\xBB\xBF{\"bom\":true}", "{\"bom\":true}"},
      {"\xEF\xBB\xBF 7", "7"},
      {"null", "null"},
      {"", std::nullopt},
      {"   ", std::nullopt},
      {"{} {}", std::nullopt},
      {"[1,]", std::nullopt},
      {"{'a':1}", std::nullopt},
      {"01", std::nullopt},
      {"1e400", std::nullopt},
      {"[1e400, 18446744073709551616]", std::nullopt},
      {"{\"a\":1", std::nullopt},
      {"\"tab\there\"", std::nullopt},
      {std::string_view("\"nul\0byte\"", 10), std::nullopt},
      {"\"\\ud800\"", std::nullopt},
      {"\"\\udc00\"", std::nullopt},
      {"\"\\ud800\\u0041\"", std::nullopt},
      {"\"bad \xC3\x28 utf8\"", std::nullopt},
      {"/* c */ 1", std::nullopt},
  };
  LineParser parser;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    Text expected = c.compact ? Text(std::string(*c.compact)) : std::nullopt;
    EXPECT_EQ(reader_compact(parser, c.line), expected);
    EXPECT_EQ(reference_dump(c.line), expected);
  }
}

TEST(JsonReaderTest, NumbersFollowNlohmann) {
  struct Case {
    std::string_view line;
    std::optional<uint64_t> non_negative;
    double number;
  };
  const Case cases[] = {
      {"-0", 0, 0.0},
      {"-0.0", std::nullopt, -0.0},
      {"1.0", std::nullopt, 1.0},
      {"-1", std::nullopt, -1.0},
      {"18446744073709551615", 18446744073709551615ULL, 18446744073709551615.0},
      {"18446744073709551616", std::nullopt, 18446744073709551616.0},
      {"-9223372036854775808", std::nullopt, -9223372036854775808.0},
      {"-9223372036854775809", std::nullopt, -9223372036854775808.0},
      {"123456789012345678901234567890", std::nullopt, 1.2345678901234568e29},
      {"1E5", std::nullopt, 1e5},
      {"1e21", std::nullopt, 1e21},
      {"1e-7", std::nullopt, 1e-7},
      {"1e-400", std::nullopt, 0.0},
      {"5e-324", std::nullopt, 5e-324},
  };
  LineParser parser;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    std::optional<Element> value = parser.parse(c.line);
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(non_negative_integer(*value), c.non_negative);
    std::optional<double> number = as_number(*value);
    ASSERT_TRUE(number.has_value());
    EXPECT_EQ(*number, c.number);
    EXPECT_EQ(std::signbit(*number), std::signbit(c.number));
    EXPECT_EQ(compact(*value), reference_dump(c.line));
  }
}

TEST(JsonReaderTest, AccessorsTakeTheLastMemberAndOnlyTheirType) {
  struct Case {
    std::string_view key;
    std::optional<std::string_view> compact;  // of member()
    std::optional<std::string_view> string;   // string_member()
    bool is_true;
    std::optional<uint64_t> non_negative;
  };
  LineParser parser;
  std::optional<Element> object = parser.parse(
      "{\"s\":\"x\",\"n\":1,\"s\":\"y\",\"t\":true,\"f\":false,\"neg\":-1,\"d\":1.0,"
      "\"o\":{\"s\":\"z\"},\"a\\u0000b\":[2],\"\\u0061e\":\"e\",\"ts\":\"true\"}");
  ASSERT_TRUE(object.has_value());
  const Case cases[] = {
      {"s", "\"y\"", "y", false, std::nullopt},
      {"n", "1", std::nullopt, false, 1},
      {"t", "true", std::nullopt, true, std::nullopt},
      {"f", "false", std::nullopt, false, std::nullopt},
      {"ts", "\"true\"", "true", false, std::nullopt},
      {"neg", "-1", std::nullopt, false, std::nullopt},
      {"d", "1.0", std::nullopt, false, std::nullopt},
      {"o", "{\"s\":\"z\"}", std::nullopt, false, std::nullopt},
      {std::string_view("a\0b", 3), "[2]", std::nullopt, false, std::nullopt},
      {"a", std::nullopt, std::nullopt, false, std::nullopt},
      {"ae", "\"e\"", "e", false, std::nullopt},
      {"missing", std::nullopt, std::nullopt, false, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    std::optional<Element> found = member(*object, c.key);
    ASSERT_EQ(found.has_value(), c.compact.has_value());
    EXPECT_EQ(string_member(*object, c.key), c.string);
    if (!found) continue;
    EXPECT_EQ(compact(*found), *c.compact);
    EXPECT_EQ(as_string(*found), c.string);
    EXPECT_EQ(is_true(*found), c.is_true);
    EXPECT_EQ(non_negative_integer(*found), c.non_negative);
  }
  std::optional<Element> array = parser.parse("[{\"a\":1}]");
  EXPECT_FALSE(member(*array, "a").has_value());
}

// A MemberTable finds, in one pass, what member() finds one key at a time:
// the last of duplicates, names that share a length, names written with
// escapes or holding NUL, and nothing at all in a value that is no object.
TEST(JsonReaderTest, MemberTableAgreesWithMember) {
  static constexpr std::string_view kKeys[] = {
      "s", "n", "t", "ab", "ae", "missing", "type", "typo", std::string_view("a\0b", 3),
      "o"};
  const std::string texts[] = {
      R"({"s":"x","n":1,"s":"y","t":true,"ab":2,"ae":3,"o":{"s":"z"}})",
      R"({"type":"user","typo":1,"type":"assistant","typ\u0065":"escaped","a\u0000b":[2]})",
      R"({"\u0061e":"e","ab":null,"ab":[],"x":{"type":"inner"},"n":-0.5})",
      R"({})",
      R"([{"s":"in an array"}])",
      R"("not an object")",
  };
  LineParser parser;
  MemberTable table(kKeys);
  for (const std::string& text : texts) {
    SCOPED_TRACE(text);
    std::optional<Element> value = parser.parse(text);
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(table.read(*value), is_object(*value));
    for (size_t i = 0; i < std::size(kKeys); ++i) {
      std::optional<Element> expected = member(*value, kKeys[i]);
      std::optional<Element> got = table.get(i);
      ASSERT_EQ(got.has_value(), expected.has_value()) << kKeys[i];
      if (got) {
        EXPECT_EQ(compact(*got), compact(*expected)) << kKeys[i];
      }
      EXPECT_EQ(table.get_string(i), string_member(*value, kKeys[i])) << kKeys[i];
    }
  }
  table.clear();
  for (size_t i = 0; i < std::size(kKeys); ++i) EXPECT_FALSE(table.get(i).has_value());
}

TEST(JsonReaderTest, KeyEqualComparesEveryByte) {
  // Names of every length up to past five words, differing in any one byte
  // or in length, against a copy in another buffer.
  for (size_t n = 0; n <= 40; ++n) {
    std::string a;
    for (size_t i = 0; i < n; ++i) a.push_back(static_cast<char>('a' + i % 26));
    const std::string same = a;
    EXPECT_TRUE(key_equal(a, same)) << n;
    EXPECT_FALSE(key_equal(a, same + "a")) << n;
    if (n > 0) {
      EXPECT_FALSE(key_equal(a, std::string_view(same).substr(1))) << n;
    }
    for (size_t at = 0; at < n; ++at) {
      std::string other = a;
      other[at] ^= 0x20;
      EXPECT_FALSE(key_equal(a, other)) << n << " " << at;
    }
  }
}

// Random JSON texts: nested values with duplicate keys, escapes, control
// characters, non-ASCII text and numbers of every form, with random white
// space.
class JsonGenerator {
 public:
  explicit JsonGenerator(uint32_t seed) : random_(seed) {}

  std::string value(int depth) {
    std::string text;
    write_value(depth, &text);
    return text;
  }

 private:
  template <size_t N>
  const char* any(const char* const (&choices)[N]) {
    return choices[pick(N)];
  }
  size_t pick(size_t n) { return random_() % n; }

  void write_value(int depth, std::string* out) {
    static const char* const kSpaces[] = {"", "", "", " ", "\t", "\r", " \n "};
    *out += any(kSpaces);
    switch (pick(depth > 0 ? 7 : 4)) {
      case 0:
        write_string(out);
        break;
      case 1:
        write_number(out);
        break;
      case 2:
        *out += pick(2) ? "true" : pick(2) ? "false" : "null";
        break;
      case 3:
        write_string(out);
        break;
      case 4:
      case 5:
        write_container(depth - 1, true, out);
        break;
      default:
        write_container(depth - 1, false, out);
        break;
    }
    *out += any(kSpaces);
  }

  void write_container(int depth, bool object, std::string* out) {
    static const char* const kKeys[] = {
        "\"a\"",        "\"b\"",        "\"A\"",
        "\"\"",         "\"ab\"",       "\"\\u00e9\"",
        "\"\xC3\xA9\"", "\"k\\u0000\"", "\"\xF0\x9F\x98\x80\"",
        "\"~\""};
    *out += object ? "{" : "[";
    for (size_t i = 0, n = pick(6); i < n; ++i) {
      if (i) *out += ",";
      if (object) *out += std::string(any(kKeys)) + ":";
      write_value(depth, out);
    }
    *out += object ? "}" : "]";
  }

  void write_string(std::string* out) {
    static const char* const kPieces[] = {"a",
                                          "Hello",
                                          " ",
                                          "\\\"",
                                          "\\\\",
                                          "\\/",
                                          "\\b",
                                          "\\f",
                                          "\\n",
                                          "\\r",
                                          "\\t",
                                          "\\u0000",
                                          "\\u0007",
                                          "\\u001F",
                                          "\\u001f",
                                          "\\u007F",
                                          "\\u00e9",
                                          "\\u20AC",
                                          "\\uD83D\\uDE00",
                                          "\xC3\xA9",
                                          "\xE2\x82\xAC",
                                          "\xF0\x9F\x98\x80",
                                          "\x7F",
                                          "\xE2\x80\xA8"};
    *out += "\"";
    for (size_t i = 0, n = pick(8); i < n; ++i) *out += any(kPieces);
    *out += "\"";
  }

  void write_number(std::string* out) {
    static const char* const kExponents[] = {"",     "e5",    "E-5", "e+20", "e-300",
                                             "e300", "e-320", "e16", "e-7",  "E0"};
    static const char* const kFixed[] = {"0.1",
                                         "1e21",
                                         "1.0",
                                         "-0",
                                         "-0.0",
                                         "18446744073709551615",
                                         "-9223372036854775809",
                                         "9223372036854775807",
                                         "1e-400"};
    switch (pick(5)) {
      case 0:
        *out += std::to_string(static_cast<int64_t>(random_()));
        break;
      case 1:
        *out += std::to_string(random_());
        break;
      case 2:  // an integer beyond 64 bits
        *out += std::to_string(1 + pick(9)) +
                std::string(19 + pick(20), char('0' + pick(10)));
        break;
      case 3:
        *out += (pick(2) ? "-" : "") + std::to_string(pick(100000)) +
                (pick(2) ? "." + std::to_string(pick(1000000)) : "") + any(kExponents);
        break;
      default:
        *out += any(kFixed);
    }
  }

  std::mt19937_64 random_;
};

TEST(JsonReaderTest, CompactMatchesNlohmannOnRandomValues) {
  JsonGenerator generator(20240611);
  LineParser parser;
  for (int i = 0; i < 3000; ++i) {
    std::string line = generator.value(1 + i % 6);
    Text expected = reference_dump(line);
    ASSERT_TRUE(expected.has_value()) << line;
    ASSERT_EQ(reader_compact(parser, line), expected) << line;
  }
}

// Damaged texts are accepted or refused exactly as nlohmann does, and what
// both accept reads the same.
TEST(JsonReaderTest, AcceptsWhatNlohmannAcceptsOnDamagedValues) {
  JsonGenerator generator(7);
  std::mt19937 random(99);
  static const char kNoise[] = "{}[],:\"\\ 0123456789.eE+-tfnul\x01\xC3";
  LineParser parser;
  int accepted = 0;
  for (int i = 0; i < 4000; ++i) {
    std::string line = generator.value(1 + i % 4);
    for (int e = 0, edits = 1 + random() % 3; e < edits && !line.empty(); ++e) {
      size_t at = random() % line.size();
      char noise = kNoise[random() % (sizeof kNoise - 1)];
      switch (random() % 3) {
        case 0:
          line.erase(at, 1);
          break;
        case 1:
          line.insert(at, 1, noise);
          break;
        default:
          line[at] = noise;
          break;
      }
    }
    Text expected = reference_dump(line);
    ASSERT_EQ(reader_compact(parser, line), expected) << line;
    accepted += expected.has_value();
  }
  EXPECT_GT(accepted, 200);  // both outcomes are exercised
}

// Two values get the same fingerprint exactly when their compact texts are
// equal: number forms, escapes, member order and duplicates, and strings
// that differ only past a 16-byte block or in a trailing NUL.
TEST(JsonReaderTest, FingerprintsAreEqualExactlyWhenCompactTextsAre) {
  std::vector<std::string> lines = {"1",
                                    "1.0",
                                    "1.00",
                                    "1e0",
                                    "10e-1",
                                    "-0",
                                    "0",
                                    "-0.0",
                                    "0.0",
                                    "0e5",
                                    "-1",
                                    "9223372036854775807",
                                    "9223372036854775808",
                                    "18446744073709551615",
                                    "18446744073709551616",
                                    "1e21",
                                    "1000000000000000000000",
                                    "0.1",
                                    "0.10000000000000001",
                                    "0.1000000000000001",
                                    "true",
                                    "false",
                                    "null",
                                    R"("true")",
                                    R"("")",
                                    R"("\u00e9")",
                                    "\"\xC3\xA9\"",
                                    R"("\/")",
                                    R"("/")",
                                    R"("\ud83d\ude00")",
                                    "\"\xF0\x9F\x98\x80\"",
                                    R"("a")",
                                    R"("a\u0000")",
                                    R"("a\u0000b")",
                                    R"("aaaaaaaaaaaaaaaa")",
                                    R"("aaaaaaaaaaaaaaaab")",
                                    R"("aaaaaaaaaaaaaaaa\u0000")",
                                    "[]",
                                    "{}",
                                    "[[]]",
                                    "[[],[]]",
                                    "[null]",
                                    "[1,[2]]",
                                    "[[1],2]",
                                    R"(["ab","c"])",
                                    R"(["a","bc"])",
                                    R"(["a","b"])",
                                    R"({"a":"b"})",
                                    R"({"ab":"c"})",
                                    R"({"a":"bc"})",
                                    R"({"":""})",
                                    R"({"a":1,"b":2})",
                                    R"({"b":2,"a":1})",
                                    R"({"a":1,"a":2})",
                                    R"({"a":2})",
                                    R"({"a":2,"a":1})",
                                    R"({"a":1})",
                                    R"({"a":{"y":1,"x":2}})",
                                    R"({"a":{"x":2,"y":1}})",
                                    R"({"a":{"x":2,"y":1},"a":{}})",
                                    R"({"a":{}})",
                                    R"({"a":[{"b":1,"c":2}]})",
                                    R"({"a":[{"c":2,"b":1}]})",
                                    R"({"a":[{"c":2,"b":1,"c":3}]})"};
  JsonGenerator generator(4242);
  for (int i = 0; i < 200; ++i) lines.push_back(generator.value(1 + i % 4));
  struct Seen {
    std::string text;
    uint64_t fingerprint;
  };
  std::vector<Seen> seen;
  LineParser parser;
  for (const std::string& line : lines) {
    std::optional<Element> value = parser.parse(line);
    ASSERT_TRUE(value.has_value()) << line;
    seen.push_back({compact(*value), compact_fingerprint("Read", *value)});
    // The compact text read again gives the same text and fingerprint.
    std::optional<Element> again = parser.parse(seen.back().text);
    ASSERT_TRUE(again.has_value()) << line;
    EXPECT_EQ(compact_fingerprint("Read", *again), seen.back().fingerprint) << line;
    EXPECT_NE(compact_fingerprint("Edit", *again), seen.back().fingerprint) << line;
  }
  seen.push_back({"", compact_fingerprint("Read", std::nullopt)});
  for (const Seen& a : seen) {
    for (const Seen& b : seen) {
      EXPECT_EQ(a.fingerprint == b.fingerprint, a.text == b.text)
          << a.text << " vs " << b.text;
    }
  }
}

TEST(JsonReaderTest, LongRunsOfEscapesAreCountedWithoutOverflow) {
  // Escape counts are kept per byte lane for up to 255 blocks at a time;
  // texts made only of escaped characters, around and past that many
  // blocks, must still come out right.
  LineParser parser;
  for (const char* character : {"\\\"", "\\n", "\\u0001", "\\\\"}) {
    for (size_t length : {8159, 8160, 8161, 16384, 40000}) {
      std::string line = "\"";
      for (size_t i = 0; i < length; ++i) line += character;
      line += "\"";
      SCOPED_TRACE(testing::Message() << character << " x " << length);
      ASSERT_EQ(reader_compact(parser, line), reference_dump(line));
    }
  }
}

TEST(JsonReaderTest, EveryEscapeIsCountedAtEveryOffset) {
  // Each character below 0x80 (escaped in the JSON text when it must be) at
  // the start, middle and end of strings short and long, so it is counted
  // both in whole blocks and in the tail.
  // The UTF-8 bytes of U+0082, U+009C, U+00A2 and U+00DC repeat the low
  // bits of controls, the quotation mark and the backslash above 0x80.
  std::vector<std::string> characters = {"\\u0000",  "\xC3\xA9", "\xC2\x82",
                                         "\xC2\x9C", "\xC2\xA2", "\xC3\x9C"};
  for (int c = 1; c < 0x80; ++c) {
    char escaped[8];
    std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
    characters.push_back(c < 0x20 || c == '"' || c == '\\' ? escaped
                                                           : std::string(1, char(c)));
  }
  LineParser parser;
  for (size_t length : {1, 15, 16, 17, 31, 32, 33, 40, 63, 64, 65, 95, 96, 97, 600}) {
    for (size_t at : {size_t{0}, length / 2, length - 1}) {
      for (const std::string& character : characters) {
        std::string text;
        for (size_t i = 0; i < length; ++i) text += i == at ? character : "x";
        std::string line = "\"" + text + "\"";
        ASSERT_EQ(reader_compact(parser, line), reference_dump(line));
      }
    }
  }
}

TEST(JsonReaderTest, LongStringsAreSizedWithoutBuildingThem) {
  // A tool result of megabytes full of escapes (enough to overflow 8-bit
  // counters), then a line long enough to make the parser give its memory
  // back afterwards.
  std::string text;
  for (int i = 0; i < 40000; ++i)
    text += "line \\\"quoted\\\" \\t \\\\ \xC3\xA9 \\u0001 \\n";
  std::string line = "{\"content\":\"" + text + "\",\"is_error\":false}";
  LineParser parser;
  EXPECT_EQ(reader_compact(parser, line), reference_dump(line));
  std::string huge = "[\"" + std::string(20 * 1024 * 1024, 'h') + "\"]";
  std::optional<Element> value = parser.parse(huge);
  ASSERT_TRUE(value.has_value());
  EXPECT_EQ(compact_size(*value), huge.size());
  EXPECT_EQ(reader_compact(parser, "{\"a\":[1,2]}"), "{\"a\":[1,2]}");
}

}  // namespace
}  // namespace lorebox::json
