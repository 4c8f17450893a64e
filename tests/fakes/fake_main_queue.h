// A main queue on a virtual clock: nothing runs until the test calls runUntilIdle() or
// advance(). Tasks run in time order, and in submission order at the same time, exactly as the
// real queue promises. Safe to submit from other threads; runs only on the test's thread.
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <mutex>
#include <utility>

#include "platform/main_queue.h"

namespace quorvel::testing {

class FakeMainQueue final : public MainQueue {
 public:
  void async(Task task) override { asyncAfter(0.0, std::move(task)); }
  void asyncAfter(double seconds, Task task) override {
    std::lock_guard lock(mutex_);
    tasks_.emplace(Key{now_ + (seconds < 0 ? 0.0 : seconds), next_++}, std::move(task));
  }
  size_t pending() const {
    std::lock_guard lock(mutex_);
    return tasks_.size();
  }

  // Runs everything due now, including work that due work queues for now. Returns how many
  // tasks ran. A bound stops a task that keeps re-queueing itself from hanging the test.
  size_t runUntilIdle(size_t bound = 100000) { return advance(0.0, bound); }

  // Moves the clock forward, running each task at its own time.
  size_t advance(double seconds, size_t bound = 100000) {
    double target;
    {
      std::lock_guard lock(mutex_);
      target = now_ + seconds;
    }
    size_t ran = 0;
    for (; ran < bound; ++ran) {
      Task task;
      {
        std::lock_guard lock(mutex_);
        auto it = tasks_.begin();
        if (it == tasks_.end() || it->first.first > target) break;
        now_ = std::max(now_, it->first.first);
        task = std::move(it->second);
        tasks_.erase(it);
      }
      task();
    }
    std::lock_guard lock(mutex_);
    now_ = std::max(now_, target);
    return ran;
  }

 private:
  using Key = std::pair<double, uint64_t>;
  mutable std::mutex mutex_;
  std::map<Key, Task> tasks_;
  uint64_t next_ = 0;
  double now_ = 0.0;
};

}  // namespace quorvel::testing
