#include "scan/json_reader.h"

#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace lorebox::json {
namespace {

// What nlohmann-json, whose semantics the reader follows, makes of a line:
// its dump(), or nothing when it refuses the line.
std::optional<std::string> reference_dump(std::string_view line) {
  nlohmann::json value = nlohmann::json::parse(line.begin(), line.end(), nullptr,
                                               /*allow_exceptions=*/false);
  if (value.is_discarded()) return std::nullopt;
  return value.dump();
}

// The reader's compact text of a line, or nothing when it ignores it.
std::optional<std::string> reader_compact(LineParser& parser, std::string_view line) {
  std::optional<Element> value = parser.parse(line);
  if (!value) return std::nullopt;
  return compact(*value);
}

std::string nested(char open, size_t depth, std::string_view inner) {
  std::string text;
  for (size_t i = 0; i < depth; ++i) text += open == '[' ? "[" : "{\"k\":";
  text += inner;
  text.append(depth, open == '[' ? ']' : '}');
  return text;
}

TEST(JsonReaderTest, NestingUpTo128LevelsIsReadDeeperIsIgnored) {
  struct Case {
    char open;
    size_t depth;
    std::string_view inner;
    bool parsed;
  };
  const Case cases[] = {
      {'[', 1, "1", true},
      {'[', 127, "[]", true},  // 128 levels
      {'[', 128, "1", true},
      {'[', 128, "[]", false},  // 129 levels
      {'[', 129, "1", false},
      {'{', 127, "{}", true},
      {'{', 128, "1", true},
      {'{', 128, "{}", false},
      {'{', 129, "1", false},
      {'{', 127, "[]", true},
      {'[', 127, "{}", true},
      // The nlohmann fallback (an integer beyond 64 bits) has the same limit.
      {'[', 128, "18446744073709551616", true},
      {'[', 129, "18446744073709551616", false},
      {'{', 128, "18446744073709551616", true},
      {'{', 129, "18446744073709551616", false},
      // Far too deep: ignored, and nothing recurses that far.
      {'[', 10000, "1", false},
      {'{', 10000, "1", false},
      {'[', 10000, "1e999999", false},
      {'{', 10000, "99999999999999999999999", false},
  };
  LineParser parser;
  for (const Case& c : cases) {
    std::string line = nested(c.open, c.depth, c.inner);
    SCOPED_TRACE(std::string(1, c.open) + " depth " + std::to_string(c.depth) +
                 " around " + std::string(c.inner));
    std::optional<Element> value = parser.parse(line);
    EXPECT_EQ(value.has_value(), c.parsed);
    if (value) {
      EXPECT_EQ(compact(*value), reference_dump(line));
    }
  }
}

TEST(JsonReaderTest, NestingBracketsInsideStringsDoNotCount) {
  LineParser parser;
  std::string line = "[\"" + std::string(500, '[') + "\\\"" + std::string(500, '{') +
                     "\",18446744073709551616]";
  std::optional<Element> value = parser.parse(line);
  ASSERT_TRUE(value.has_value());
  EXPECT_EQ(compact(*value), reference_dump(line));
}

TEST(JsonReaderTest, AcceptsExactlyOneValuePerLine) {
  struct Case {
    std::string_view line;
    std::optional<std::string_view> compact;
  };
  const Case cases[] = {
      {"{\"a\":1}", "{\"a\":1}"},
      {"  \t{\"a\" : [1, 2]}\r ", "{\"a\":[1,2]}"},
      {"\xEF\xBB\xBF{\"bom\":true}", "{\"bom\":true}"},
      {"\xEF\xBB\xBF 7", "7"},
      {"\"text\"", "\"text\""},
      {"null", "null"},
      {"", std::nullopt},
      {"   ", std::nullopt},
      {"{} {}", std::nullopt},
      {"{\"a\":1}x", std::nullopt},
      {"[1,]", std::nullopt},
      {"{\"a\":1,}", std::nullopt},
      {"{'a':1}", std::nullopt},
      {"01", std::nullopt},
      {"1.", std::nullopt},
      {"+1", std::nullopt},
      {"1e400", std::nullopt},
      {"[1e400, 18446744073709551616]", std::nullopt},
      {"{\"a\":1", std::nullopt},
      {"\"tab\there\"", std::nullopt},
      {std::string_view("\"nul\0byte\"", 10), std::nullopt},
      {"\"\\ud800\"", std::nullopt},
      {"\"\\udc00\"", std::nullopt},
      {"\"\\ud800\\u0041\"", std::nullopt},
      {"\"bad \xC3\x28 utf8\"", std::nullopt},
      {"\"\\x41\"", std::nullopt},
      {"/* c */ 1", std::nullopt},
      {"\xEF\xBB 1", std::nullopt},
  };
  LineParser parser;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    std::optional<std::string> expected;
    if (c.compact) expected = std::string(*c.compact);
    EXPECT_EQ(reader_compact(parser, c.line), expected);
    EXPECT_EQ(reference_dump(c.line), expected);
  }
}

