#include "archive/json_writer.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <nlohmann/json.hpp>
#include <random>
#include <string>

namespace lorebox {
namespace {

// Writes one value with `emit` and returns the text.
std::string written(const std::function<void(JsonWriter&)>& emit,
                    JsonLayout layout = JsonLayout::Compact) {
  StringSink sink;
  JsonWriter out(&sink, layout);
  emit(out);
  EXPECT_TRUE(out.flush().has_value());
  return sink.text();
}

std::string string_json(std::string_view text) {
  return written([&](JsonWriter& out) { out.string_value(text); });
}

std::string time_json(double value) {
  return written([&](JsonWriter& out) { out.time_value(value); });
}

struct EscapeCase {
  std::string input;
  std::string expected;
};

TEST(JsonWriterTest, EscapesExactlyTheStandardSet) {
  const EscapeCase cases[] = {
      {"plain", "\"plain\""},
      {"say \"hi\"", R"("say \"hi\"")"},
      {"back\\slash", R"("back\\slash")"},
      {"\b\t\n\f\r", R"("\b\t\n\f\r")"},
      {std::string("\0", 1), R"("\u0000")"},
      {"\x01", R"("\u0001")"},
      {"\x0b", R"("\u000b")"},
      {"\x1f", R"("\u001f")"},
      {"\x7f", "\"\x7f\""},
      {"a/b", "\"a/b\""},
      {"caf\xC3\xA9 \xF0\x9F\x98\x80", "\"caf\xC3\xA9 \xF0\x9F\x98\x80\""},
      {"", "\"\""},
  };
  for (const EscapeCase& c : cases) {
    const std::string text = string_json(c.input);
    EXPECT_EQ(text, c.expected) << "input: " << nlohmann::json(c.input).dump();
    // An independent parser reads back the original bytes.
    EXPECT_EQ(nlohmann::json::parse(text).get<std::string>(), c.input);
  }
}

TEST(JsonWriterTest, EveryByteBelowSpaceRoundTrips) {
  std::string all;
  for (int c = 0; c < 0x80; ++c) all += static_cast<char>(c);
  const std::string text = string_json(all);
  EXPECT_EQ(nlohmann::json::parse(text).get<std::string>(), all);
  // nlohmann escapes the same set in the same (lowercase) form.
  EXPECT_EQ(text, nlohmann::json(all).dump());
}

struct TimeCase {
  double value;
  std::string expected;
};

TEST(JsonWriterTest, TimesAreShortestWithAFraction) {
  const TimeCase cases[] = {
      {1760000042.0, "1760000042.0"},
      {1760000000.25, "1760000000.25"},
      {1620235238.897349, "1620235238.897349"},
      {0.1, "0.1"},
      {1e-4, "0.0001"},
      {1.5e-4, "0.00015"},
      {1760000000123.0, "1760000000123.0"},  // milliseconds taken as seconds
      {1760000000123.5, "1760000000123.5"},
      {1e15, "1000000000000000.0"},
      {-1760000000.5, "-1760000000.5"},
      {0.0, "0.0"},
      {-0.0, "-0.0"},
      {1e16, "1e+16"},
      {1.5e-7, "1.5e-07"},
      {std::numeric_limits<double>::quiet_NaN(), "null"},
      {std::numeric_limits<double>::infinity(), "null"},
      {-std::numeric_limits<double>::infinity(), "null"},
  };
  for (const TimeCase& c : cases) {
    const std::string text = time_json(c.value);
    EXPECT_EQ(text, c.expected) << "value " << c.value;
    EXPECT_EQ(time_text(c.value), text);
    const nlohmann::json parsed = nlohmann::json::parse(text);
    if (std::isfinite(c.value)) {
      ASSERT_TRUE(parsed.is_number_float()) << text;
      EXPECT_EQ(std::bit_cast<uint64_t>(parsed.get<double>()),
                std::bit_cast<uint64_t>(c.value))
          << text;
    } else {
      EXPECT_TRUE(parsed.is_null());
    }
  }
}

TEST(JsonWriterTest, RandomTimesRoundTripInPlainFormAndAreNeverLongerThanOracle) {
  std::mt19937_64 random(20250601);
  std::uniform_real_distribution<double> exponent(-4.0, 15.0);
  for (int i = 0; i < 20000; ++i) {
    double value = std::pow(10.0, exponent(random));
    if (value < 1e-4 || value > 1e15) continue;
    if (i % 2 == 1) value = -value;
    const std::string text = time_json(value);
    EXPECT_EQ(text.find('e'), std::string::npos) << text;
    EXPECT_NE(text.find('.'), std::string::npos) << text;
    EXPECT_EQ(nlohmann::json::parse(text).get<double>(), value) << text;
    // nlohmann's own output is a correct round trip but not always the
    // shortest, so ours may be shorter, never longer, in digits.
    const std::string oracle = nlohmann::json(value).dump();
    if (oracle.find('e') == std::string::npos) {
      EXPECT_LE(text.size(), oracle.size()) << text << " vs " << oracle;
    }
  }
  // Arbitrary bit patterns, any magnitude.
  for (int i = 0; i < 20000; ++i) {
    const double value = std::bit_cast<double>(random());
    if (!std::isfinite(value)) continue;
    const std::string text = time_json(value);
    EXPECT_EQ(std::bit_cast<uint64_t>(nlohmann::json::parse(text).get<double>()),
              std::bit_cast<uint64_t>(value))
        << text;
  }
}

struct IntegerCase {
  int64_t signed_value;
  uint64_t unsigned_value;
  std::string signed_text;
  std::string unsigned_text;
};

TEST(JsonWriterTest, IntegersArePlainDecimal) {
  const IntegerCase cases[] = {
      {0, 0, "0", "0"},
      {-1, 1, "-1", "1"},
      {INT64_MIN, UINT64_MAX, "-9223372036854775808", "18446744073709551615"},
      {INT64_MAX, 40960, "9223372036854775807", "40960"},
  };
  for (const IntegerCase& c : cases) {
    EXPECT_EQ(written([&](JsonWriter& out) { out.int_value(c.signed_value); }),
              c.signed_text);
    EXPECT_EQ(written([&](JsonWriter& out) { out.uint_value(c.unsigned_value); }),
              c.unsigned_text);
  }
}

// A document touching every kind of value and container, written in both
// layouts and compared with nlohmann's own serialisation of it.
void write_sample(JsonWriter& out) {
  out.begin_object();
  out.key("name");
  out.string_value("x\ty");
  out.key("empty_array");
  out.begin_array();
  out.end_array();
  out.key("empty_object");
  out.begin_object();
  out.end_object();
  out.key("list");
  out.begin_array();
  out.uint_value(1);
  out.begin_object();
  out.key("deep");
  out.begin_array();
  out.bool_value(true);
  out.bool_value(false);
  out.null_value();
  out.end_array();
  out.end_object();
  out.int_value(-3);
  out.end_array();
  out.key("last");
  out.time_value(1.5);
  out.end_object();
}

TEST(JsonWriterTest, LayoutsMatchTheOracle) {
  const std::string compact = written(write_sample, JsonLayout::Compact);
  const std::string pretty = written(write_sample, JsonLayout::Pretty);
  const nlohmann::ordered_json parsed = nlohmann::ordered_json::parse(compact);
  EXPECT_EQ(compact, parsed.dump());
  EXPECT_EQ(pretty, parsed.dump(2));
  EXPECT_EQ(pretty.back(), '}');
}

// Accepts `budget` bytes, then fails every write.
class FailingSink : public Sink {
 public:
  explicit FailingSink(size_t budget) : budget_(budget) {}
  Result<void> write(std::string_view bytes) override {
    ++calls_;
    if (bytes.size() > budget_) return Fail("disk full " + std::to_string(calls_));
    budget_ -= bytes.size();
    accepted_ += bytes.size();
    return {};
  }
  int calls_ = 0;
  size_t accepted_ = 0;

