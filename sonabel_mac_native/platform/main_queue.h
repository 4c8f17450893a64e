// The main queue: the one thread on which everything user-visible happens.
//
// Contract (every implementation):
//   - async(fn) runs fn later on the main thread, never inside the call.
//   - asyncAfter(seconds, fn) runs fn on the main thread no earlier than `seconds` from now.
//   - Work submitted for the same moment runs in submission order.
//   - Both calls are safe from any thread.
// Linux: GLib idle/timeout sources on the default main context. Tests: FakeMainQueue, a
// virtual clock that runs nothing until the test advances it.
#pragma once

#include <functional>

namespace quorvel {

class MainQueue {
 public:
  using Task = std::function<void()>;
  virtual ~MainQueue() = default;

  virtual void async(Task task) = 0;
  virtual void asyncAfter(double seconds, Task task) = 0;
};

}  // namespace quorvel