TEST(JsonReaderTest, NumbersFollowNlohmann) {
  struct Case {
    std::string_view line;
    std::optional<uint64_t> non_negative;
    double number;
    std::string_view compact;
  };
  const Case cases[] = {
      {"0", 0, 0.0, "0"},
      {"-0", 0, 0.0, "0"},
      {"-0.0", std::nullopt, -0.0, "-0.0"},
      {"1.0", std::nullopt, 1.0, "1.0"},
      {"-1", std::nullopt, -1.0, "-1"},
      {"9223372036854775807", 9223372036854775807ULL, 9223372036854775807.0,
       "9223372036854775807"},
      {"18446744073709551615", 18446744073709551615ULL, 18446744073709551615.0,
       "18446744073709551615"},
      {"18446744073709551616", std::nullopt, 18446744073709551616.0,
       "1.8446744073709552e+19"},
      {"-9223372036854775808", std::nullopt, -9223372036854775808.0,
       "-9223372036854775808"},
      {"-9223372036854775809", std::nullopt, -9223372036854775808.0,
       "-9.223372036854776e+18"},
      {"123456789012345678901234567890", std::nullopt, 1.2345678901234568e29,
       "1.2345678901234568e+29"},
      {"1E5", std::nullopt, 1e5, "100000.0"},
      {"1e21", std::nullopt, 1e21, "1e+21"},
      {"1e-7", std::nullopt, 1e-7, "1e-07"},
      {"0.0001", std::nullopt, 0.0001, "0.0001"},
      {"1e-400", std::nullopt, 0.0, "0.0"},
      {"1.7976931348623157e308", std::nullopt, 1.7976931348623157e308,
       "1.7976931348623157e+308"},
      {"5e-324", std::nullopt, 5e-324, "5e-324"},
  };
  LineParser parser;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    std::optional<Element> value = parser.parse(c.line);
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(non_negative_integer(*value), c.non_negative);
    ASSERT_TRUE(as_number(*value).has_value());
    EXPECT_EQ(*as_number(*value), c.number);
    EXPECT_EQ(std::signbit(*as_number(*value)), std::signbit(c.number));
    EXPECT_EQ(compact(*value), c.compact);
    EXPECT_EQ(reference_dump(c.line), std::string(c.compact));
  }
}

