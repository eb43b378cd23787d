#include "scan/json_lines.h"

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <simdjson.h>

namespace lorebox::json {
namespace {

using Lines = std::vector<std::string>;

// Serves a string in reads of at most `piece` bytes.
class StringSource : public ByteSource {
 public:
  StringSource(std::string data, size_t piece) : data_(std::move(data)), piece_(piece) {}
  ptrdiff_t read(char* buffer, size_t size) override {
    size_t count = std::min({size, data_.size() - pos_, piece_});
    std::memcpy(buffer, data_.data() + pos_, count);
    pos_ += count;
    return static_cast<ptrdiff_t>(count);
  }

 private:
  std::string data_;
  size_t piece_;
  size_t pos_ = 0;
};

Lines plain_lines(const std::string& data) {
  LineReader reader(std::make_unique<StringSource>(data, SIZE_MAX));
  Lines lines;
  std::string_view line;
  while (reader.next(&line)) lines.emplace_back(line);
  return lines;
}

enum class Policy { ParseAll, ParseNone, ParseOdd };

// The lines JsonLines hands out when the caller parses as `policy` says,
// and the lines that parsed.
struct Seen {
  Lines lines;
  Lines parsed;
};

Seen json_lines(const std::string& data, Policy policy, size_t piece) {
  LineReader reader(std::make_unique<StringSource>(data, piece), 64);
  LineParser parser;
  JsonLines lines(reader, parser);
  Seen seen;
  std::string_view line;
  while (lines.next(&line)) {
    seen.lines.emplace_back(line);
    bool parse = policy == Policy::ParseAll ||
                 (policy == Policy::ParseOdd && seen.lines.size() % 2 == 1);
    if (parse && lines.parse()) seen.parsed.emplace_back(line);
  }
  return seen;
}

std::string deep(int levels, std::string_view inner) {
  return std::string(levels, '[') + std::string(inner) + std::string(levels, ']');
}

TEST(JsonLinesTest, EndsAtTheFirstLineThatIsNotUtf8WhateverIsParsed) {
  const std::string bad = "\xFF";
  const std::string cases[] = {
      "{\"a\":1}\n{\"b\":2}\n",
      "{\"a\":1}\n{\"s\":\"x" + bad + "\"}\n{\"b\":2}\n",  // in a string
      "{\"a\":1}\n{\"k" + bad + "\":1}\n{\"b\":2}\n",      // in a key
      "{\"a\":1}\n{\"b\":2} " + bad + "\n{\"c\":3}\n",     // after the value
      "{\"a\":1}\nnot json " + bad + "\n{\"c\":3}\n",      // not JSON at all
      "{\"a\":1}\n{\"n\":123456789012345678901234567890,\"s\":\"" + bad + "\"}\n{}\n",
      "{\"n\":123456789012345678901234567890}" + bad + "\n{}\n",  // past a big number
      "[1]\n" + deep(128, "1") + bad + "\n[2]\n",                 // depth retry
      "[1]\n" + deep(129, "\"" + bad + "\"") + "\n[2]\n",         // too deep
      "\xEF\xBB\xBF{\"bom\":1}\n\xEF\xBB\xBF{\"bom\":\"" + bad + "\"}\n{}\n",
      "{\"a\":1}\n{\"cut\":\"\xE2\x82\"}\n{}\n",  // cut character
      "{\"a\":1}\n{\"last\":\"" + bad + "\"}",    // no final LF
      "\xED\xA0\x80\n{}\n",                       // surrogate
  };
  for (const std::string& data : cases) {
    const Lines expected = plain_lines(data);
    for (Policy policy : {Policy::ParseAll, Policy::ParseNone, Policy::ParseOdd}) {
      for (size_t piece : {size_t{1}, size_t{7}, SIZE_MAX}) {
        SCOPED_TRACE(testing::Message() << data << " policy " << static_cast<int>(policy)
                                        << " piece " << piece);
        const Seen seen = json_lines(data, policy, piece);
        // The lines of LineReader::next, and perhaps the bad line after
        // them, which never parses and so can change nothing.
        ASSERT_GE(seen.lines.size(), expected.size());
        ASSERT_LE(seen.lines.size(), expected.size() + 1);
        EXPECT_EQ(Lines(seen.lines.begin(), seen.lines.begin() + expected.size()),
                  expected);
        for (const std::string& line : seen.parsed)
          EXPECT_TRUE(simdjson::validate_utf8(line.data(), line.size())) << line;
        if (seen.lines.size() > expected.size()) {
          const std::string& extra = seen.lines.back();
          EXPECT_FALSE(simdjson::validate_utf8(extra.data(), extra.size()));
          EXPECT_TRUE(seen.parsed.empty() || seen.parsed.back() != extra);
        }
      }
    }
  }
}

// The deferred check rests on this: whatever a line holds, it parses only
// when it is valid UTF-8. Random damage to valid lines, including bytes that
// start, continue or cut multi-byte sequences, must never produce a parsed
// line that is not valid UTF-8, on the simdjson path or the fallback path.
TEST(JsonLinesTest, ALineThatParsesIsValidUtf8) {
  const std::string seeds[] = {
      R"({"type":"user","message":{"content":[{"type":"text","text":"caf\u00e9 é"}]}})",
      R"({"n":123456789012345678901234567890,"s":"text","a":[1,2.5,-3e7]})",
      R"(["x",{"k":"v"},null,true,false,1e308])",
      deep(127, "{\"a\":\"b\"}"),  // 128 levels: parsed on the retry
      "\"plain string\"",
      "-12345.5e3",
  };
  const unsigned char damage[] = {0x80, 0xBF, 0xC0, 0xC3, 0xE2,
                                  0xED, 0xF0, 0xF4, 0xF8, 0xFF};
  std::mt19937 random(11);
  LineParser parser;
  int parsed = 0;
  for (int round = 0; round < 20000; ++round) {
    std::string line = seeds[random() % std::size(seeds)];
    for (int hits = 1 + random() % 2; hits > 0; --hits) {
      const char byte = static_cast<char>(damage[random() % std::size(damage)]);
      line.insert(random() % (line.size() + 1), 1, byte);
    }
    std::string padded = line + std::string(simdjson::SIMDJSON_PADDING, '\0');
    if (!parser.parse_padded(std::string_view(padded.data(), line.size()))) continue;
    ++parsed;  // counted so the loop is known to reach the check
    EXPECT_TRUE(simdjson::validate_utf8(line.data(), line.size())) << line;
  }
  // Two inserted bytes can form a valid character, so a few damaged lines
  // do parse; they must be the valid ones.
  EXPECT_GT(parsed, 0);
  for (const std::string& seed : seeds) {
    std::string padded = seed + std::string(simdjson::SIMDJSON_PADDING, '\0');
    EXPECT_TRUE(parser.parse_padded(std::string_view(padded.data(), seed.size())))
        << seed;
  }
}

}  // namespace
}  // namespace lorebox::json
