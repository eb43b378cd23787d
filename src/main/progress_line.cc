#include "main/progress_line.h"

#include <fmt/format.h>

#include "main/console.h"
#include "main/report.h"

namespace lorebox {

namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

}  // namespace

void ProgressLine::on_candidates(uint64_t count) {
  found_ += count;
  draw(false);
}

void ProgressLine::on_file_done(uint64_t bytes) {
  ++done_;
  bytes_ += bytes;
  current_file_bytes_ = 0;
  draw(false);
}

void ProgressLine::on_bytes(uint64_t bytes) {
  current_file_bytes_ = bytes;
  draw(false);
}

void ProgressLine::on_skipped(SkipReason reason) {
  ++done_;
  current_file_bytes_ = 0;
  switch (reason) {
    case SkipReason::Unavailable:
      ++unavailable_;
      break;
    case SkipReason::Changed:
      ++changed_;
      break;
    case SkipReason::NotAdmitted:
      ++not_admitted_;
      break;
  }
  draw(false);
}

void ProgressLine::draw(bool force) {
  const auto now = std::chrono::steady_clock::now();
  if (!force && now - last_draw_ < kRedrawInterval) return;
  last_draw_ = now;
  const double seconds = std::chrono::duration<double>(now - start_).count();
  const double megabytes = static_cast<double>(bytes_ + current_file_bytes_) / 1048576.0;
  const double rate = seconds > 0.0 ? megabytes / seconds : 0.0;
  // "\r" returns to the line's start and "\x1b[K" erases what was there.
  write_stderr(fmt::format("\r\x1b[K  {}/{} files, {:.1f} MB, {:.0f} MB/s", done_, found_,
                           megabytes, rate));
  shown_ = true;
}

void ProgressLine::clear() {
  if (!shown_) return;
  write_stderr("\r\x1b[K");
  shown_ = false;
}

void ProgressLine::report_skipped() {
  const uint64_t skipped = unavailable_ + changed_ + not_admitted_;
  if (!enabled_ || skipped == 0) return;
  std::string reasons;
  auto add = [&reasons](uint64_t count, const char* why) {
    if (count == 0) return;
    if (!reasons.empty()) reasons += ", ";
    reasons += fmt::format("{} {}", count, why);
  };
  add(changed_, "changed while being read");
  add(unavailable_, "gone, not a regular file, or behind a symbolic link");
  add(not_admitted_, "modified at or after the --modified-before bound");
  write_stderr(fmt::format("Skipped {} ({})\n", count_phrase(skipped, "file"), reasons));
}

}  // namespace lorebox
