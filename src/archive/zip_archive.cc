// Writes the ZIP archive with minizip.
//
// The archive file is created by this module and handed to minizip through
// its file-function table, so every system call on it is ours: the first
// failure's reason is kept and becomes the reason of "Could not write {path}: {reason}"
// whatever code minizip returns for it. Entries are written one after
// another into a Sink whose blocks (the JsonWriter's 64 KiB) go straight to
// the deflate stream, so no document is held whole in memory.
//
// minizip writes the container (headers, data descriptors, the central
// directory, ZIP64 records) but not the compressed data: every entry is
// deflated by ParallelDeflate with ISA-L, on the worker pool when there is
// one, and written into a raw Deflate entry whose CRC-32 and length are
// given to minizip when the entry is closed. ISA-L's encoder is several
// times faster than zlib's level 6 (which minizip would use), for slightly
// larger output; the entries' contents are the same.

#include "archive/zip_archive.h"

#include <fmt/format.h>
#include <minizip/zip.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <system_error>

#include "archive/conversations_json.h"
#include "archive/dos_time.h"
#include "archive/efficiency_json.h"
#include "archive/manifest.h"
#include "archive/parallel_deflate.h"
#include "archive/readme.h"
#include "archive/sink.h"
#include "io/file.h"
#include "session/summary.h"
#include "time/timestamp.h"

namespace lorebox {

namespace {

// The open archive file as minizip sees it: owns the file until minizip's
// close callback (or the destructor) closes it, and collects
// writes in a buffer that goes to the file when full and before every seek
// or close. Besides saving system calls on minizip's many small header
// writes, this keeps failures out of minizip's entry start (whose local
// header then always fits the buffer, emptied by the seeks that close the
// previous entry): minizip leaks the entry's central header when that call
// fails. After the first failure every call fails at once.
class ArchiveFile {
 public:
  static constexpr size_t kBufferSize = 64 * 1024;

  ArchiveFile() : buffer_(new char[kBufferSize]) {}
  ArchiveFile(const ArchiveFile&) = delete;
  ArchiveFile& operator=(const ArchiveFile&) = delete;

  // Creates or truncates the file (0666 before the umask); the reason alone
  // on failure.
  Result<void> open(const std::filesystem::path& path) {
    int code = 0;
    Result<File> opened = File::open(path, OpenMode::CreateOrTruncate, &code);
    if (!opened) return Fail(std::strerror(code));
    file_ = std::move(*opened);
    return {};
  }

  // The reason of the first failed call, empty when none failed.
  const std::string& error() const { return error_; }
  void note(const std::string& reason) {
    if (error_.empty()) error_ = reason;
  }

  // Returns how many bytes were taken: all of them, or 0 after a failure.
  size_t write(const char* data, size_t size) {
    if (!error_.empty()) return 0;
    if (size > kBufferSize - used_ && !flush()) return 0;
    if (size >= kBufferSize) {
      if (!write_all(data, size)) return 0;
      position_ += size;
      return size;
    }
    std::memcpy(buffer_.get() + used_, data, size);
    used_ += size;
    return size;
  }

  // The logical position: where the next byte goes.
  uint64_t tell() const { return position_ + used_; }

  bool seek(int64_t offset, int whence) {
    if (!error_.empty() || !flush()) return false;
    Result<uint64_t> moved = file_.seek(offset, whence);
    if (!moved) {
      note(moved.error());
      return false;
    }
    position_ = *moved;
    return true;
  }

  bool close() {
    const bool flushed = error_.empty() && flush();
    if (Result<void> closed = file_.close(); !closed) note(closed.error());
    return flushed && error_.empty();
  }

 private:
  bool flush() {
    if (used_ == 0) return true;
    if (!write_all(buffer_.get(), used_)) return false;
    position_ += used_;
    used_ = 0;
    return true;
  }

  bool write_all(const char* data, size_t size) {
    Result<void> written = file_.write_all(std::string_view(data, size));
    if (!written) note(written.error());
    return written.has_value();
  }

