#include "archive/json_writer.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <functional>
#include <limits>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <vector>

#include "time/time_text.h"

namespace lorebox {
namespace {

std::string written(const std::function<void(JsonWriter&)>& emit,
                    JsonLayout layout = JsonLayout::Compact) {
  StringSink sink;
  JsonWriter out(&sink, layout);
  emit(out);
  EXPECT_TRUE(out.flush().has_value());
  return sink.text();
}

std::string time_json(double value) {
  return written([&](JsonWriter& out) { out.time_value(value); });
}

TEST(JsonWriterTest, EscapesExactlyTheStandardSet) {
  const std::pair<std::string, std::string> cases[] = {
      {"say \"hi\" \\ /", R"("say \"hi\" \\ /")"},
      {"\b\t\n\f\r", R"("\b\t\n\f\r")"},
      {std::string("\0\x01\x0b\x1f", 4), R"("\u0000\u0001\u000b\u001f")"},
      {"\x7f caf\xC3\xA9 \xF0\x9F\x98\x80", "\"\x7f caf\xC3\xA9 \xF0\x9F\x98\x80\""},
      {"", "\"\""},
  };
  for (const auto& [input, expected] : cases) {
    const std::string text = written([&](JsonWriter& out) { out.string_value(input); });
    EXPECT_EQ(text, expected);
    EXPECT_EQ(nlohmann::json::parse(text).get<std::string>(), input);
  }
}

TEST(JsonWriterTest, EscapesEveryByteAtEveryOffsetLikeNlohmann) {
  // Each character below 0x80, and a two-byte one, alone in a run of plain
  // text, at every offset of strings that span several eight-byte words.
  std::vector<std::string> characters = {"\xC3\xA9"};
  for (int c = 0; c < 0x80; ++c) characters.push_back(std::string(1, char(c)));
  for (size_t length : {1, 7, 8, 9, 17, 30}) {
    for (size_t at = 0; at < length; ++at) {
      for (const std::string& character : characters) {
        std::string input;
        for (size_t i = 0; i < length; ++i) input += i == at ? character : "x";
        const std::string text =
            written([&](JsonWriter& out) { out.string_value(input); });
        ASSERT_EQ(text, nlohmann::json(input).dump()) << length << " " << at;
      }
    }
  }
  // Escaped strings that end just before, at and past the end of an output
  // block, and strings longer than a block.
  nlohmann::json strings = nlohmann::json::array();
  for (size_t length : {JsonWriter::kBlockSize - 7, size_t{3}, size_t{2},
                        JsonWriter::kBlockSize + 5, size_t{100}})
    strings.push_back(std::string(length / 2, 'a') + "\n" + std::string(length / 2, '"'));
  const std::string text = written([&](JsonWriter& out) {
    out.begin_array();
    for (const auto& s : strings) out.string_value(s.get<std::string>());
    out.end_array();
  });
  EXPECT_EQ(text, strings.dump());
}

TEST(JsonWriterTest, TimesAreShortestWithAFraction) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const std::pair<double, std::string> cases[] = {
      {1760000042.0, "1760000042.0"},
      {1760000000.25, "1760000000.25"},
      {1620235238.897349, "1620235238.897349"},  // nlohmann adds a digit here
      {0.1, "0.1"},
      {1e-4, "0.0001"},
      {1760000000123.5, "1760000000123.5"},  // milliseconds taken as seconds
      {1e15, "1000000000000000.0"},
      {-1760000000.5, "-1760000000.5"},
      {0.0, "0.0"},
      {-0.0, "-0.0"},
      {1e16, "1e+16"},
      {1.5e-7, "1.5e-07"},
      {nan, "null"},
      {inf, "null"},
      {-inf, "null"},
  };
  for (const auto& [value, expected] : cases) {
    const std::string text = time_json(value);
    EXPECT_EQ(text, expected);
    EXPECT_EQ(time_text(value), expected);
    const nlohmann::json parsed = nlohmann::json::parse(text);
    if (!std::isfinite(value)) {
      EXPECT_TRUE(parsed.is_null());
      continue;
    }
    ASSERT_TRUE(parsed.is_number_float()) << text;
    EXPECT_EQ(std::bit_cast<uint64_t>(parsed.get<double>()),
              std::bit_cast<uint64_t>(value));
  }
}

TEST(JsonWriterTest, RandomTimesRoundTripAndStayPlainInTimeRange) {
  std::mt19937_64 random(20250601);
  for (int i = 0; i < 20000; ++i) {
    // Half plausible magnitudes (1e-4 .. 1e15), half arbitrary bit patterns.
    const double value =
        i % 2 == 0
            ? std::pow(10.0, std::uniform_real_distribution<double>(-4.0, 14.9)(random))
            : std::bit_cast<double>(random());
    if (!std::isfinite(value)) continue;
    const std::string text = time_json(value);
    EXPECT_EQ(std::bit_cast<uint64_t>(nlohmann::json::parse(text).get<double>()),
              std::bit_cast<uint64_t>(value))
        << text;
    if (i % 2 == 0) {
      EXPECT_EQ(text.find('e'), std::string::npos) << text;
      // nlohmann round-trips too but is not always shortest: never shorter.
      EXPECT_LE(text.size(), nlohmann::json(value).dump().size()) << text;
    }
  }
}

// Every value kind and container, compared with nlohmann's serialisation.
void write_sample(JsonWriter& out) {
  out.begin_object();
  out.key("s");
  out.string_value("x\ty");
  out.key("empty_array");
  out.begin_array();
  out.end_array();
  out.key("empty_object");
  out.begin_object();
  out.end_object();
  out.key("list");
  out.begin_array();
  out.uint_value(UINT64_MAX);
  out.begin_object();
  out.key("deep");
  out.begin_array();
  out.bool_value(true);
  out.bool_value(false);
  out.null_value();
  out.end_array();
  out.end_object();
  out.int_value(INT64_MIN);
  out.end_array();
  out.key("t");
  out.time_value(1.5);
  out.end_object();
}

TEST(JsonWriterTest, LayoutsMatchTheOracle) {
  const std::string compact = written(write_sample, JsonLayout::Compact);
  const nlohmann::ordered_json parsed = nlohmann::ordered_json::parse(compact);
  EXPECT_EQ(compact, parsed.dump());
  EXPECT_EQ(written(write_sample, JsonLayout::Pretty), parsed.dump(2));
}

// Takes `budget` bytes, then fails; records the size of every write.
class FailingSink : public Sink {
 public:
  explicit FailingSink(size_t budget) : budget_(budget) {}
  Result<void> write(std::string_view bytes) override {
    sizes.push_back(bytes.size());
    if (bytes.size() > budget_) return Fail("full after " + std::to_string(sizes.size()));
    budget_ -= bytes.size();
    return {};
  }
  std::vector<size_t> sizes;

 private:
  size_t budget_;
};

TEST(JsonWriterTest, WritesFullBlocksAndKeepsTheFirstFailure) {
  FailingSink sink(2 * JsonWriter::kBlockSize);
  JsonWriter out(&sink, JsonLayout::Compact);
  out.begin_array();
  for (int i = 0; i < 1000; ++i) out.string_value(std::string(1000, 'a'));
  out.end_array();
  EXPECT_FALSE(out.ok());
  Result<void> result = out.flush();
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error(), "full after 3");
  // Nothing reaches the sink after the failure.
  EXPECT_EQ(sink.sizes, std::vector<size_t>(3, JsonWriter::kBlockSize));
}

}  // namespace
}  // namespace lorebox