TEST(JsonReaderTest, MemberTakesTheLastOccurrence) {
  struct Case {
    std::string_view line;
    std::string_view key;
    std::optional<std::string_view> value;  // compact
  };
  const Case cases[] = {
      {"{\"a\":1,\"b\":2}", "b", "2"},
      {"{\"a\":1,\"a\":2}", "a", "2"},
      {"{\"a\":{\"x\":1},\"b\":0,\"a\":[3]}", "a", "[3]"},
      {"{\"a\":1}", "missing", std::nullopt},
      {"{}", "a", std::nullopt},
      {"[{\"a\":1}]", "a", std::nullopt},
      {"\"a\"", "a", std::nullopt},
      {"{\"\\u0061\":5}", "a", "5"},
      {"{\"a\\u0000b\":5}", std::string_view("a\0b", 3), "5"},
      {"{\"a\\u0000b\":5}", "a", std::nullopt},
      {"{\"a\":1,\"a\":18446744073709551616}", "a", "1.8446744073709552e+19"},
  };
  LineParser parser;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    std::optional<Element> value = parser.parse(c.line);
    ASSERT_TRUE(value.has_value());
    std::optional<Element> found = member(*value, c.key);
    ASSERT_EQ(found.has_value(), c.value.has_value());
    if (found) {
      EXPECT_EQ(compact(*found), *c.value);
    }
  }
}

TEST(JsonReaderTest, TypedAccessorsAcceptOnlyTheirType) {
  struct Case {
    std::string_view line;
    std::optional<std::string_view> string;
    bool is_true;
    std::optional<uint64_t> non_negative;
    bool number;
  };
  const Case cases[] = {
      {"\"x\"", "x", false, std::nullopt, false},
      {"\"\"", "", false, std::nullopt, false},
      {"\"true\"", "true", false, std::nullopt, false},
      {"true", std::nullopt, true, std::nullopt, false},
      {"false", std::nullopt, false, std::nullopt, false},
      {"1", std::nullopt, false, 1, true},
      {"-1", std::nullopt, false, std::nullopt, true},
      {"1.0", std::nullopt, false, std::nullopt, true},
      {"null", std::nullopt, false, std::nullopt, false},
      {"[1]", std::nullopt, false, std::nullopt, false},
      {"{\"s\":\"x\"}", std::nullopt, false, std::nullopt, false},
  };
  LineParser parser;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    std::optional<Element> value = parser.parse(c.line);
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(as_string(*value), c.string);
    EXPECT_EQ(is_true(*value), c.is_true);
    EXPECT_EQ(non_negative_integer(*value), c.non_negative);
    EXPECT_EQ(as_number(*value).has_value(), c.number);
  }
  std::optional<Element> object = parser.parse("{\"s\":\"x\",\"n\":1,\"s\":\"y\"}");
  ASSERT_TRUE(object.has_value());
  EXPECT_EQ(string_member(*object, "s"), "y");
  EXPECT_EQ(string_member(*object, "n"), std::nullopt);
  EXPECT_EQ(string_member(*object, "z"), std::nullopt);
}

TEST(JsonReaderTest, CompactMatchesNlohmannOnHandPickedValues) {
  const std::string_view lines[] = {
      "{\"b\":1,\"a\":2,\"B\":3,\"\":4,\"aa\":5,\"a\":6}",
      "{\"\xC3\xA9\":1,\"z\":2,\"\xE2\x82\xAC\":3,\"\xF0\x9F\x98\x80\":4,\"~\":5}",
      "\"\\\" \\\\ \\/ \\b \\f \\n \\r \\t \\u0000 \\u0001 \\u001f \\u007f \\u0080\"",
      "\"\\u00e9\\u20ac\\ud83d\\ude00 raw \xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\"",
      "\"\x7F DEL stays raw\"",
      "[[],{},[{}],{\"a\":[]},\"\",0,-0,0.0,-0.0]",
      "{\"n\":[1.5,-2.25e-10,3e300,1e16,1e15,123456789.123456789,0.1,0.3]}",
      "{\"outer\":{\"z\":{\"y\":1,\"x\":2},\"a\":null},\"list\":[true,false,null]}",
      "[18446744073709551616, -18446744073709551617, 1e308]",
      "{\"dup\":{\"x\":1},\"dup\":{\"y\":2,\"y\":3}}",
  };
  LineParser parser;
  for (std::string_view line : lines) {
    SCOPED_TRACE(line);
    std::optional<Element> value = parser.parse(line);
    ASSERT_TRUE(value.has_value());
    std::optional<std::string> expected = reference_dump(line);
    ASSERT_TRUE(expected.has_value());
    EXPECT_EQ(compact(*value), *expected);
    EXPECT_EQ(compact_size(*value), expected->size());
    std::string appended = "prefix";
    append_compact(*value, &appended);
    EXPECT_EQ(appended, "prefix" + *expected);
  }
}

