// What a run lends the transcript readers besides their options: the
// worker threads to read on, the progress observer, and test seams.
#pragma once

#include <functional>
#include <string>

#include "parallel/worker_pool.h"
#include "scan/progress.h"

namespace lorebox {

struct ReadingContext {
  // Workers that read files side by side; nullptr (or a pool without
  // workers) reads every file on the calling thread, one after another.
  // Either way the readers' results are the same. Must outlive the read.
  WorkerPool* pool = nullptr;
  // Told of progress, always on the calling thread; nullptr for none. Must
  // outlive the read.
  ProgressObserver* progress = nullptr;
  // Test seam: called with each file's path after its first settle and
  // before its open (to change the file in between, or to fail the way a
  // worker can), on the thread that reads the file. Empty outside tests.
  std::function<void(const std::string& path)> before_open_for_testing;
};

}  // namespace lorebox
