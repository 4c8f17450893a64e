// MainQueue on the GLib default main context (the GTK main loop).
//
// Implements: async and asyncAfter from any thread; work due at the same moment runs in
// submission order, never inside the submitting call. Missing: nothing.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <utility>

#include "platform/main_queue.h"

namespace quorvel {

class GLibMainQueue final : public MainQueue {
 public:
  GLibMainQueue() = default;
  GLibMainQueue(const GLibMainQueue&) = delete;
  GLibMainQueue& operator=(const GLibMainQueue&) = delete;

  void async(Task task) override;
  void asyncAfter(double seconds, Task task) override;

  // Runs everything due now, in (due time, submission) order. Called by the GLib sources.
  void runDue();

 private:
  void wakeAt(int64_t dueMicros);

  std::mutex mutex_;
  std::map<std::pair<int64_t, uint64_t>, Task> tasks_;
  uint64_t next_ = 0;
};

}  // namespace quorvel