 private:
  size_t budget_;
};

TEST(JsonWriterTest, KeepsTheFirstFailureAndStopsWriting) {
  FailingSink sink(JsonWriter::kBlockSize);
  JsonWriter out(&sink, JsonLayout::Compact);
  const std::string chunk(1000, 'a');
  out.begin_array();
  for (int i = 0; i < 1000; ++i) out.string_value(chunk);
  out.end_array();
  EXPECT_FALSE(out.ok());
  Result<void> result = out.flush();
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error(), "disk full 2");
  EXPECT_EQ(sink.calls_, 2);
  EXPECT_EQ(sink.accepted_, JsonWriter::kBlockSize);
}

// Records the size of every write.
class BlockSink : public StringSink {
 public:
  Result<void> write(std::string_view bytes) override {
    sizes.push_back(bytes.size());
    return StringSink::write(bytes);
  }
  std::vector<size_t> sizes;
};

TEST(JsonWriterTest, FeedsTheSinkInFullBlocks) {
  BlockSink sink;
  JsonWriter out(&sink, JsonLayout::Compact);
  const std::string text(3 * JsonWriter::kBlockSize + 17, 'q');
  out.string_value(text);
  ASSERT_TRUE(out.flush().has_value());
  ASSERT_EQ(sink.sizes.size(), 4u);
  for (size_t i = 0; i + 1 < sink.sizes.size(); ++i)
    EXPECT_EQ(sink.sizes[i], JsonWriter::kBlockSize);
  EXPECT_EQ(sink.text(), "\"" + text + "\"");
}

}  // namespace
}  // namespace lorebox
