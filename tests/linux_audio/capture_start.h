// Starts an audio input and waits, bounded, for its answer: for tests and benchmarks that need
// capture running before they go on. The answer may come from the capture thread.
#pragma once

#include <chrono>
#include <future>
#include <memory>
#include <optional>
#include <string>

#include "platform/speech.h"

namespace quorvel::testing {

inline std::optional<std::string> startAndWait(
    AudioInput& input, AudioInput::LossHandler lost = [](std::string) {}) {
  auto answer = std::make_shared<std::promise<std::optional<std::string>>>();
  auto answered = answer->get_future();
  input.start([answer](std::optional<std::string> error) { answer->set_value(std::move(error)); },
              std::move(lost));
  if (answered.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
    input.stop();
    return "no answer to the start within a minute";
  }
  return answered.get();
}

}  // namespace quorvel::testing
