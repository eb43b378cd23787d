// The line reader keeps unread bytes in one buffer, [begin_, end_). A line
// is handed out as a view into that buffer, so steady-state reading does
// not allocate. The buffer always has SIMDJSON_PADDING readable bytes past
// its capacity, so every view is followed by readable padding.
//
// UTF-8 is checked in large chunks: the bytes up to the last "\n" in the
// buffer are validated at once. "\n" is ASCII and can never sit inside a
// multi-byte sequence, so when the chunk is valid every line in it is.
// Only when a chunk fails are its lines checked one at a time to find the
// first bad one.
//
// Memory: the buffer is an anonymous mapping of kReserve bytes. Reads go
// to its first kWindow bytes, kDefaultBufferSize bytes at a time, and only
// a long line reaches further, so only the pages the longest line touches become
// resident. A long line therefore never makes the buffer grow: doubling it
// would copy the line into fresh pages and throw the old ones away, and
// fresh pages cost a page fault each. For the same reason the mapping of a
// finished reader is kept for the next one on the same thread (first
// handing back the pages past kKeepResident, so that one huge line does not
// pin its memory for the rest of the run). Only a line longer than the
// reservation grows the buffer, into a new mapping.
#include "scan/line_reader.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "json/line_parser.h"
#include "text/utf8.h"

namespace lorebox {
namespace {

constexpr size_t kPadding = json::kPadding;
// Address space reserved for a buffer; lines up to this long never grow it.
constexpr size_t kReserve = size_t{256} * 1024 * 1024;
// Reads fill the buffer up to this far before the unread bytes move to
// its front.
constexpr size_t kWindow = 4 * LineReader::kDefaultBufferSize;
// Pages past this stay resident in a kept buffer only until it is reused.
constexpr size_t kKeepResident = 16 * 1024 * 1024;

// The last "\n" in [data, data + size), or nullptr: glibc's vectorised
// memrchr, elsewhere (macOS has no memrchr) a plain backward scan.
const char* last_newline(const char* data, size_t size) {
#if defined(__GLIBC__)
  return static_cast<const char*>(::memrchr(data, '\n', size));
#else
  for (size_t i = size; i > 0; --i) {
    if (data[i - 1] == '\n') return data + i - 1;
  }
  return nullptr;
#endif
}

// Anonymous memory, zeroed, whose pages become resident only when touched.
// Move-only; unmapped when it goes away. Empty when the mapping failed.
class Mapping {
 public:
  Mapping() = default;
  explicit Mapping(size_t size) {
    void* data = ::mmap(nullptr, size, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (data == MAP_FAILED) return;
#ifdef MADV_HUGEPAGE
    // A long line then costs a page fault per 2 MiB instead of per 4 KiB;
    // where huge pages are off this fails harmlessly.
    ::madvise(data, size, MADV_HUGEPAGE);
#endif
    data_ = static_cast<char*>(data);
    size_ = size;
  }
  Mapping(Mapping&& other) noexcept { *this = std::move(other); }
  Mapping& operator=(Mapping&& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
    return *this;
  }
  ~Mapping() {
    if (data_ != nullptr) ::munmap(data_, size_);
  }

  char* data() const { return data_; }
  size_t size() const { return size_; }

  // Hands the pages from `offset` on back to the system; they read as
  // zeros when touched again.
  void release_from(size_t offset) {
    const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    offset = (offset + page - 1) / page * page;
    if (offset < size_) ::madvise(data_ + offset, size_ - offset, MADV_DONTNEED);
  }

 private:
  char* data_ = nullptr;
  size_t size_ = 0;
};

// The buffer of a finished reader, and how far its pages were written.
struct SpareBuffer {
  Mapping memory;
  size_t touched = 0;
};
thread_local SpareBuffer t_spare;

class FileSource : public ByteSource {
 public:
  explicit FileSource(File& file) : file_(file) {}

  ptrdiff_t read(char* buffer, size_t size) override {
    if (failed_) return -1;
    Result<size_t> count = file_.read(buffer, size);
    if (count) return static_cast<ptrdiff_t>(*count);
    failed_ = true;
    return -1;
  }

 private:
  File& file_;
  bool failed_ = false;
};

}  // namespace

std::unique_ptr<ByteSource> make_file_source(File& file) {
  return std::make_unique<FileSource>(file);
}

struct LineReader::Impl {
  std::unique_ptr<ByteSource> source;
  Mapping memory;            // the buffer and kPadding bytes past it
  size_t capacity = 0;       // usable bytes
  size_t touched = 0;        // bytes of the buffer ever written
  size_t begin = 0;          // first unread byte
  size_t end = 0;            // one past the last byte read
  size_t scanned = 0;        // [begin, scanned) holds no "\n"
  size_t valid_end = 0;      // [begin, valid_end) is known valid UTF-8
  size_t chunk_tried = 0;    // chunk checks up to here already failed
  bool source_done = false;  // the source hit its end or an error
  bool source_failed = false;
  bool source_error = false;  // the source itself reported an error
  bool read_failed = false;   // the lines ended at that error
  bool finished = false;      // no more lines
  bool stopped_early = false;
  bool whole = false;        // the stream is one line: "\n" does not cut it
  bool check_utf8 = true;    // false while next_unchecked hands out lines
  bool unconfirmed = false;  // the last line came from next_unchecked
  size_t last_begin = 0;     // where that line lies
  size_t last_end = 0;
  uint64_t bytes = 0;

