// Line-by-line reading of a JSON Lines file.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace lorebox {

// Where a LineReader gets its bytes: a plain descriptor, or a zstd stream
// decompressed on the fly.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Reads up to `size` bytes into `buffer`. Returns the count, 0 at the end,
  // or -1 on an error (a read error, a corrupt or truncated compressed
  // frame). Interrupted reads are retried inside.
  virtual ptrdiff_t read(char* buffer, size_t size) = 0;
};

// A ByteSource over a descriptor the caller keeps open (and closes).
std::unique_ptr<ByteSource> make_fd_source(int fd);
// A ByteSource that decompresses zstd frames read from the descriptor.
std::unique_ptr<ByteSource> make_zstd_source(int fd);

// Splits a byte stream at "\n". A line loses its "\n" and one "\r" before
// it; a last line without "\n" still counts. A read error or a line that is
// not valid UTF-8 ends the sequence as if the file ended there.
class LineReader {
 public:
  explicit LineReader(std::unique_ptr<ByteSource> source);
  ~LineReader();
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  // Stores the next line in *line and returns true, or returns false at the
  // end. The view stays valid until the next call. The bytes just past the
  // view are readable padding (simdjson can parse the view in place).
  bool next(std::string_view* line);

  // Bytes handed out so far (lines plus their terminators).
  uint64_t bytes_read() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace lorebox
