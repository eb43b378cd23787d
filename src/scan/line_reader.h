// Line-by-line reading of a JSON Lines file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "io/file.h"

namespace lorebox {

// Where a LineReader gets its bytes: an open file, or a zstd stream
// decompressed on the fly.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Reads up to `size` (> 0) bytes into `buffer`. Returns the count, 0 at
  // the end, or -1 on an error (a read error, a corrupt or truncated
  // compressed frame). Interrupted reads are retried inside. After an error
  // every later call returns -1 as well.
  virtual ptrdiff_t read(char* buffer, size_t size) = 0;
};

// A ByteSource over an open file, which must outlive the source.
std::unique_ptr<ByteSource> make_file_source(File& file);
// A ByteSource that decompresses the zstd frames read from another source.
// Data that ends inside a frame, or does not decode, is an error.
std::unique_ptr<ByteSource> make_zstd_source(std::unique_ptr<ByteSource> compressed);

// Splits a byte stream at "\n". A line loses its "\n" and one "\r" before
// it; a last line without "\n" still counts (it keeps a final "\r"). A read
// error or a line that is not valid UTF-8 ends the sequence as if the file
// ended there: the complete lines before it stand, and a partial line read
// before an error is dropped. What it yields does not depend on the buffer
// size or on how the source splits its reads.
class LineReader {
 public:
  // Reads kDefaultBufferSize bytes at a time into a buffer that holds lines
  // of up to 256 MiB without growing (the buffer of an earlier reader on
  // this thread is reused). A longer line grows it; when there is no memory
  // for that, the sequence ends as on a read error.
  explicit LineReader(std::unique_ptr<ByteSource> source);

  // Where the stream is cut: at every "\n" (JSON Lines), or nowhere, so that
  // the whole stream is one line (a file that holds one JSON document). A
  // whole stream is bounded and checked exactly as one long line is; an
  // empty stream gives no line.
  enum class Split { Lines, Whole };
  // The default buffer, cutting as `split` says.
  LineReader(std::unique_ptr<ByteSource> source, Split split);
  // Exactly this starting buffer size (at least 1), grown as long lines
  // need.
  LineReader(std::unique_ptr<ByteSource> source, size_t buffer_size,
             Split split = Split::Lines);
  ~LineReader();
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  static constexpr size_t kDefaultBufferSize = 256 * 1024;

  // Stores the next line in *line and returns true, or returns false at the
  // end. The view stays valid until the next call. The
  // json::kPadding bytes just past the view are readable, so
  // json::LineParser::parse_padded can parse it in place.
  bool next(std::string_view* line);

  // As next(), but the line's UTF-8 is not checked yet. Before asking for
  // another line the caller either knows the line is valid UTF-8 (a
  // successful parse checks every byte) or calls confirm_utf8().
  // For readers whose parser checks UTF-8 anyway; see json::JsonLines.
  bool next_unchecked(std::string_view* line);

  // Checks the line last handed out by next_unchecked. When it is not valid
  // UTF-8 the sequence ends before it, exactly as next() would have ended
  // it (the line is not counted in bytes_read), and false is returned.
  // True when there is no unchecked line.
  bool confirm_utf8();

  // Bytes handed out so far (lines plus their terminators).
  uint64_t bytes_read() const;

  // True when the sequence ended because of a read error or a line that is
  // not valid UTF-8 rather than at the end of the data.
  bool stopped_early() const;

  // True when the whole stream is handed out as one line (Split::Whole).
  bool whole() const;

  // True when the sequence ended because the source reported an error (a
  // failed read, compressed data that does not decode): the data could not
  // be read to its end. False at the end of the data, at a line that is not
  // valid UTF-8, and when there was no memory for a long line.
  bool read_failed() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace lorebox
