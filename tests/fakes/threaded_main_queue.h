// A main queue for tests of code that posts from real threads (a recogniser's worker, a
// capture thread): work waits in a queue until the test's thread drains it, so the "main
// thread" is the test's own. Waiting is bounded and wakes on the posted work itself, never on
// a sleep. asyncAfter runs no earlier than its delay, measured on the steady clock.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>

#include "platform/main_queue.h"

namespace quorvel::testing {

class ThreadedMainQueue final : public MainQueue {
 public:
  using Clock = std::chrono::steady_clock;

  void async(Task task) override { asyncAfter(0, std::move(task)); }
  void asyncAfter(double seconds, Task task) override {
    const auto due = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                        std::chrono::duration<double>(std::max(0.0, seconds)));
    std::lock_guard lock(mutex_);
    tasks_.emplace(due, std::move(task));  // after those due at the same time
    changed_.notify_all();
  }

  // Runs queued work on the calling thread, earliest due first, until `done()` holds or
  // `timeout` has passed. Returns whether `done()` held.
  bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!done()) {
      std::unique_lock lock(mutex_);
      while (tasks_.empty() || tasks_.begin()->first > Clock::now()) {
        if (Clock::now() >= deadline) return done();
        changed_.wait_until(lock,
                            tasks_.empty() ? deadline : std::min(deadline, tasks_.begin()->first));
      }
      Task task = std::move(tasks_.begin()->second);
      tasks_.erase(tasks_.begin());
      lock.unlock();
      task();
    }
    return true;
  }

  // Runs whatever is due now, without waiting.
  void runPending() {
    runUntil([] { return false; }, std::chrono::milliseconds(0));
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::multimap<Clock::time_point, Task> tasks_;
};

}  // namespace quorvel::testing
