// read_transcripts runs, for one root:
//   1. the walk: every candidate the reader accepts, collected first so the
//      progress display knows the total;
//   2. for each candidate: settle, admit by time (with a bound), open and
//      verify;
//   3. the reader's pass over the file's lines (decompressed for
//      .jsonl.zst; one line holding the whole file for a root document),
//      giving the file's result;
//   4. in strict mode, verify after read; a file whose reading stopped at a
//      read error (or at compressed data that does not decode) fails here
//      too, since it was not read whole;
//   5. in walk order, on the calling thread: the skipped count, the strict
//      failure or the result, and the progress calls.
// Lenient mode skips and counts a file that fails 2, and keeps the lines
// read before an error; strict mode stops with the matching message, and
// also checks 4. Files not admitted by the bound
// are skipped and counted in both modes.
//
// Steps 2 to 4 of a file depend on nothing but the file, so with workers
// they run there, several files at a time, while the calling thread takes
// the outcomes in walk order (step 5). At most kFilesPerWorker files per
// worker are handed out and not yet taken, which bounds the memory held by
// results not yet taken. Once the calling thread stops early (a strict
// failure, an exception), the files still in flight stop reading at their
// next block and their outcomes are dropped.
#include "scan/transcripts.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <system_error>
#include <vector>

#include "parallel/task_group.h"
#include "scan/progress.h"
#include "scan/snapshot.h"
#include "scan/walk.h"

namespace lorebox {
namespace {

constexpr std::string_view kCompressedSuffix = ".jsonl.zst";
constexpr std::string_view kDocumentSuffix = ".json";
// How often progress within one file is reported when reading one by one.
constexpr uint64_t kProgressStep = 4 * 1024 * 1024;
// How often progress is reported while waiting for a worker's file.
constexpr std::chrono::milliseconds kProgressInterval(100);
// Files handed out per worker and not yet taken, at most.
constexpr size_t kFilesPerWorker = 16;

bool ends_with(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() &&
         text.substr(text.size() - suffix.size()) == suffix;
}

// Where a file's read reports the bytes it takes from disk: to the observer
// every kProgressStep bytes (one by one), or into a total shared with the
// calling thread (side by side). `cancelled`, when set, ends the data early.
struct ByteCounter {
  ProgressObserver* observer = nullptr;
  std::atomic<uint64_t>* in_flight = nullptr;
  const std::atomic<bool>* cancelled = nullptr;
};

// Reads a file and adds the bytes to *total (which outlives the source),
// reporting them as `counter` says.
class CountingSource : public ByteSource {
 public:
  CountingSource(File& file, uint64_t* total, ByteCounter counter)
      : inner_(make_file_source(file)), total_(total), counter_(counter) {}

  ptrdiff_t read(char* buffer, size_t size) override {
    if (counter_.cancelled && counter_.cancelled->load(std::memory_order_relaxed))
      return 0;
    ptrdiff_t count = inner_->read(buffer, size);
    if (count > 0) {
      *total_ += static_cast<uint64_t>(count);
      if (counter_.in_flight)
        counter_.in_flight->fetch_add(static_cast<uint64_t>(count),
                                      std::memory_order_relaxed);
      if (counter_.observer && *total_ >= next_report_) {
        counter_.observer->on_bytes(*total_);
        next_report_ = *total_ + kProgressStep;
      }
    }
    return count;
  }

