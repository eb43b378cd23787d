// The line reader keeps unread bytes in one buffer, [begin_, end_). A line
// is handed out as a view into that buffer, so steady-state reading does
// not allocate; the buffer only grows when one line does not fit. The
// allocation always has SIMDJSON_PADDING bytes past the buffer, zeroed, so
// every view is followed by readable padding.
//
// UTF-8 is checked in large chunks: the bytes up to the last "\n" in the
// buffer are validated at once. "\n" is ASCII and can never sit inside a
// multi-byte sequence, so when the chunk is valid every line in it is.
// Only when a chunk fails are its lines checked one at a time to find the
// first bad one.
//
// Transcripts are read one after another, so the buffer of a finished
// reader (up to kKeepSpare bytes) is kept for the next one on the same
// thread: fresh memory for every file costs page faults that show up as a
// large share of the reading time.
#include "scan/line_reader.h"

#include <errno.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include <simdjson.h>

namespace lorebox {
namespace {

constexpr size_t kPadding = simdjson::SIMDJSON_PADDING;
constexpr size_t kKeepSpare = 16 * 1024 * 1024;

// A buffer left by a finished reader; its padding is already zeroed.
struct SpareBuffer {
  std::unique_ptr<char[]> data;
  size_t capacity = 0;
};
thread_local SpareBuffer t_spare;

class FdSource : public ByteSource {
 public:
  explicit FdSource(int fd) : fd_(fd) {}

  ptrdiff_t read(char* buffer, size_t size) override {
    if (failed_) return -1;
    while (true) {
      ssize_t count = ::read(fd_, buffer, size);
      if (count >= 0) return count;
      if (errno != EINTR) break;
    }
    failed_ = true;
    return -1;
  }

 private:
  int fd_;
  bool failed_ = false;
};

bool valid_utf8(const char* data, size_t size) {
  return simdjson::validate_utf8(data, size);
}

}  // namespace

std::unique_ptr<ByteSource> make_fd_source(int fd) {
  return std::make_unique<FdSource>(fd);
}

struct LineReader::Impl {
  std::unique_ptr<ByteSource> source;
  std::unique_ptr<char[]> buffer;
  size_t capacity = 0;      // usable bytes; kPadding more are allocated
  size_t begin = 0;         // first unread byte
  size_t end = 0;           // one past the last byte read
  size_t scanned = 0;       // [begin, scanned) holds no "\n"
  size_t valid_end = 0;     // [begin, valid_end) is known valid UTF-8
  size_t chunk_tried = 0;   // chunk checks up to here already failed
  bool source_done = false; // the source hit its end or an error
  bool source_failed = false;
  bool finished = false;    // no more lines
  bool stopped_early = false;
  bool check_utf8 = true;   // false while next_unchecked hands out lines
  bool unconfirmed = false; // the last line came from next_unchecked
  size_t last_begin = 0;    // where that line lies
  size_t last_end = 0;
  uint64_t bytes = 0;

  ~Impl() {
    if (capacity <= kKeepSpare && capacity > t_spare.capacity) {
      t_spare.data = std::move(buffer);
      t_spare.capacity = capacity;
    }
  }

  // Starts with the spare buffer when it is large enough.
  void start(size_t size, bool use_spare) {
    if (use_spare && t_spare.capacity >= size) {
      buffer = std::move(t_spare.data);
      capacity = t_spare.capacity;
      t_spare.capacity = 0;
    } else {
      allocate(size);
    }
  }

  void allocate(size_t size) {
    std::unique_ptr<char[]> grown(new char[size + kPadding]);
    std::memset(grown.get() + size, 0, kPadding);
    if (end > begin) std::memcpy(grown.get(), buffer.get() + begin, end - begin);
    shift(begin);
    buffer = std::move(grown);
    capacity = size;
  }

  // Positions move down by `offset` when the data moves to the front.
  void shift(size_t offset) {
    auto down = [offset](size_t pos) { return pos > offset ? pos - offset : 0; };
    end -= offset;
    scanned -= offset;
    valid_end = down(valid_end);
    chunk_tried = down(chunk_tried);
    begin = 0;
  }

