#include "parallel/worker_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "parallel/task_group.h"

namespace lorebox {
namespace {

TEST(WorkerPoolTest, EveryTaskRunsOnceOnAWorkerOfThePool) {
  for (size_t threads : {1, 2, 7}) {
    WorkerPool pool(threads);
    ASSERT_EQ(pool.size(), threads);
    std::vector<std::atomic<int>> runs(500);
    std::atomic<bool> bad_worker = false;
    {
      TaskGroup tasks(pool);
      for (size_t i = 0; i < runs.size(); ++i) {
        tasks.submit([&, i](size_t worker) {
          if (worker >= threads) bad_worker = true;
          runs[i].fetch_add(1);
        });
      }
      tasks.wait_all();
      for (const std::atomic<int>& count : runs) EXPECT_EQ(count.load(), 1);
    }
    EXPECT_FALSE(bad_worker);
  }
}

TEST(WorkerPoolTest, TasksOfOneWorkerNeverOverlap) {
  // What a worker index guards (per-worker parsers, deflate streams) is
  // used by one task at a time.
  WorkerPool pool(3);
  std::vector<std::atomic<int>> busy(pool.size());
  std::atomic<bool> overlapped = false;
  TaskGroup tasks(pool);
  for (int i = 0; i < 300; ++i) {
    tasks.submit([&](size_t worker) {
      if (busy[worker].fetch_add(1) != 0) overlapped = true;
      std::this_thread::yield();
      busy[worker].fetch_sub(1);
    });
  }
  tasks.wait_all();
  EXPECT_FALSE(overlapped);
}

TEST(TaskGroupTest, WaitUntilSeesAResultOrTimesOut) {
  WorkerPool pool(2);
  TaskGroup tasks(pool);
  std::atomic<bool> release = false;
  std::atomic<bool> done = false;
  int result = 0;
  tasks.submit([&](size_t) {
    while (!release) std::this_thread::yield();
    result = 42;  // published by the store below
    done.store(true, std::memory_order_release);
  });
  auto ready = [&] { return done.load(std::memory_order_acquire); };
  EXPECT_FALSE(tasks.wait_until(ready, std::chrono::milliseconds(20)));
  release = true;
  while (!tasks.wait_until(ready, std::chrono::milliseconds(1000))) {
  }
  EXPECT_EQ(result, 42);
}

TEST(TaskGroupTest, DestroyingTheGroupWaitsForItsTasks) {
  WorkerPool pool(2);
  auto counter = std::make_unique<std::atomic<int>>(0);
  {
    TaskGroup tasks(pool);
    for (int i = 0; i < 20; ++i) {
      tasks.submit([&counter](size_t) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        counter->fetch_add(1);
      });
    }
  }
  EXPECT_EQ(counter->load(), 20);
}

}  // namespace
}  // namespace lorebox
