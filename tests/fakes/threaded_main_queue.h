// A main queue for tests of code that posts from real threads (a recogniser's worker, a
// capture thread): work waits in a queue until the test's thread drains it, so the "main
// thread" is the test's own. Waiting is bounded and wakes on the posted work itself, never on
// a sleep. asyncAfter runs no earlier than its delay, measured on the steady clock.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

#include "platform/main_queue.h"

namespace quorvel::testing {

class ThreadedMainQueue final : public MainQueue {
 public:
  using Clock = std::chrono::steady_clock;

  void async(Task task) override { post(Clock::now(), std::move(task)); }
  void asyncAfter(double seconds, Task task) override {
    post(Clock::now() + std::chrono::duration_cast<Clock::duration>(
                            std::chrono::duration<double>(seconds < 0 ? 0 : seconds)),
         std::move(task));
  }

  // Runs queued work on the calling thread until `done()` holds, or until `timeout` has
  // passed. Returns whether `done()` held.
  bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
      if (done()) return true;
      Task task;
      {
        std::unique_lock lock(mutex_);
        for (;;) {
          auto due = dueTask();
          if (due != tasks_.end()) {
            task = std::move(due->second);
            tasks_.erase(due);
            break;
          }
          auto wakeAt = deadline;
          for (const auto& [at, _] : tasks_) wakeAt = std::min(wakeAt, at);
          if (Clock::now() >= deadline) return done();
          changed_.wait_until(lock, wakeAt);
        }
      }
      task();
    }
  }

  // Runs whatever is due now, without waiting.
  size_t runPending() {
    size_t ran = 0;
    for (;;) {
      Task task;
      {
        std::lock_guard lock(mutex_);
        auto due = dueTask();
        if (due == tasks_.end()) return ran;
        task = std::move(due->second);
        tasks_.erase(due);
      }
      task();
      ++ran;
    }
  }

 private:
  using Entry = std::pair<Clock::time_point, Task>;

  void post(Clock::time_point at, Task task) {
    {
      std::lock_guard lock(mutex_);
      tasks_.emplace_back(at, std::move(task));
    }
    changed_.notify_all();
  }

  // The earliest due entry; among equal times the first posted (entries stay in post order).
  std::deque<Entry>::iterator dueTask() {
    const auto now = Clock::now();
    auto best = tasks_.end();
    for (auto it = tasks_.begin(); it != tasks_.end(); ++it) {
      if (it->first <= now && (best == tasks_.end() || it->first < best->first)) best = it;
    }
    return best;
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Entry> tasks_;
};

}  // namespace quorvel::testing
