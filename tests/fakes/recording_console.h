// Collects console lines so tests can compare them byte for byte.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/console.h"

namespace quorvel::testing {

class RecordingConsole final : public Console {
 public:
  void line(const std::string& text) override {
    std::lock_guard lock(mutex_);
    lines_.push_back(text);
  }
  std::vector<std::string> lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
  }
  void clear() {
    std::lock_guard lock(mutex_);
    lines_.clear();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

}  // namespace quorvel::testing