// Random JSON texts: nested values with duplicate keys, escapes, control
// characters, non-ASCII text and numbers of every form, written with random
// white space.
class JsonGenerator {
 public:
  explicit JsonGenerator(uint32_t seed) : random_(seed) {}

  std::string value(int depth) {
    std::string text;
    write_value(depth, &text);
    return text;
  }

 private:
  int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }

  void space(std::string* out) {
    static const char* kSpaces[] = {"", "", "", " ", "\t", "  ", "\r", " \n "};
    *out += kSpaces[pick(8)];
  }

  void write_value(int depth, std::string* out) {
    space(out);
    int kind = pick(depth > 0 ? 8 : 5);
    switch (kind) {
      case 0: write_string(out); break;
      case 1: write_number(out); break;
      case 2: *out += pick(2) ? "true" : "false"; break;
      case 3: *out += "null"; break;
      case 4: write_string(out); break;
      case 5:
      case 6: write_object(depth - 1, out); break;
      default: write_array(depth - 1, out); break;
    }
    space(out);
  }

  void write_object(int depth, std::string* out) {
    static const char* kKeys[] = {"a", "b", "A", "", "ab", "type", "\\u00e9",
                                  "\xC3\xA9", "\\n", "k\\u0000", "\xF0\x9F\x98\x80", "Z"};
    *out += "{";
    int count = pick(6);
    for (int i = 0; i < count; ++i) {
      if (i) *out += ",";
      space(out);
      *out += "\"";
      *out += kKeys[pick(12)];
      *out += "\"";
      space(out);
      *out += ":";
      write_value(depth, out);
    }
    space(out);
    *out += "}";
  }

  void write_array(int depth, std::string* out) {
    *out += "[";
    int count = pick(5);
    for (int i = 0; i < count; ++i) {
      if (i) *out += ",";
      write_value(depth, out);
    }
    space(out);
    *out += "]";
  }

  void write_string(std::string* out) {
    static const char* kPieces[] = {
        "a", "Hello", " ", "\\\"", "\\\\", "\\/", "\\b", "\\f", "\\n", "\\r",
        "\\t", "\\u0000", "\\u0007", "\\u001F", "\\u001f", "\\u0020", "\\u007F",
        "\\u00e9", "\\u20AC", "\\uD83D\\uDE00", "\\ud834\\udd1e", "\xC3\xA9",
        "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\x7F", "<tag>", "'", "\xE2\x80\xA8"};
    *out += "\"";
    int count = pick(8);
    for (int i = 0; i < count; ++i) *out += kPieces[pick(28)];
    *out += "\"";
  }

  void write_number(std::string* out) {
    switch (pick(7)) {
      case 0:
        *out += std::to_string(std::uniform_int_distribution<int64_t>(
            INT64_MIN, INT64_MAX)(random_));
        break;
      case 1:
        *out += std::to_string(std::uniform_int_distribution<uint64_t>(
            0, UINT64_MAX)(random_));
        break;
      case 2:
        *out += std::to_string(pick(1000) - 500);
        break;
      case 3: {  // integers beyond 64 bits
        *out += pick(2) ? "-" : "";
        *out += std::to_string(1 + pick(9));
        for (int i = 0, n = 19 + pick(20); i < n; ++i) *out += char('0' + pick(10));
        break;
      }
      case 4: {  // decimals with exponents, some tiny or huge
        *out += pick(2) ? "-" : "";
        *out += std::to_string(pick(100000));
        if (pick(2)) *out += "." + std::to_string(pick(1000000));
        static const char* kExponents[] = {"", "e5", "E-5", "e+20", "e-300", "e300",
                                           "e-320", "e16", "e-7", "E0", "e15"};
        *out += kExponents[pick(11)];
        break;
      }
      case 5:
        *out += pick(2) ? "-0" : "-0.0";
        break;
      default: {
        static const char* kFixed[] = {"0.1", "0.5", "1e21", "1.0", "2.5e-5",
                                       "18446744073709551615", "18446744073709551616",
                                       "9223372036854775807", "-9223372036854775808",
                                       "-9223372036854775809", "1e-400"};
        *out += kFixed[pick(11)];
      }
    }
  }

  std::mt19937 random_;
};

