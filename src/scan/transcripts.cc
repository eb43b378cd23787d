// read_transcripts runs, for one root:
//   1. the walk: every candidate the reader accepts, collected first so the
//      progress display knows the total;
//   2. for each candidate in walk order: settle, admit by time (with a
//      bound), open and verify;
//   3. the reader's pass over the file's lines (decompressed for
//      .jsonl.zst; one line holding the whole file for a root document);
//   4. in strict mode, verify after read; a file whose reading stopped at a
//      read error (or at compressed data that does not decode) fails here
//      too, since it was not read whole.
// Lenient mode skips and counts a file that fails 2, and keeps the lines
// read before an error; strict mode stops with the matching message, and
// also checks 4. Files not admitted by the bound
// are skipped and counted in both modes.
#include "scan/transcripts.h"

#include <sys/stat.h>

#include <system_error>

#include "scan/progress.h"
#include "scan/snapshot.h"
#include "scan/transcripts_testing.h"
#include "scan/walk.h"

namespace lorebox {
namespace {

constexpr std::string_view kCompressedSuffix = ".jsonl.zst";
constexpr std::string_view kDocumentSuffix = ".json";
// How often progress within one file is reported.
constexpr uint64_t kProgressStep = 4 * 1024 * 1024;

ProgressObserver* g_observer = nullptr;
std::function<void(const std::string&)> g_before_open_hook;

bool ends_with(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() &&
         text.substr(text.size() - suffix.size()) == suffix;
}

// Reads a file and adds the bytes to *total (which outlives the
// source), telling the observer every kProgressStep bytes.
class CountingSource : public ByteSource {
 public:
  CountingSource(File& file, uint64_t* total, ProgressObserver* observer)
      : inner_(make_file_source(file)), total_(total), observer_(observer) {}

  ptrdiff_t read(char* buffer, size_t size) override {
    ptrdiff_t count = inner_->read(buffer, size);
    if (count > 0) {
      *total_ += static_cast<uint64_t>(count);
      if (observer_ && *total_ >= next_report_) {
        observer_->on_bytes(*total_);
        next_report_ = *total_ + kProgressStep;
      }
    }
    return count;
  }

 private:
  std::unique_ptr<ByteSource> inner_;
  uint64_t* total_;
  ProgressObserver* observer_;
  uint64_t next_report_ = kProgressStep;
};

void report_skip(SkipReason reason, uint64_t* skipped_files) {
  ++*skipped_files;
  if (g_observer) g_observer->on_skipped(reason);
}

}  // namespace

void set_progress_observer(ProgressObserver* observer) { g_observer = observer; }

void set_before_open_hook_for_testing(
    std::function<void(const std::string& path)> hook) {
  g_before_open_hook = std::move(hook);
}

std::optional<std::string> canonical_root(const std::filesystem::path& root) {
  std::error_code error;
  std::filesystem::path canonical = std::filesystem::canonical(root, error);
  if (error || !std::filesystem::is_directory(canonical, error) || error) {
    return std::nullopt;
  }
  return canonical.string();
}

bool passes_name_rule(std::string_view file_name) {
  if (ends_with(file_name, kCompressedSuffix)) return true;
  size_t dot = file_name.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return true;
  return file_name.substr(dot + 1) == "jsonl";
}

bool is_root_document(std::string_view relative_path) {
  return relative_path.find('/') == std::string_view::npos &&
         ends_with(relative_path, kDocumentSuffix);
}

Result<void> read_transcripts(const std::string& root,
                              std::optional<double> modified_before,
                              uint64_t* skipped_files, const AcceptFn& accept,
                              const ReadFn& read, bool root_documents) {
  bool strict = modified_before.has_value();
  // Stamps carry absolute paths; a relative root is joined to the working
  // directory without resolving links.
  std::error_code error;
  std::string base = std::filesystem::absolute(root, error).string();
  if (error) base = root;

  std::vector<std::string> candidates = walk_candidates(base, accept, root_documents);
  if (g_observer) g_observer->on_candidates(candidates.size());

  for (const std::string& relative : candidates) {
    std::string path = join_path(base, relative);
    std::optional<FileStamp> stamp = settle_file(path);
    if (!stamp) {
      if (strict) return Fail(std::string(kTranscriptUnavailable));
      report_skip(SkipReason::Unavailable, skipped_files);
      continue;
    }
    if (strict && !admit_by_time(*stamp, *modified_before)) {
      report_skip(SkipReason::NotAdmitted, skipped_files);
      continue;
    }
    if (g_before_open_hook) g_before_open_hook(path);
    std::optional<File> file = open_and_verify(path, *stamp);
    if (!file) {
      if (strict) return Fail(std::string(kTranscriptChangedBeforeRead));
      report_skip(SkipReason::Changed, skipped_files);
      continue;
    }

    uint64_t disk_bytes = 0;
    std::unique_ptr<ByteSource> source =
        std::make_unique<CountingSource>(*file, &disk_bytes, g_observer);
    if (ends_with(relative, kCompressedSuffix)) {
      source = make_zstd_source(std::move(source));
    }
    bool read_failed = false;
    {
      bool whole = root_documents && is_root_document(relative);
      LineReader lines(std::move(source),
                       whole ? LineReader::Split::Whole : LineReader::Split::Lines);
      read(*stamp, lines);
      read_failed = lines.read_failed();
    }
    // A file that could not be read to its end was not read as stamped.
    if (strict && (read_failed || !verify_after_read(path, *file, *stamp))) {
      return Fail(std::string(kTranscriptChangedDuringRead));
    }
    if (g_observer) g_observer->on_file_done(disk_bytes);
  }
  return {};
}

void read_plain_lines(const std::filesystem::path& path,
                      const std::function<void(LineReader& lines)>& read) {
  Result<File> file = File::open(path, OpenMode::Read);
  if (!file) return;
  // Only regular files: a FIFO or device under that name is never read, so
  // the run cannot block on it.
  struct stat info;
  if (::fstat(file->fd(), &info) != 0 || !S_ISREG(info.st_mode)) return;
  LineReader lines(make_file_source(*file));
  read(lines);
}

}  // namespace lorebox