 private:
  std::unique_ptr<ByteSource> inner_;
  uint64_t* total_;
  ByteCounter counter_;
  uint64_t next_report_ = kProgressStep;
};

// What steps 2 to 4 came to for one candidate.
struct FileOutcome {
  enum class Kind { Read, Skipped, Failed };
  Kind kind = Kind::Read;
  SkipReason skip_reason = SkipReason::Unavailable;
  std::string_view failure;  // one of the three strict messages
  FileResult result;         // what the reader keeps of a read file
  uint64_t disk_bytes = 0;   // what the read took from disk
};

FileOutcome skipped(SkipReason reason) {
  FileOutcome outcome;
  outcome.kind = FileOutcome::Kind::Skipped;
  outcome.skip_reason = reason;
  return outcome;
}

FileOutcome failed(std::string_view message) {
  FileOutcome outcome;
  outcome.kind = FileOutcome::Kind::Failed;
  outcome.failure = message;
  return outcome;
}

// True when the candidate is a root document, read whole as one line.
bool read_whole(std::string_view relative, bool root_documents) {
  return root_documents && is_root_document(relative);
}

// Steps 2 to 4 for the candidate at `path`; `whole` reads it as one line.
FileOutcome check_and_read(const std::string& path, bool whole,
                           std::optional<double> modified_before,
                           const ReadingContext& context, const ReadFn& read,
                           ByteCounter counter) {
  const bool strict = modified_before.has_value();
  std::optional<FileStamp> stamp = settle_file(path);
  if (!stamp) {
    return strict ? failed(kTranscriptUnavailable) : skipped(SkipReason::Unavailable);
  }
  if (strict && !admit_by_time(*stamp, *modified_before)) {
    return skipped(SkipReason::NotAdmitted);
  }
  if (context.before_open_for_testing) context.before_open_for_testing(path);
  std::optional<File> file = open_and_verify(path, *stamp);
  if (!file) {
    return strict ? failed(kTranscriptChangedBeforeRead) : skipped(SkipReason::Changed);
  }

  FileOutcome outcome;
  std::unique_ptr<ByteSource> source =
      std::make_unique<CountingSource>(*file, &outcome.disk_bytes, counter);
  if (ends_with(path, kCompressedSuffix)) source = make_zstd_source(std::move(source));
  bool read_failed = false;
  {
    LineReader lines(std::move(source),
                     whole ? LineReader::Split::Whole : LineReader::Split::Lines);
    outcome.result = read(*stamp, lines);
    read_failed = lines.read_failed();
  }
  // A file that could not be read to its end was not read as stamped.
  if (strict && (read_failed || !verify_after_read(path, *file, *stamp))) {
    const uint64_t bytes = outcome.disk_bytes;
    outcome = failed(kTranscriptChangedDuringRead);
    outcome.disk_bytes = bytes;
  }
  return outcome;
}

// Step 5 for one outcome.
Result<void> take(FileOutcome& outcome, ProgressObserver* observer,
                  uint64_t* skipped_files) {
  switch (outcome.kind) {
    case FileOutcome::Kind::Skipped:
      ++*skipped_files;
      if (observer) observer->on_skipped(outcome.skip_reason);
      return {};
    case FileOutcome::Kind::Failed:
      return Fail(std::string(outcome.failure));
    case FileOutcome::Kind::Read:
      if (outcome.result) outcome.result();
      if (observer) observer->on_file_done(outcome.disk_bytes);
      return {};
  }
  return {};
}

// Every candidate on the calling thread, one after another.
Result<void> read_one_by_one(const std::string& base,
                             const std::vector<std::string>& candidates,
                             std::optional<double> modified_before,
                             const ReadingContext& context, uint64_t* skipped_files,
                             const MakeReadFn& make_read, bool root_documents) {
  const ReadFn read = make_read();
  ByteCounter counter;
  counter.observer = context.progress;
  for (const std::string& relative : candidates) {
    FileOutcome outcome =
        check_and_read(join_path(base, relative), read_whole(relative, root_documents),
                       modified_before, context, read, counter);
    if (Result<void> taken = take(outcome, context.progress, skipped_files); !taken)
      return taken;
  }
  return {};
}

// One candidate's place in the window of files in flight.
struct Slot {
  FileOutcome outcome;
  std::exception_ptr error;        // thrown while the file was read
  std::atomic<bool> done = false;  // stored last, by the worker
};

// Who has what, while files are read side by side: the workers hand
// themselves files in walk order through `next`, no further than `window`
// files past the ones the calling thread has taken.
//
// The calling thread is woken only now and then (when half the window is
// done, when a worker waits for room, when the workers are through, and
// every kProgressInterval), then takes every finished file in order; waking
// it for each small file would cost more than reading the file.
struct Handout {
  Handout(size_t files, size_t window_size) : count(files), window(window_size) {}

  const size_t count;
  const size_t window;
  std::unique_ptr<Slot[]> slots{new Slot[window]};
  std::atomic<size_t> next = 0;      // the next file to hand out
  std::atomic<size_t> finished = 0;  // files done, in any order
  std::atomic<size_t> taken = 0;     // files taken, changed under `mutex`
  std::atomic<bool> cancelled = false;
  std::atomic<uint64_t> in_flight = 0;  // bytes read of files not yet taken

  std::mutex mutex;
  std::condition_variable more_finished;  // the calling thread waits here
  std::condition_variable more_taken;     // workers wait here for room
  bool caller_waiting = false;            // under `mutex`
  size_t workers_waiting = 0;             // under `mutex`

