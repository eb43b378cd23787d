#include "archive/parallel_deflate.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <optional>
#include <random>
#include <string>

#include "parallel/worker_pool.h"

namespace lorebox {
namespace {

constexpr size_t kChunk = ParallelDeflate::kChunkSize;

// Inflates a raw deflate stream; nothing when it is not one complete,
// valid stream with nothing after it.
std::optional<std::string> inflate_raw(const std::string& compressed) {
  z_stream stream{};
  if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) return std::nullopt;
  std::string out;
  char buffer[65536];
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
  stream.avail_in = static_cast<uInt>(compressed.size());
  int code = Z_OK;
  while (code == Z_OK) {
    stream.next_out = reinterpret_cast<Bytef*>(buffer);
    stream.avail_out = sizeof buffer;
    code = inflate(&stream, Z_NO_FLUSH);
    out.append(buffer, sizeof buffer - stream.avail_out);
  }
  const bool whole = code == Z_STREAM_END && stream.avail_in == 0;
  inflateEnd(&stream);
  if (!whole) return std::nullopt;
  return out;
}

uint32_t crc_of(const std::string& data) {
  return static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(data.data()),
                                     static_cast<uInt>(data.size())));
}

// Text that compresses well, with repeats that reach back across chunk
// starts (a 20 KiB random block over and over).
std::string repetitive(size_t size) {
  std::mt19937 random(7);
  std::string block(20 * 1024, ' ');
  for (char& c : block) c = static_cast<char>('a' + random() % 26);
  std::string out;
  while (out.size() < size) out += block;
  out.resize(size);
  return out;
}

// Deflates `input` on `workers` workers (0: on this thread), handing it
// over in pieces of `piece` bytes.
struct Deflated {
  std::string stream;
  uint32_t crc = 0;
  uint64_t size = 0;
};
Deflated deflate_on(size_t workers, const std::string& input, size_t piece) {
  std::optional<WorkerPool> pool;
  if (workers > 0) pool.emplace(workers);
  StringSink out;
  ParallelDeflate deflate(pool ? &*pool : nullptr, out);
  for (size_t at = 0; at < input.size(); at += piece) {
    EXPECT_TRUE(deflate.write(std::string_view(input).substr(at, piece)).has_value());
  }
  EXPECT_TRUE(deflate.finish().has_value());
  return Deflated{out.text(), deflate.crc(), deflate.size()};
}

TEST(ParallelDeflateTest, RoundTripsAroundChunkBoundaries) {
  const size_t sizes[] = {
      0,          1,      32 * 1024 - 1, 32 * 1024,  32 * 1024 + 1,
      kChunk - 1, kChunk, kChunk + 1,    2 * kChunk, 5 * kChunk + 12345};
  for (size_t size : sizes) {
    const std::string input = repetitive(size);
    // The stream written on this thread in one piece; every other way of
    // writing it must give the same bytes.
    const Deflated here = deflate_on(0, input, std::max<size_t>(size, 1));
    for (size_t workers : {0, 1, 2, 7}) {
      for (size_t piece : {size_t{1} << 16, size_t{7919}}) {
        if (size > kChunk && piece < 8192 && workers != 2) continue;  // keep it quick
        SCOPED_TRACE(::testing::Message()
                     << workers << " workers, " << size << " bytes, pieces of " << piece);
        const Deflated out = deflate_on(workers, input, piece);
        EXPECT_EQ(inflate_raw(out.stream), input);
        EXPECT_EQ(out.crc, crc_of(input));
        EXPECT_EQ(out.size, input.size());
        EXPECT_TRUE(out.stream == here.stream);
      }
    }
  }
}

TEST(ParallelDeflateTest, ChunksReachBackIntoThePreviousChunk) {
  // Each chunk is primed with the 32 KiB before it, so a 20 KiB block that
  // repeats is stored about once in all, as one stream stores it, not once
  // per chunk (which would take some 13 KiB more per chunk).
  const std::string input = repetitive(8 * kChunk);
  const Deflated out = deflate_on(2, input, 65536);
  ASSERT_EQ(inflate_raw(out.stream), input);
  uLongf one_stream = compressBound(static_cast<uLong>(input.size()));
  std::string whole(one_stream, '\0');
  ASSERT_EQ(compress2(reinterpret_cast<Bytef*>(whole.data()), &one_stream,
                      reinterpret_cast<const Bytef*>(input.data()),
                      static_cast<uLong>(input.size()), Z_DEFAULT_COMPRESSION),
            Z_OK);
  EXPECT_LT(out.stream.size(), one_stream + 8 * 1024);
}

TEST(ParallelDeflateTest, RandomBytesSurviveToo) {
  std::mt19937 random(11);
  std::string input(3 * kChunk + 999, '\0');
  for (char& c : input) c = static_cast<char>(random());
  const Deflated out = deflate_on(3, input, 65536);
  EXPECT_EQ(inflate_raw(out.stream), input);
  EXPECT_EQ(out.crc, crc_of(input));
}

// A sink that takes `room` bytes and then fails.
class FullSink : public Sink {
 public:
  explicit FullSink(size_t room) : room_(room) {}
  Result<void> write(std::string_view bytes) override {
    if (bytes.size() > room_) return Fail("No space left on device");
    room_ -= bytes.size();
    return {};
  }

 private:
  size_t room_;
};

TEST(ParallelDeflateTest, TheSinksFailureIsPassedOn) {
  std::mt19937 random(5);
  std::string input(8 * kChunk, '\0');
  for (char& c : input) c = static_cast<char>(random());
  for (auto [workers, room] :
       {std::pair<size_t, size_t>{2, 0}, {2, 3 * kChunk}, {0, 0}, {0, 3 * kChunk}}) {
    std::optional<WorkerPool> pool;
    if (workers > 0) pool.emplace(workers);
    FullSink out(room);
    ParallelDeflate deflate(pool ? &*pool : nullptr, out);
    Result<void> result = deflate.write(input);
    if (result) result = deflate.finish();
    ASSERT_FALSE(result.has_value()) << workers << " workers, room " << room;
    EXPECT_EQ(result.error(), "No space left on device");
  }
}

}  // namespace
}  // namespace lorebox