  File file_;
  std::string error_;
  std::unique_ptr<char[]> buffer_;
  size_t used_ = 0;
  uint64_t position_ = 0;  // file offset of the buffer's first byte
};

// minizip file functions. The "file name" minizip passes to open is the
// ArchiveFile itself, which then serves as the stream.
voidpf open_archive(voidpf, const void* name, int) { return const_cast<void*>(name); }

uLong read_archive(voidpf, voidpf stream, void*, uLong) {
  // Opened for writing only.
  static_cast<ArchiveFile*>(stream)->note(std::strerror(EBADF));
  return 0;
}

uLong write_archive_bytes(voidpf, voidpf stream, const void* data, uLong size) {
  return static_cast<ArchiveFile*>(stream)->write(static_cast<const char*>(data), size);
}

ZPOS64_T tell_archive(voidpf, voidpf stream) {
  return static_cast<ArchiveFile*>(stream)->tell();
}

long seek_archive(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
  int whence = SEEK_SET;
  if (origin == ZLIB_FILEFUNC_SEEK_CUR) whence = SEEK_CUR;
  if (origin == ZLIB_FILEFUNC_SEEK_END) whence = SEEK_END;
  const bool moved =
      static_cast<ArchiveFile*>(stream)->seek(static_cast<int64_t>(offset), whence);
  return moved ? 0 : -1;
}

int close_archive(voidpf, voidpf stream) {
  return static_cast<ArchiveFile*>(stream)->close() ? 0 : -1;
}

int error_archive(voidpf, voidpf stream) {
  return static_cast<ArchiveFile*>(stream)->error().empty() ? 0 : 1;
}

// The reason for a minizip failure: the system's error when one of our
// calls failed, else the library's code in words.
std::string describe(int code, const ArchiveFile& file) {
  if (!file.error().empty()) return file.error();
  switch (code) {
    case ZIP_ERRNO:
      return std::strerror(EIO);
    case ZIP_PARAMERROR:
      return "invalid parameter passed to the ZIP writer";
    case ZIP_BADZIPFILE:
      return "the ZIP writer produced a bad ZIP file";
    case ZIP_INTERNALERROR:
      return "internal error in the ZIP writer";
    default:
      return fmt::format("compression failed ({})", zError(code));
  }
}

// One ZIP archive being written. Discarding it unfinished closes the
// archive anyway (minizip may complete the entries written so far).
class ZipWriter : public Sink {
 public:
  // `file` must be open and outlive the writer.
  explicit ZipWriter(ArchiveFile* file) : file_(file) {}
  ZipWriter(const ZipWriter&) = delete;
  ZipWriter& operator=(const ZipWriter&) = delete;
  ~ZipWriter() override {
    if (zip_ != nullptr) zipClose(zip_, nullptr);
  }

  Result<void> open() {
    zlib_filefunc64_def functions{};
    functions.zopen64_file = open_archive;
    functions.zread_file = read_archive;
    functions.zwrite_file = write_archive_bytes;
    functions.ztell64_file = tell_archive;
    functions.zseek64_file = seek_archive;
    functions.zclose_file = close_archive;
    functions.zerror_file = error_archive;
    functions.opaque = nullptr;
    zip_ = zipOpen2_64(file_, APPEND_STATUS_CREATE, nullptr, &functions);
    if (zip_ == nullptr) {
      if (!file_->error().empty()) return Fail(file_->error());
      return Fail("could not start the ZIP writer");
    }
    return {};
  }

  // Starts an entry that takes bytes already deflated (raw): Deflate with
  // the header of the default level, ZIP64, the given DOS time, no comment,
  // no extra fields, marked as text (every entry is UTF-8 text; minizip's
  // own deflate would mark it so, from zlib's guess). Closed with end_entry.
  Result<void> begin_entry(const char* name, uint32_t dos_time) {
    zip_fileinfo info{};
    info.dosDate = dos_time;
    info.internal_fa = 1;  // text
    const int code = zipOpenNewFileInZip3_64(zip_, name, &info, nullptr, 0, nullptr, 0,
                                             nullptr, Z_DEFLATED, Z_DEFAULT_COMPRESSION,
                                             /*raw=*/1, -MAX_WBITS, DEF_MEM_LEVEL,
                                             Z_DEFAULT_STRATEGY, nullptr, 0, /*zip64=*/1);
    if (code != ZIP_OK) return Fail(describe(code, *file_));
    return {};
  }

