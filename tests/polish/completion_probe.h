// Catches the one call of a chat completion, from whatever thread, and lets the test wait for
// it with a bound. Read the fields after wait() returned true (or, for a completion called on
// the test's own thread, at once).
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "polish/deepseek_polisher.h"

namespace quorvel::testing {

struct CompletionProbe {
  ChatCompletion completion() {
    return [this](std::optional<std::string> answer, std::optional<ChatError> failure) {
      std::lock_guard lock(mutex);
      text = std::move(answer);
      error = std::move(failure);
      onThisThread = std::this_thread::get_id() == testThread;
      ++calls;
      called.notify_all();
    };
  }
  bool wait() {
    std::unique_lock lock(mutex);
    return called.wait_for(lock, std::chrono::seconds(20), [&] { return calls > 0; });
  }

  std::mutex mutex;
  std::condition_variable called;
  const std::thread::id testThread = std::this_thread::get_id();
  int calls = 0;
  bool onThisThread = false;
  std::optional<std::string> text;
  std::optional<ChatError> error;
};

}  // namespace quorvel::testing
