#include "parallel/task_group.h"

#include <utility>

namespace lorebox {

void TaskGroup::submit(WorkerPool::Task task) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++running_;
  }
  try {
    pool_.submit([this, task = std::move(task)](size_t worker) {
      task(worker);
      // Notified under the lock: the group may be destroyed as soon as a
      // waiter sees running_ reach 0.
      std::lock_guard<std::mutex> lock(mutex_);
      --running_;
      ended_.notify_all();
    });
  } catch (...) {
    std::lock_guard<std::mutex> lock(mutex_);
    --running_;
    throw;
  }
}

bool TaskGroup::wait_until(const std::function<bool()>& ready,
                           std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  return ended_.wait_for(lock, timeout, ready);
}

void TaskGroup::wait_all() {
  std::unique_lock<std::mutex> lock(mutex_);
  ended_.wait(lock, [this] { return running_ == 0; });
}

}  // namespace lorebox
