// A self-updating progress line on standard error while transcripts are
// read, and a note on the files that were skipped. Both appear only when
// standard error is a terminal; otherwise nothing is written at all.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "scan/progress.h"

namespace lorebox {

class ProgressLine : public ProgressObserver {
 public:
  explicit ProgressLine(bool enabled) : enabled_(enabled) {}
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  // The observer to hand the readers: this line, or nullptr when it is
  // disabled.
  ProgressObserver* observer() { return enabled_ ? this : nullptr; }

  // Runs one reader (which reports to observer()) and clears the line
  // before returning the reader's result.
  template <typename Read>
  auto track(Read read) {
    auto result = read();
    if (enabled_) clear();
    return result;
  }

  // Says how many files were skipped and why, when there were any.
  void report_skipped();

  void on_candidates(uint64_t count) override;
  void on_file_done(uint64_t bytes) override;
  void on_bytes(uint64_t bytes) override;
  void on_skipped(SkipReason reason) override;

 private:
  void draw(bool force);
  void clear();

  bool enabled_;
  bool shown_ = false;
  uint64_t found_ = 0;
  uint64_t done_ = 0;
  uint64_t bytes_ = 0;               // bytes of the files done
  uint64_t current_file_bytes_ = 0;  // bytes so far of the file being read
  uint64_t unavailable_ = 0;
  uint64_t changed_ = 0;
  uint64_t not_admitted_ = 0;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point last_draw_{};
};

}  // namespace lorebox