  // Reads more data, first making room at the end of the buffer.
  void fill() {
    if (begin > 0) {
      std::memmove(buffer.get(), buffer.get() + begin, end - begin);
      shift(begin);
    }
    if (end == capacity) allocate(capacity * 2);
    // Reads stay at most kDefaultBufferSize long, so after one long line has
    // grown the buffer the data still cycles through a cache-sized front.
    size_t room = std::min(capacity - end, kDefaultBufferSize);
    ptrdiff_t count = source->read(buffer.get() + end, room);
    if (count < 0) {
      source_done = true;
      source_failed = true;
    } else if (count == 0) {
      source_done = true;
    } else {
      end += static_cast<size_t>(count);
    }
  }

  // Whether [begin, line_end) is valid UTF-8.
  bool line_is_valid(size_t line_end) {
    if (line_end <= valid_end) return true;
    const char* data = buffer.get();
    if (line_end > chunk_tried) {
      const void* last = memrchr(data + begin, '\n', end - begin);
      size_t chunk_end = last ? static_cast<const char*>(last) - data : line_end;
      if (chunk_end < line_end) chunk_end = line_end;
      if (valid_utf8(data + begin, chunk_end - begin)) {
        valid_end = chunk_end;
        return true;
      }
      chunk_tried = chunk_end;
    }
    if (!valid_utf8(data + begin, line_end - begin)) return false;
    valid_end = line_end;
    return true;
  }

  // Hands out [begin, line_end) and moves past `next`.
  bool yield(size_t line_end, size_t next, std::string_view* line) {
    if (check_utf8 && !line_is_valid(line_end)) {
      finished = true;
      stopped_early = true;
      return false;
    }
    *line = std::string_view(buffer.get() + begin, line_end - begin);
    unconfirmed = !check_utf8;
    last_begin = begin;
    last_end = line_end;
    bytes += next - begin;
    begin = next;
    scanned = next;
    return true;
  }

  bool next(std::string_view* line) {
    while (!finished) {
      const char* data = buffer.get();
      const void* newline = std::memchr(data + scanned, '\n', end - scanned);
      if (newline) {
        size_t pos = static_cast<const char*>(newline) - data;
        size_t line_end = pos;
        if (line_end > begin && data[line_end - 1] == '\r') --line_end;
        return yield(line_end, pos + 1, line);
      }
      scanned = end;
      if (source_done) {
        finished = true;
        if (source_failed) {
          stopped_early = true;
          return false;
        }
        if (begin == end) return false;
        return yield(end, end, line);
      }
      fill();
    }
    return false;
  }
};

LineReader::LineReader(std::unique_ptr<ByteSource> source)
    : impl_(std::make_unique<Impl>()) {
  impl_->source = std::move(source);
  impl_->start(kDefaultBufferSize, /*use_spare=*/true);
}

LineReader::LineReader(std::unique_ptr<ByteSource> source, size_t buffer_size)
    : impl_(std::make_unique<Impl>()) {
  impl_->source = std::move(source);
  impl_->start(buffer_size > 0 ? buffer_size : 1, /*use_spare=*/false);
}

LineReader::~LineReader() = default;

bool LineReader::next(std::string_view* line) {
  impl_->check_utf8 = true;
  return impl_->next(line);
}

bool LineReader::next_unchecked(std::string_view* line) {
  impl_->check_utf8 = false;
  return impl_->next(line);
}

bool LineReader::confirm_utf8() {
  Impl& r = *impl_;
  if (!r.unconfirmed) return true;
  r.unconfirmed = false;
  const char* data = r.buffer.get();
  if (valid_utf8(data + r.last_begin, r.last_end - r.last_begin)) return true;
  // Ends the sequence before this line, as next() would have.
  r.bytes -= r.begin - r.last_begin;
  r.finished = true;
  r.stopped_early = true;
  return false;
}

uint64_t LineReader::bytes_read() const { return impl_->bytes; }

bool LineReader::stopped_early() const { return impl_->stopped_early; }

}  // namespace lorebox