  // Writes deflated bytes into the current entry.
  Result<void> write(std::string_view bytes) override {
    constexpr size_t kMaxChunk = size_t{1} << 30;  // minizip takes an unsigned
    while (!bytes.empty()) {
      const size_t chunk = bytes.size() < kMaxChunk ? bytes.size() : kMaxChunk;
      const int code =
          zipWriteInFileInZip(zip_, bytes.data(), static_cast<unsigned>(chunk));
      if (code != ZIP_OK) return Fail(describe(code, *file_));
      bytes.remove_prefix(chunk);
    }
    return {};
  }

  // Ends the current entry, whose content had `size` bytes with CRC-32 `crc`.
  Result<void> end_entry(uint64_t size, uint32_t crc) {
    const int code = zipCloseFileInZipRaw64(zip_, size, crc);
    if (code != ZIP_OK) return Fail(describe(code, *file_));
    return {};
  }

  // Writes the central directory and closes the file.
  Result<void> finish() {
    const int code = zipClose(zip_, nullptr);
    zip_ = nullptr;
    if (code != ZIP_OK) return Fail(describe(code, *file_));
    return {};
  }

 private:
  ArchiveFile* file_;
  zipFile zip_ = nullptr;
};

Result<void> create_parent_directories(const std::filesystem::path& path) {
  const std::filesystem::path parent = path.parent_path();
  if (parent.empty()) return {};
  std::error_code error;
  // New directories get 0777 before the umask.
  std::filesystem::create_directories(parent, error);
  if (error) return Fail(error.message());
  return {};
}

// Writes one entry: `content` writes its bytes into a sink that deflates
// them (on the pool's workers when there are any) into the entry.
Result<void> write_entry(ZipWriter& zip, const char* name, uint32_t dos_time,
                         WorkerPool* pool,
                         const std::function<Result<void>(Sink&)>& content) {
  Result<void> step = zip.begin_entry(name, dos_time);
  if (!step) return step;
  ParallelDeflate deflate(pool, zip);
  step = content(deflate);
  if (step) step = deflate.finish();
  if (step) step = zip.end_entry(deflate.size(), deflate.crc());
  return step;
}

// Steps from the parent directories to the closed file; the reason alone
// on failure.
Result<void> write_zip(const std::filesystem::path& path,
                       const std::vector<Session>& sessions, const PackOptions& options,
                       WorkerPool* pool) {
  if (Result<void> made = create_parent_directories(path); !made) return made;
  ArchiveFile file;
  if (Result<void> opened = file.open(path); !opened) return opened;

  ZipWriter zip(&file);
  if (Result<void> started = zip.open(); !started) return started;
  // One modification time for every entry, taken once.
  const uint32_t dos_time = dos_date_time(civil_from_instant(current_instant()));

  const std::vector<Conversation> conversations = build_conversations(sessions);
  Result<void> step =
      write_entry(zip, "conversations.json", dos_time, pool,
                  [&](Sink& sink) { return write_conversations(sink, conversations); });
  if (step && any_accounting(sessions)) {
    step = write_entry(zip, "efficiency.json", dos_time, pool,
                       [&](Sink& sink) { return write_efficiency(sink, sessions); });
  }
  if (step) {
    step = write_entry(zip, "lorebox.json", dos_time, pool, [&](Sink& sink) {
      return write_manifest(sink, sessions, options, current_instant());
    });
  }
  if (step) {
    step = write_entry(zip, "README.txt", dos_time, pool,
                       [](Sink& sink) { return sink.write(readme_text()); });
  }

  if (step) step = zip.finish();
  return step;
}

}  // namespace

std::filesystem::path default_archive_name(const std::vector<Session>& sessions) {
  return fmt::format("lorebox-{}.zip", date_text(summarise(sessions).latest));
}

Result<WrittenArchive> write_archive(const std::optional<std::filesystem::path>& output,
                                     const std::vector<Session>& sessions,
                                     const PackOptions& options, WorkerPool* pool) {
  const std::filesystem::path path = output ? *output : default_archive_name(sessions);
  Result<void> written = write_zip(path, sessions, options, pool);
  struct stat status;
  if (written && ::stat(path.c_str(), &status) != 0) written = Fail(std::strerror(errno));
  if (!written)
    return Fail(fmt::format("Could not write {}: {}", path.string(), written.error()));
  return WrittenArchive{path, static_cast<uint64_t>(status.st_size)};
}

}  // namespace lorebox