TEST(JsonReaderTest, CompactMatchesNlohmannOnRandomValues) {
  JsonGenerator generator(20240611);
  LineParser parser;
  for (int i = 0; i < 3000; ++i) {
    std::string line = generator.value(1 + i % 6);
    SCOPED_TRACE(line);
    std::optional<std::string> expected = reference_dump(line);
    ASSERT_TRUE(expected.has_value());
    std::optional<Element> value = parser.parse(line);
    ASSERT_TRUE(value.has_value());
    ASSERT_EQ(compact(*value), *expected);
    ASSERT_EQ(compact_size(*value), expected->size());
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
    int edits = 1 + static_cast<int>(random() % 3);
    for (int e = 0; e < edits && !line.empty(); ++e) {
      size_t at = random() % line.size();
      switch (random() % 3) {
        case 0: line.erase(at, 1); break;
        case 1: line.insert(at, 1, kNoise[random() % (sizeof kNoise - 1)]); break;
        default: line[at] = kNoise[random() % (sizeof kNoise - 1)]; break;
      }
    }
    SCOPED_TRACE(line);
    std::optional<std::string> expected = reference_dump(line);
    ASSERT_EQ(reader_compact(parser, line), expected);
    if (expected) ++accepted;
  }
  // The damage leaves a fair share valid, so both paths are exercised.
  EXPECT_GT(accepted, 200);
}

TEST(JsonReaderTest, PaddedParseReadsTheSameAsCopyingParse) {
  JsonGenerator generator(3);
  LineParser copying;
  LineParser in_place;
  for (int i = 0; i < 200; ++i) {
    std::string line = generator.value(3);
    std::string buffer = line + std::string(simdjson::SIMDJSON_PADDING, 'x');
    std::optional<Element> a = copying.parse(line);
    std::optional<Element> b = in_place.parse_padded(std::string_view(buffer.data(), line.size()));
    ASSERT_TRUE(a && b);
    EXPECT_EQ(compact(*a), compact(*b));
  }
}

TEST(JsonReaderTest, LongStringsAreSizedWithoutBuildingThem) {
  // A tool result of several MB with characters that need escaping.
  std::string text;
  for (int i = 0; i < 40000; ++i) {
    text += "line \\\"quoted\\\" \\t \\\\ \xC3\xA9 \\u0001 \\n";
  }
  std::string line = "{\"content\":\"" + text + "\",\"is_error\":false}";
  LineParser parser;
  std::optional<Element> value = parser.parse(line);
  ASSERT_TRUE(value.has_value());
  std::optional<std::string> expected = reference_dump(line);
  ASSERT_TRUE(expected.has_value());
  EXPECT_EQ(compact_size(*value), expected->size());
  EXPECT_EQ(compact(*value), *expected);
  // The parser still reads short lines after the long one.
  std::optional<Element> small = parser.parse("{\"a\":[1,2]}");
  ASSERT_TRUE(small.has_value());
  EXPECT_EQ(compact(*small), "{\"a\":[1,2]}");
}

}  // namespace
}  // namespace lorebox::json
