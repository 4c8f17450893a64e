// Catches the one call of a chat completion, from whatever thread, and lets the test wait for
// it with a bound.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "polish/deepseek_polisher.h"

namespace quorvel::testing {

class CompletionProbe {
 public:
  ChatCompletion completion() {
    return [this](std::optional<std::string> text, std::optional<ChatError> error) {
      std::lock_guard lock(mutex_);
      ++calls_;
      text_ = std::move(text);
      error_ = std::move(error);
      thread_ = std::this_thread::get_id();
      called_.notify_all();
    };
  }
  bool wait(std::chrono::seconds bound = std::chrono::seconds(20)) {
    std::unique_lock lock(mutex_);
    return called_.wait_for(lock, bound, [&] { return calls_ > 0; });
  }
  int calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
  }
  std::optional<std::string> text() const {
    std::lock_guard lock(mutex_);
    return text_;
  }
  std::optional<ChatError> error() const {
    std::lock_guard lock(mutex_);
    return error_;
  }
  bool calledOnThisThread() const {
    std::lock_guard lock(mutex_);
    return calls_ > 0 && thread_ == std::this_thread::get_id();
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable called_;
  int calls_ = 0;
  std::optional<std::string> text_;
  std::optional<ChatError> error_;
  std::thread::id thread_;
};

}  // namespace quorvel::testing
