// A main queue on a virtual clock: nothing runs until the test calls runUntilIdle() or
// advance(). Tasks run in time order, and in submission order at the same time, exactly as the
// real queue promises. Safe to submit from other threads; runs only on the test's thread.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <utility>

#include "platform/main_queue.h"

namespace quorvel::testing {

class FakeMainQueue final : public MainQueue {
 public:
  void async(Task task) override { schedule(0.0, std::move(task)); }
  void asyncAfter(double seconds, Task task) override {
    schedule(seconds < 0 ? 0.0 : seconds, std::move(task));
  }

  double now() const {
    std::lock_guard lock(mutex_);
    return now_;
  }

  size_t pending() const {
    std::lock_guard lock(mutex_);
    return tasks_.size();
  }

  // Runs everything due now, including work that due work queues for now. Returns how many
  // tasks ran. A bound stops a task that keeps re-queueing itself from hanging the test.
  size_t runUntilIdle(size_t bound = 100000) { return runDueBy(now(), bound); }

  // Moves the clock forward, running each task at its own time.
  size_t advance(double seconds, size_t bound = 100000) {
    double target;
    {
      std::lock_guard lock(mutex_);
      target = now_ + seconds;
    }
    size_t ran = runDueBy(target, bound);
    std::lock_guard lock(mutex_);
    if (now_ < target) now_ = target;
    return ran;
  }

 private:
  using Key = std::pair<double, uint64_t>;

  void schedule(double delay, Task task) {
    std::lock_guard lock(mutex_);
    tasks_.emplace(Key{now_ + delay, next_++}, std::move(task));
  }

  size_t runDueBy(double deadline, size_t bound) {
    size_t ran = 0;
    while (ran < bound) {
      Task task;
      {
        std::lock_guard lock(mutex_);
        auto it = tasks_.begin();
        if (it == tasks_.end() || it->first.first > deadline) break;
        if (it->first.first > now_) now_ = it->first.first;
        task = std::move(it->second);
        tasks_.erase(it);
      }
      task();
      ++ran;
    }
    return ran;
  }

  mutable std::mutex mutex_;
  std::map<Key, Task> tasks_;
  uint64_t next_ = 0;
  double now_ = 0.0;
};

}  // namespace quorvel::testing