  ~Impl() {
    if (memory.size() != kReserve + kPadding || t_spare.memory.data() != nullptr) return;
    if (touched > kKeepResident) {
      memory.release_from(kKeepResident);
      touched = kKeepResident;
    }
    t_spare.memory = std::move(memory);
    t_spare.touched = touched;
  }

  // The default buffer (exact == 0) is the spare one or a fresh
  // reservation, a small one when address space is short; otherwise
  // exactly `exact` bytes.
  void start(size_t exact) {
    if (exact == 0 && t_spare.memory.data() != nullptr) {
      memory = std::move(t_spare.memory);
      touched = t_spare.touched;
    } else {
      memory = Mapping((exact ? exact : kReserve) + kPadding);
      if (memory.data() == nullptr && exact == 0)
        memory = Mapping(kDefaultBufferSize + kPadding);
    }
    capacity = memory.data() ? memory.size() - kPadding : 0;
  }

  // Moves the unread bytes into a buffer twice as large. False when there
  // is no memory for it.
  bool grow() {
    Mapping grown(std::max(2 * capacity, kDefaultBufferSize) + kPadding);
    if (grown.data() == nullptr) return false;
    if (end > begin) std::memcpy(grown.data(), memory.data() + begin, end - begin);
    shift(begin);
    memory = std::move(grown);
    capacity = memory.size() - kPadding;
    touched = end;
    return true;
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

  // Reads more data, first making room at the end of the buffer. When
  // there is no memory for a longer line, the data ends as on an error.
  void fill() {
    // The unread bytes (the start of a line) move to the front only once
    // the reads would pass kWindow, not before every read: the data still
    // cycles through a cache-sized front, and a line's start is copied once
    // every few reads instead of every time.
    if (begin > 0 && end + kDefaultBufferSize > std::min(kWindow, capacity)) {
      std::memmove(memory.data(), memory.data() + begin, end - begin);
      shift(begin);
    }
    if (end == capacity && !grow()) {
      source_done = true;
      source_failed = true;
      return;
    }
    // Reads stay at most kDefaultBufferSize long, so the data cycles through
    // a cache-sized front and only a long line reaches further.
    size_t room = std::min(capacity - end, kDefaultBufferSize);
    ptrdiff_t count = source->read(memory.data() + end, room);
    if (count < 0) {
      source_done = true;
      source_failed = true;
      source_error = true;
    } else if (count == 0) {
      source_done = true;
    } else {
      end += static_cast<size_t>(count);
      touched = std::max(touched, end);
    }
  }

  // Whether [begin, line_end) is valid UTF-8.
  bool line_is_valid(size_t line_end) {
    if (line_end <= valid_end) return true;
    const char* data = memory.data();
    if (line_end > chunk_tried) {
      const char* last = last_newline(data + begin, end - begin);
      size_t chunk_end = last ? static_cast<size_t>(last - data) : line_end;
      if (chunk_end < line_end) chunk_end = line_end;
      if (is_valid_utf8(std::string_view(data + begin, chunk_end - begin))) {
        valid_end = chunk_end;
        return true;
      }
      chunk_tried = chunk_end;
    }
    if (!is_valid_utf8(std::string_view(data + begin, line_end - begin))) return false;
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
    *line = std::string_view(memory.data() + begin, line_end - begin);
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
      const char* data = memory.data();
      const void* newline = !whole && end > scanned
                                ? std::memchr(data + scanned, '\n', end - scanned)
                                : nullptr;
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
          read_failed = source_error;
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
  impl_->start(0);
}

LineReader::LineReader(std::unique_ptr<ByteSource> source, size_t buffer_size,
                       Split split)
    : impl_(std::make_unique<Impl>()) {
  impl_->source = std::move(source);
  impl_->whole = split == Split::Whole;
  impl_->start(buffer_size > 0 ? buffer_size : 1);
}

LineReader::LineReader(std::unique_ptr<ByteSource> source, Split split)
    : LineReader(std::move(source)) {
  impl_->whole = split == Split::Whole;
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
  const char* data = r.memory.data();
  if (is_valid_utf8(std::string_view(data + r.last_begin, r.last_end - r.last_begin)))
    return true;
  // Ends the sequence before this line, as next() would have.
  r.bytes -= r.begin - r.last_begin;
  r.finished = true;
  r.stopped_early = true;
  return false;
}

uint64_t LineReader::bytes_read() const { return impl_->bytes; }

bool LineReader::stopped_early() const { return impl_->stopped_early; }

bool LineReader::whole() const { return impl_->whole; }
bool LineReader::read_failed() const { return impl_->read_failed; }

}  // namespace lorebox
