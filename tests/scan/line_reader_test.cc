#include "scan/line_reader.h"

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <zstd.h>

#include "json/line_parser.h"
#include "json/value.h"

namespace lorebox {
namespace {

using Lines = std::vector<std::string>;

// Serves a string in pieces of the given sizes (cycled), then the end or,
// with `fail_at_end`, an error.
class StringSource : public ByteSource {
 public:
  StringSource(std::string data, std::vector<size_t> pieces, bool fail_at_end = false)
      : data_(std::move(data)), pieces_(std::move(pieces)), fail_at_end_(fail_at_end) {}

  ptrdiff_t read(char* buffer, size_t size) override {
    if (pos_ == data_.size()) return fail_at_end_ ? -1 : 0;
    size_t count =
        std::min({size, data_.size() - pos_, pieces_[next_++ % pieces_.size()]});
    std::memcpy(buffer, data_.data() + pos_, count);
    pos_ += count;
    return static_cast<ptrdiff_t>(count);
  }

 private:
  std::string data_;
  std::vector<size_t> pieces_;
  bool fail_at_end_;
  size_t pos_ = 0;
  size_t next_ = 0;
};

struct Read {
  Lines lines;
  bool stopped_early = false;
  bool read_failed = false;
  uint64_t bytes = 0;
};

Read read_all(LineReader& reader) {
  Read read;
  std::string_view line;
  while (reader.next(&line)) read.lines.emplace_back(line);
  read.stopped_early = reader.stopped_early();
  read.read_failed = reader.read_failed();
  read.bytes = reader.bytes_read();
  return read;
}

Read read_string(const std::string& data, size_t buffer_size, std::vector<size_t> pieces,
                 bool fail_at_end = false) {
  LineReader reader(std::make_unique<StringSource>(data, std::move(pieces), fail_at_end),
                    buffer_size);
  return read_all(reader);
}

// Neither the buffer size nor how reads are split may change what is read.
const size_t kBufferSizes[] = {1, 3, 64, 8192, LineReader::kDefaultBufferSize};
const std::vector<size_t> kPieces[] = {{SIZE_MAX}, {1}, {3, 1, 7}, {8192}};

TEST(LineReaderTest, SplitsAtLineFeedsWhateverTheBufferAndReadSizes) {
  struct Case {
    std::string data;
    Lines lines;
    bool stopped_early;
  };
  const Case cases[] = {
      {"", {}, false},
      {"a", {"a"}, false},
      {"a\nb", {"a", "b"}, false},
      {"\n\n", {"", ""}, false},
      {"a\r\nb\r\n", {"a", "b"}, false},
      {"a\r\r\n", {"a\r"}, false},
      {"a\rb\n", {"a\rb"}, false},
      {"last\r", {"last\r"}, false},
      {"caf\xC3\xA9\n\xF0\x9F\x98\x80\n", {"caf\xC3\xA9", "\xF0\x9F\x98\x80"}, false},
      {std::string("nul\0\n", 5), {std::string("nul\0", 4)}, false},
      // Not valid UTF-8: the sequence ends before the bad line.
      {"one\ntwo\n\xFF\nfour\n", {"one", "two"}, true},
      {"one\ntwo\nthr\xC3"
       "ee\nfour\n",
       {"one", "two"},
       true},
      {"one\n\xC0\xAF\n", {"one"}, true},          // overlong
      {"one\n\xED\xA0\x80\n", {"one"}, true},      // surrogate
      {"one\n\xF4\x90\x80\x80\n", {"one"}, true},  // above U+10FFFF
      {"one\nend\xE2\x82", {"one"}, true},         // cut inside a character
  };
  for (const Case& c : cases) {
    for (size_t buffer_size : kBufferSizes) {
      for (const std::vector<size_t>& pieces : kPieces) {
        SCOPED_TRACE(testing::Message() << "\"" << c.data << "\" buffer " << buffer_size
                                        << " piece " << pieces[0]);
        Read read = read_string(c.data, buffer_size, pieces);
        EXPECT_EQ(read.lines, c.lines);
        EXPECT_EQ(read.stopped_early, c.stopped_early);
        EXPECT_FALSE(read.read_failed);  // invalid UTF-8 is not a read error
        if (!c.stopped_early) {
          EXPECT_EQ(read.bytes, c.data.size());
        }
      }
    }
  }
}

// Reads with next_unchecked and confirms each line before keeping it.
Read read_unchecked(const std::string& data, size_t buffer_size,
                    std::vector<size_t> pieces) {
  LineReader reader(std::make_unique<StringSource>(data, std::move(pieces)), buffer_size);
  Read read;
  std::string_view line;
  while (reader.next_unchecked(&line)) {
    const std::string copy(line);
    if (!reader.confirm_utf8()) {
      EXPECT_FALSE(reader.next_unchecked(&line));  // the sequence has ended
      break;
    }
    EXPECT_TRUE(reader.confirm_utf8());  // a second check changes nothing
    read.lines.push_back(copy);
  }
  read.stopped_early = reader.stopped_early();
  read.bytes = reader.bytes_read();
  return read;
}

TEST(LineReaderTest, UncheckedLinesConfirmedOneByOneReadLikeNext) {
  const std::string cases[] = {
      "",
      "a\nb\r\nc",
      "one\ntwo\n\xFF\nfour\n",
      "one\n\xED\xA0\x80\nthree\n",
      "\xC3\n",
      "one\nend\xE2\x82",
      "caf\xC3\xA9\n\xF0\x9F\x98\x80\nlast",
  };
  for (const std::string& data : cases) {
    for (size_t buffer_size : kBufferSizes) {
      for (const std::vector<size_t>& pieces : kPieces) {
        SCOPED_TRACE(testing::Message() << "\"" << data << "\" buffer " << buffer_size
                                        << " piece " << pieces[0]);
        const Read expected = read_string(data, buffer_size, pieces);
        const Read read = read_unchecked(data, buffer_size, pieces);
        EXPECT_EQ(read.lines, expected.lines);
        EXPECT_EQ(read.stopped_early, expected.stopped_early);
        EXPECT_EQ(read.bytes, expected.bytes);
      }
    }
  }
}

TEST(LineReaderTest, AReadErrorKeepsTheCompleteLinesBeforeIt) {
  // {data served before the error, lines, whether the error ended them}
  const std::tuple<std::string, Lines, bool> cases[] = {
      {"", {}, true},    {"a\nb\n", {"a", "b"}, true},   {"a\nparti", {"a"}, true},
      {"a\r", {}, true}, {"a\n\xFF\nb\n", {"a"}, false},  // the bad line ends them first
  };
  for (const auto& [data, lines, failed] : cases) {
    for (size_t buffer_size : kBufferSizes) {
      LineReader reader(
          std::make_unique<StringSource>(data, std::vector<size_t>{2}, true),
          buffer_size);
      Read read = read_all(reader);
      EXPECT_EQ(read.lines, lines) << data;
      EXPECT_TRUE(read.stopped_early);
      EXPECT_EQ(read.read_failed, failed) << data;
      std::string_view line;
      EXPECT_FALSE(reader.next(&line));  // stays at the end
    }
  }
}

TEST(LineReaderTest, WholeStreamIsOneLineUnderTheSameRules) {
  struct Case {
    std::string data;
    Lines lines;
    bool stopped_early;
    bool fail_at_end = false;
  };
  const Case cases[] = {
      {"", {}, false},
      {"{\n  \"a\": 1\r\n}\n", {"{\n  \"a\": 1\r\n}\n"}, false},
      {"\n\n", {"\n\n"}, false},
      // A bad byte anywhere, or a read error, leaves nothing.
      {"{\n\"a\":1}\n\xFF\n", {}, true},
      {"{\"a\":1}\n", {}, true, true},
  };
  for (const Case& c : cases) {
    for (size_t buffer_size : kBufferSizes) {
      SCOPED_TRACE(testing::Message() << "\"" << c.data << "\" buffer " << buffer_size);
      LineReader reader(std::make_unique<StringSource>(
                            c.data, std::vector<size_t>{3, 1, 7}, c.fail_at_end),
                        buffer_size, LineReader::Split::Whole);
      EXPECT_TRUE(reader.whole());
      Read read = read_all(reader);
      EXPECT_EQ(read.lines, c.lines);
      EXPECT_EQ(read.stopped_early, c.stopped_early);
    }
  }
}

TEST(LineReaderTest, RandomTextReadsTheSameWithAnyBuffer) {
  std::mt19937 random(5);
  for (int round = 0; round < 20; ++round) {
    std::string data;
    Lines expected;
    for (int i = 0, n = 1 + random() % 300; i < n; ++i) {
      // Mostly short lines, some of tens of KB (past small buffers).
      size_t length = random() % 10 == 0 ? random() % 40000 : random() % 200;
      std::string line;
      while (line.size() < length) line += random() % 5 == 0 ? "\xC3\xA9" : "x";
      expected.push_back(line);
      data += line + (random() % 4 == 0 ? "\r\n" : "\n");
    }
    data.pop_back();  // the last line ends without "\n" (and keeps a "\r")
    if (data.back() == '\r') expected.back() += '\r';
    EXPECT_EQ(read_string(data, 8192, {SIZE_MAX}).lines, expected);
    EXPECT_EQ(read_string(data, LineReader::kDefaultBufferSize, {4096, 1, 100000}).lines,
              expected);
    EXPECT_EQ(read_string(data, 5, {7}).lines, expected);
  }
}

std::string numbered_lines(int count) {
  std::string data;
  for (int i = 0; i < count; ++i) {
    data += "{\"n\":" + std::to_string(i) + ",\"pad\":\"" + std::string(i % 97, 'p') +
            "\"}\n";
  }
  return data;
}

TEST(LineReaderTest, LinesCanBeParsedInPlace) {
  // Small buffers put many lines right at the end of the buffer, where the
  // padding lies outside the data.
  for (size_t buffer_size : {size_t{1}, size_t{100}, size_t{4096}}) {
    LineReader reader(
        std::make_unique<StringSource>(numbered_lines(2000), std::vector<size_t>{333}),
        buffer_size);
    json::LineParser parser;
    std::string_view line;
    uint64_t count = 0;
    while (reader.next(&line)) {
      std::optional<json::Element> value = parser.parse_padded(line);
      ASSERT_TRUE(value.has_value()) << line;
      EXPECT_EQ(json::non_negative_integer(*json::member(*value, "n")), count++);
    }
    EXPECT_EQ(count, 2000u);
  }
}

std::string compress(const std::string& data, int level = 3) {
  std::string out(ZSTD_compressBound(data.size()), '\0');
  out.resize(ZSTD_compress(out.data(), out.size(), data.data(), data.size(), level));
  return out;
}

Read read_zstd(const std::string& compressed, std::vector<size_t> pieces = {SIZE_MAX}) {
  LineReader reader(
      make_zstd_source(std::make_unique<StringSource>(compressed, std::move(pieces))),
      8192);
  return read_all(reader);
}

TEST(LineReaderTest, CompressedDataReadsLikeThePlainData) {
  std::string plain = numbered_lines(5000);
  Lines expected = read_string(plain, 8192, {SIZE_MAX}).lines;
  const std::string forms[] = {
      compress(plain), compress(plain, 19),
      compress(plain.substr(0, 12345)) + compress(plain.substr(12345)),  // two frames
  };
  for (const std::string& compressed : forms) {
    for (const std::vector<size_t>& pieces : kPieces) {
      Read read = read_zstd(compressed, pieces);
      EXPECT_EQ(read.lines, expected);
      EXPECT_FALSE(read.stopped_early);
    }
  }
  EXPECT_TRUE(read_zstd("").lines.empty());
  EXPECT_FALSE(read_zstd("").stopped_early);
}

TEST(LineReaderTest, DamagedCompressedDataKeepsTheLinesBeforeTheDamage) {
  std::string plain = numbered_lines(3000);
  Lines all = read_string(plain, 8192, {SIZE_MAX}).lines;
  std::string compressed = compress(plain);
  std::string bad_magic = "X" + compressed.substr(1);
  const std::string damaged[] = {compressed.substr(0, 1),
                                 compressed.substr(0, 5),
                                 compressed.substr(0, compressed.size() / 3),
                                 compressed.substr(0, compressed.size() - 1),
                                 bad_magic,
                                 "not zstd at all\n"};
  for (const std::string& data : damaged) {
    Read read = read_zstd(data);
    EXPECT_TRUE(read.stopped_early);
    EXPECT_TRUE(read.read_failed);
    ASSERT_LT(read.lines.size(), all.size());
    EXPECT_EQ(read.lines, Lines(all.begin(), all.begin() + read.lines.size()));
  }
  // A whole frame followed by garbage: all of the frame's lines stand.
  std::string first_part = numbered_lines(100);
  Read read = read_zstd(compress(first_part) + "garbage after the frame");
  EXPECT_TRUE(read.stopped_early);
  EXPECT_EQ(read.lines, read_string(first_part, 8192, {SIZE_MAX}).lines);
}

}  // namespace
}  // namespace lorebox
