// A fixed set of worker threads that run submitted tasks in submission
// order (each on whichever worker is free first).
#pragma once

#include <pthread.h>

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

namespace lorebox {

class WorkerPool {
 public:
  // A unit of work; `worker` is the index (0 to size() - 1) of the thread
  // running it, so a task can use state that belongs to that thread alone.
  // A task must not throw: one that does ends the process. Callers catch
  // inside the task and carry the exception to their own thread.
  using Task = std::function<void(size_t worker)>;

  // Starts up to `threads` workers. When the system refuses a thread (a
  // limit on threads or memory), the pool keeps the ones it has: size()
  // says how many, and may be 0, in which case nothing submitted ever runs.
  explicit WorkerPool(size_t threads);
  // Lets the running tasks end and joins every worker; tasks still queued
  // are dropped (the pool's users wait for their own tasks first).
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  size_t size() const { return threads_.size(); }

  // Queues a task. Throws only what allocating its queue slot throws, and
  // then nothing was queued.
  void submit(Task task);

 private:
  struct Start {
    WorkerPool* pool;
    size_t index;
  };
  static void* thread_main(void* start);
  void work(size_t index);

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Task> queue_;
  bool stopping_ = false;
  std::vector<pthread_t> threads_;
  std::vector<Start> starts_;
};

}  // namespace lorebox
