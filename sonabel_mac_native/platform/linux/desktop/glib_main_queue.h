// MainQueue on the GLib default main context (the GTK main loop).
//
// Implements: async and asyncAfter from any thread; work due at the same moment runs in
// submission order, never inside the submitting call. Work still queued when the queue is
// destroyed is dropped. Construct and destroy it on the loop's thread: its GLib source is made
// there, so that posting threads never create anything GLib frees on the loop. Missing: nothing.
#pragma once

#include <memory>

#include "platform/main_queue.h"

namespace quorvel {

class GLibMainQueue final : public MainQueue {
 public:
  GLibMainQueue();
  ~GLibMainQueue() override;
  GLibMainQueue(const GLibMainQueue&) = delete;
  GLibMainQueue& operator=(const GLibMainQueue&) = delete;

  void async(Task task) override;
  void asyncAfter(double seconds, Task task) override;

  struct Core;

 private:
  std::shared_ptr<Core> core_;
};

}  // namespace quorvel
