// A hook for a progress display while transcripts are read. read_transcripts
// reports to the observer of its ReadingContext, always on the thread that
// called it; calls are cheap and rare (per file, and every few MB or a
// tenth of a second while files are read), never per line.
#pragma once

#include <cstdint>

namespace lorebox {

// Why a candidate file was skipped.
enum class SkipReason {
  Unavailable,  // missing, behind a link below the root, or not a regular file
  Changed,      // changed between its first check and its open
  NotAdmitted,  // not modified before the --modified-before bound
};

// Receives progress from read_transcripts. Every candidate announced by
// on_candidates ends in exactly one on_file_done or on_skipped call, unless
// a strict-mode failure stops the reading.
class ProgressObserver {
 public:
  virtual ~ProgressObserver() = default;
  // A root's walk found this many candidate files; they are read next.
  virtual void on_candidates(uint64_t count) = 0;
  // The next file in walk order was read; `bytes` is what it consumed from
  // disk (its compressed size for a .jsonl.zst file).
  virtual void on_file_done(uint64_t bytes) = 0;
  // Bytes read from disk so far of the files not yet reported done (the
  // current file when files are read one at a time; the files in flight
  // when they are read side by side). It grows between two on_file_done
  // or on_skipped calls. Called every few MB while a long file is read
  // alone, or every tenth of a second while files are read side by side.
  virtual void on_bytes(uint64_t bytes) = 0;
  // A candidate was skipped by the snapshot checks.
  virtual void on_skipped(SkipReason reason) = 0;
};

}  // namespace lorebox
