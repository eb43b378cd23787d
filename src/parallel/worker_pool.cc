// Workers are POSIX threads with a small stack of their own: the default
// (the stack limit, often 8 MiB each) counts against a process's data-size
// limit, and the readers and the compressor need far less, since none of
// them recurses deeply.
#include "parallel/worker_pool.h"

#include <utility>

namespace lorebox {

namespace {

constexpr size_t kStackSize = size_t{1} << 20;

}  // namespace

WorkerPool::WorkerPool(size_t threads) {
  // Reserved up front: a thread's start record must not move once the
  // thread runs.
  starts_.reserve(threads);
  threads_.reserve(threads);
  pthread_attr_t attributes;
  if (::pthread_attr_init(&attributes) != 0) return;
  ::pthread_attr_setstacksize(&attributes, kStackSize);
  for (size_t i = 0; i < threads; ++i) {
    starts_.push_back(Start{this, i});
    pthread_t thread;
    if (::pthread_create(&thread, &attributes, &WorkerPool::thread_main,
                         &starts_.back()) != 0) {
      starts_.pop_back();
      break;
    }
    threads_.push_back(thread);
  }
  ::pthread_attr_destroy(&attributes);
}

WorkerPool::~WorkerPool() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  for (pthread_t thread : threads_) ::pthread_join(thread, nullptr);
}

void WorkerPool::submit(Task task) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back(std::move(task));
  }
  wake_.notify_one();
}

void* WorkerPool::thread_main(void* start) {
  const Start* where = static_cast<const Start*>(start);
  where->pool->work(where->index);
  return nullptr;
}

void WorkerPool::work(size_t index) {
  while (true) {
    Task task;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (stopping_) return;
      task = std::move(queue_.front());
      queue_.pop_front();
    }
    task(index);
  }
}

}  // namespace lorebox
