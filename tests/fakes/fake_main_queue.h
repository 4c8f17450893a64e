// A main queue on a virtual clock: nothing runs until the test calls runUntilIdle() or
// advance(). Tasks run in time order, and in submission order at the same time, exactly as the
// real queue promises. Safe to submit from other threads; runs only on the test's thread.
#pragma once

#include <algorithm>
#include <map>
#include <mutex>

#include "platform/main_queue.h"

namespace quorvel::testing {

class FakeMainQueue final : public MainQueue {
 public:
  void async(Task task) override { asyncAfter(0.0, std::move(task)); }
  void asyncAfter(double seconds, Task task) override {
    std::lock_guard lock(mutex_);
    // A multimap puts a task after those already due at the same time.
    tasks_.emplace(now_ + std::max(seconds, 0.0), std::move(task));
  }

  // Runs everything due now, including work that due work queues for now. Returns how many
  // tasks ran. A bound stops a task that keeps re-queueing itself from hanging the test.
  size_t runUntilIdle(size_t bound = 100000) { return advance(0.0, bound); }

  // Moves the clock forward, running each task at its own time.
  size_t advance(double seconds, size_t bound = 100000) {
    std::unique_lock lock(mutex_);
    const double target = now_ + seconds;
    size_t ran = 0;
    for (; ran < bound && !tasks_.empty() && tasks_.begin()->first <= target; ++ran) {
      auto due = tasks_.extract(tasks_.begin());
      now_ = due.key();
      lock.unlock();
      due.mapped()();
      lock.lock();
    }
    now_ = std::max(now_, target);
    return ran;
  }

 private:
  std::mutex mutex_;
  std::multimap<double, Task> tasks_;
  double now_ = 0.0;
};

}  // namespace quorvel::testing