  // Wakes the calling thread when it waits.
  void wake_caller() {
    std::lock_guard<std::mutex> lock(mutex);
    if (caller_waiting) more_finished.notify_one();
  }
};

// A worker's share: files in walk order, each read and its outcome put in
// its slot, until none is left or the read is cancelled.
void work(Handout& handout, const std::string& base,
          const std::vector<std::string>& candidates,
          std::optional<double> modified_before, const ReadingContext& context,
          const ReadFn& read, bool root_documents) {
  ByteCounter counter;
  counter.in_flight = &handout.in_flight;
  counter.cancelled = &handout.cancelled;
  while (!handout.cancelled.load(std::memory_order_relaxed)) {
    const size_t index = handout.next.fetch_add(1, std::memory_order_relaxed);
    if (index >= handout.count) break;
    if (index >= handout.taken.load(std::memory_order_acquire) + handout.window) {
      std::unique_lock<std::mutex> lock(handout.mutex);
      ++handout.workers_waiting;
      if (handout.caller_waiting) handout.more_finished.notify_one();
      handout.more_taken.wait(lock, [&] {
        return handout.cancelled.load(std::memory_order_relaxed) ||
               index < handout.taken.load(std::memory_order_relaxed) + handout.window;
      });
      --handout.workers_waiting;
      if (handout.cancelled.load(std::memory_order_relaxed)) break;
    }
    Slot& slot = handout.slots[index % handout.window];
    try {
      slot.outcome = check_and_read(join_path(base, candidates[index]),
                                    read_whole(candidates[index], root_documents),
                                    modified_before, context, read, counter);
    } catch (...) {
      slot.error = std::current_exception();
    }
    slot.done.store(true, std::memory_order_release);
    const size_t finished = handout.finished.fetch_add(1, std::memory_order_acq_rel) + 1;
    if (finished >= handout.taken.load(std::memory_order_acquire) + handout.window / 2)
      handout.wake_caller();
  }
  handout.wake_caller();
}

// Cancels the handout when it goes out of scope: workers stop at their
// next block or file, and those waiting for room are woken.
class CancelOnExit {
 public:
  explicit CancelOnExit(Handout& handout) : handout_(handout) {}
  ~CancelOnExit() {
    std::lock_guard<std::mutex> lock(handout_.mutex);
    handout_.cancelled.store(true, std::memory_order_relaxed);
    handout_.more_taken.notify_all();
  }
  CancelOnExit(const CancelOnExit&) = delete;
  CancelOnExit& operator=(const CancelOnExit&) = delete;

 private:
  Handout& handout_;
};

// Steps 2 to 4 on the workers, step 5 here.
Result<void> read_side_by_side(const std::string& base,
                               const std::vector<std::string>& candidates,
                               std::optional<double> modified_before,
                               const ReadingContext& context, uint64_t* skipped_files,
                               const MakeReadFn& make_read, bool root_documents) {
  WorkerPool& pool = *context.pool;
  const size_t workers = std::min(pool.size(), candidates.size());
  std::vector<ReadFn> readers;
  for (size_t i = 0; i < pool.size(); ++i) readers.push_back(make_read());
  Handout handout(candidates.size(), kFilesPerWorker * workers);
  // The group waits for the workers before the handout goes away; the
  // cancellation, on the way out first, makes them stop.
  TaskGroup tasks(pool);
  CancelOnExit cancel_on_exit(handout);
  for (size_t i = 0; i < workers; ++i) {
    tasks.submit([&](size_t worker) {
      work(handout, base, candidates, modified_before, context, readers[worker],
           root_documents);
    });
  }

  for (size_t next = 0; next < handout.count; ++next) {
    Slot& slot = handout.slots[next % handout.window];
    if (!slot.done.load(std::memory_order_acquire)) {
      std::unique_lock<std::mutex> lock(handout.mutex);
      handout.caller_waiting = true;
      while (!slot.done.load(std::memory_order_acquire)) {
        if (handout.more_finished.wait_for(lock, kProgressInterval) ==
                std::cv_status::timeout &&
            context.progress) {
          lock.unlock();
          context.progress->on_bytes(handout.in_flight.load(std::memory_order_relaxed));
          lock.lock();
        }
      }
      handout.caller_waiting = false;
    }
    if (slot.error) std::rethrow_exception(slot.error);
    FileOutcome outcome = std::move(slot.outcome);
    slot.outcome = FileOutcome();
    slot.done.store(false, std::memory_order_relaxed);
    {
      std::lock_guard<std::mutex> lock(handout.mutex);
      handout.taken.store(next + 1, std::memory_order_release);
      if (handout.workers_waiting > 0) handout.more_taken.notify_all();
    }
    handout.in_flight.fetch_sub(outcome.disk_bytes, std::memory_order_relaxed);
    if (Result<void> taken = take(outcome, context.progress, skipped_files); !taken)
      return taken;
  }
  return {};
}

}  // namespace

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
                              const ReadingContext& context, uint64_t* skipped_files,
                              const AcceptFn& accept, const MakeReadFn& make_read,
                              bool root_documents) {
  // Stamps carry absolute paths; a relative root is joined to the working
  // directory without resolving links.
  std::error_code error;
  std::string base = std::filesystem::absolute(root, error).string();
  if (error) base = root;

  const std::vector<std::string> candidates =
      walk_candidates(base, accept, root_documents);
  if (context.progress) context.progress->on_candidates(candidates.size());
  if (candidates.empty()) return {};
  if (context.pool == nullptr || context.pool->size() == 0)
    return read_one_by_one(base, candidates, modified_before, context, skipped_files,
                           make_read, root_documents);
  return read_side_by_side(base, candidates, modified_before, context, skipped_files,
                           make_read, root_documents);
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
