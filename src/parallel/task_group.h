// The tasks one piece of work has handed to a WorkerPool, so that it can
// wait for them: for one of their results, or for all of them before the
// state they use goes away.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>

#include "parallel/worker_pool.h"

namespace lorebox {

class TaskGroup {
 public:
  // `pool` must have at least one worker and outlive the group.
  explicit TaskGroup(WorkerPool& pool) : pool_(pool) {}
  // Waits for every task submitted through the group, so that whatever
  // the tasks use may be destroyed right after the group.
  ~TaskGroup() { wait_all(); }
  TaskGroup(const TaskGroup&) = delete;
  TaskGroup& operator=(const TaskGroup&) = delete;

  // Number of workers in the pool.
  size_t workers() const { return pool_.size(); }

  // Runs `task` on the pool (WorkerPool::Task: it must not throw). Throws
  // only when the task cannot be queued, and then it will not run.
  void submit(WorkerPool::Task task);

  // Blocks until `ready()` is true or `timeout` has passed, and returns
  // ready(). `ready` is checked now and each time one of the group's tasks
  // ends; a task publishes its result before it ends, so a result the task
  // wrote is visible once `ready` sees it (use an atomic flag, stored last).
  bool wait_until(const std::function<bool()>& ready, std::chrono::milliseconds timeout);

  // Blocks until every task submitted so far has ended.
  void wait_all();

 private:
  WorkerPool& pool_;
  std::mutex mutex_;
  std::condition_variable ended_;
  size_t running_ = 0;
};

}  // namespace lorebox
