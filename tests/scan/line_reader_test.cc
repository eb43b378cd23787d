#include "scan/line_reader.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <zstd.h>

#include "scan/json_reader.h"

namespace lorebox {
namespace {

// Serves a string in pieces of the given sizes (cycled), then the end or,
// with `fail_at_end`, an error.
class StringSource : public ByteSource {
 public:
  StringSource(std::string data, std::vector<size_t> pieces, bool fail_at_end)
      : data_(std::move(data)), pieces_(std::move(pieces)), fail_at_end_(fail_at_end) {}

  ptrdiff_t read(char* buffer, size_t size) override {
    if (pos_ == data_.size()) return fail_at_end_ ? -1 : 0;
    size_t count = std::min({size, data_.size() - pos_, pieces_[next_++ % pieces_.size()]});
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

std::vector<std::string> read_all(LineReader& reader) {
  std::vector<std::string> lines;
  std::string_view line;
  while (reader.next(&line)) lines.emplace_back(line);
  return lines;
}

std::vector<std::string> read_lines(const std::string& data, size_t buffer_size,
                                    std::vector<size_t> pieces = {SIZE_MAX},
                                    bool fail_at_end = false) {
  LineReader reader(std::make_unique<StringSource>(data, std::move(pieces), fail_at_end),
                    buffer_size);
  return read_all(reader);
}

using Lines = std::vector<std::string>;

struct SplitCase {
  std::string data;
  Lines lines;
  bool stopped_early;
};

// Buffer sizes and read splits must not change what is read.
const size_t kBufferSizes[] = {1, 2, 3, 7, 64, 8192, LineReader::kDefaultBufferSize};
const std::vector<size_t> kPieces[] = {{SIZE_MAX}, {1}, {3, 1, 7}, {8192}};

TEST(LineReaderTest, SplitsAtLineFeedsWhateverTheBufferAndReadSizes) {
  const SplitCase cases[] = {
      {"", {}, false},
      {"a", {"a"}, false},
      {"a\n", {"a"}, false},
      {"a\nb", {"a", "b"}, false},
      {"\n", {""}, false},
      {"\n\n", {"", ""}, false},
      {"a\r\nb\r\n", {"a", "b"}, false},
      {"a\r\r\n", {"a\r"}, false},
      {"\r\n", {""}, false},
      {"a\rb\n", {"a\rb"}, false},
      {"last\r", {"last\r"}, false},
      {"{\"a\":1}\n{\"b\":2}", {"{\"a\":1}", "{\"b\":2}"}, false},
      {"caf\xC3\xA9\n\xE2\x82\xAC\xF0\x9F\x98\x80\n", {"caf\xC3\xA9", "\xE2\x82\xAC\xF0\x9F\x98\x80"}, false},
      // Not valid UTF-8: the sequence ends before the bad line.
      {"one\ntwo\n\xFF\nfour\n", {"one", "two"}, true},
      {"one\ntwo\nthr\xC3" "ee\nfour\n", {"one", "two"}, true},
      {"one\n\xC0\xAF\n", {"one"}, true},              // overlong
      {"one\n\xED\xA0\x80\n", {"one"}, true},          // surrogate
      {"one\n\xF4\x90\x80\x80\n", {"one"}, true},      // above U+10FFFF
      {"one\nend\xE2\x82", {"one"}, true},             // cut inside a character
      {"\xFF", {}, true},
      {std::string("nul\0byte\n", 9), {std::string("nul\0byte", 8)}, false},
  };
  for (const SplitCase& c : cases) {
    for (size_t buffer_size : kBufferSizes) {
      for (const std::vector<size_t>& pieces : kPieces) {
        SCOPED_TRACE(testing::Message() << "data \"" << c.data << "\" buffer "
                                        << buffer_size << " first piece " << pieces[0]);
        LineReader reader(std::make_unique<StringSource>(c.data, pieces, false),
                          buffer_size);
        EXPECT_EQ(read_all(reader), c.lines);
        EXPECT_EQ(reader.stopped_early(), c.stopped_early);
        if (!c.stopped_early) {
          EXPECT_EQ(reader.bytes_read(), c.data.size());
        }
      }
    }
  }
}

TEST(LineReaderTest, AReadErrorKeepsTheCompleteLinesBeforeIt) {
  struct Case {
    std::string data;  // served before the error
    Lines lines;
  };
  const Case cases[] = {
      {"", {}},
      {"a\nb\n", {"a", "b"}},
      {"a\nparti", {"a"}},
      {"a\r", {}},
  };
  for (const Case& c : cases) {
    for (size_t buffer_size : kBufferSizes) {
      SCOPED_TRACE(testing::Message() << c.data << " buffer " << buffer_size);
      LineReader reader(std::make_unique<StringSource>(c.data, std::vector<size_t>{2}, true),
                        buffer_size);
      EXPECT_EQ(read_all(reader), c.lines);
      EXPECT_TRUE(reader.stopped_early());
      std::string_view line;
      EXPECT_FALSE(reader.next(&line));  // stays at the end
    }
  }
}

TEST(LineReaderTest, RandomTextReadsTheSameAsAnEightKilobyteBuffer) {
  std::mt19937 random(5);
  for (int round = 0; round < 20; ++round) {
    std::string data;
    Lines expected;
    int count = 1 + static_cast<int>(random() % 300);
    for (int i = 0; i < count; ++i) {
      // Mostly short lines, some of tens of KB, some with multi-byte text.
      size_t length = random() % 10 == 0 ? random() % 40000 : random() % 200;
      std::string line;
      while (line.size() < length) line += random() % 5 == 0 ? "\xC3\xA9" : "x";
      expected.push_back(line);
      data += line;
      data += random() % 4 == 0 ? "\r\n" : "\n";
    }
    if (random() % 2) {
      data.pop_back();  // a last line without its line feed
      if (data.back() == '\r') expected.back() += '\r';
    }
    SCOPED_TRACE(round);
    EXPECT_EQ(read_lines(data, 8192), expected);
    EXPECT_EQ(read_lines(data, LineReader::kDefaultBufferSize, {4096, 1, 100000}), expected);
    EXPECT_EQ(read_lines(data, 5, {7}), expected);
  }
}

TEST(LineReaderTest, AVeryLongLineGrowsTheBuffer) {
  std::string long_line(3 * 1024 * 1024, 'y');
  std::string data = "short\n" + long_line + "\nafter\n";
  EXPECT_EQ(read_lines(data, 8192), (Lines{"short", long_line, "after"}));
}

TEST(LineReaderTest, LinesCanBeParsedInPlace) {
  std::string data;
  for (int i = 0; i < 2000; ++i) {
    data += "{\"n\":" + std::to_string(i) + ",\"s\":\"" + std::string(i % 97, 'z') + "\"}\n";
  }
  // Small buffers put many lines right at the end of the buffer, where the
  // padding is outside the data.
  for (size_t buffer_size : {size_t{1}, size_t{100}, size_t{4096}}) {
    LineReader reader(std::make_unique<StringSource>(data, std::vector<size_t>{333}, false),
                      buffer_size);
    json::LineParser parser;
    std::string_view line;
    int count = 0;
    while (reader.next(&line)) {
      std::optional<json::Element> value = parser.parse_padded(line);
      ASSERT_TRUE(value.has_value()) << line;
      EXPECT_EQ(json::non_negative_integer(*json::member(*value, "n")), uint64_t(count));
      ++count;
    }
    EXPECT_EQ(count, 2000);
  }
}

std::string compress(const std::string& data, int level = 3) {
  std::string out(ZSTD_compressBound(data.size()), '\0');
  size_t size = ZSTD_compress(out.data(), out.size(), data.data(), data.size(), level);
  EXPECT_FALSE(ZSTD_isError(size));
  out.resize(size);
  return out;
}

struct ZstdRead {
  Lines lines;
  bool stopped_early;
};

ZstdRead read_zstd(const std::string& compressed, std::vector<size_t> pieces = {SIZE_MAX}) {
  LineReader reader(make_zstd_source(std::make_unique<StringSource>(
                        compressed, std::move(pieces), false)),
                    8192);
  ZstdRead result;
  result.lines = read_all(reader);
  result.stopped_early = reader.stopped_early();
  return result;
}

std::string numbered_lines(int count) {
  std::string data;
  for (int i = 0; i < count; ++i) {
    data += "{\"line\":" + std::to_string(i) + ",\"pad\":\"" + std::string(i % 300, 'p') + "\"}\n";
  }
  return data;
}

TEST(LineReaderTest, CompressedDataReadsLikeThePlainData) {
  std::string plain = numbered_lines(5000);
  Lines expected = read_lines(plain, 8192);
  const std::string compressed_forms[] = {
      compress(plain),
      compress(plain, 19),
      // Two frames one after the other.
      compress(plain.substr(0, 12345)) + compress(plain.substr(12345)),
  };
  for (const std::string& compressed : compressed_forms) {
    for (const std::vector<size_t>& pieces : kPieces) {
      ZstdRead read = read_zstd(compressed, pieces);
      EXPECT_EQ(read.lines, expected);
      EXPECT_FALSE(read.stopped_early);
    }
  }
  EXPECT_EQ(read_zstd("").lines, Lines{});
  EXPECT_FALSE(read_zstd("").stopped_early);
}

TEST(LineReaderTest, DamagedCompressedDataKeepsTheLinesBeforeTheDamage) {
  std::string plain = numbered_lines(3000);
  Lines all = read_lines(plain, 8192);
  std::string compressed = compress(plain);
  std::vector<std::string> damaged;
  // Cut short at several points.
  for (size_t cut : {size_t{1}, size_t{5}, compressed.size() / 3, compressed.size() - 1}) {
    damaged.push_back(compressed.substr(0, cut));
  }
  std::string bad_magic = compressed;
  bad_magic[0] = 'X';
  damaged.push_back(bad_magic);
  damaged.push_back("not zstd at all\n");
  for (const std::string& data : damaged) {
    SCOPED_TRACE(data.size());
    ZstdRead read = read_zstd(data);
    EXPECT_TRUE(read.stopped_early);
    ASSERT_LT(read.lines.size(), all.size());
    EXPECT_EQ(read.lines, Lines(all.begin(), all.begin() + read.lines.size()));
  }
  // A whole first frame followed by garbage: all of the frame's lines stand.
  std::string first_part = numbered_lines(100);
  ZstdRead read = read_zstd(compress(first_part) + "garbage after the frame");
  EXPECT_TRUE(read.stopped_early);
  EXPECT_EQ(read.lines, read_lines(first_part, 8192));
}

TEST(LineReaderTest, ReadsADescriptor) {
  char path[] = "/tmp/lorebox-line-reader-XXXXXX";
  int fd = ::mkstemp(path);
  ASSERT_GE(fd, 0);
  std::string data = numbered_lines(1000);
  ASSERT_EQ(::write(fd, data.data(), data.size()), static_cast<ssize_t>(data.size()));
  ASSERT_EQ(::lseek(fd, 0, SEEK_SET), 0);
  LineReader reader(make_fd_source(fd));
  EXPECT_EQ(read_all(reader), read_lines(data, 8192));
  EXPECT_EQ(reader.bytes_read(), data.size());
  ::close(fd);
  ::unlink(path);
}

}  // namespace
}  // namespace lorebox
