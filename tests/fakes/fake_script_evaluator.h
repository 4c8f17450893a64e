// A web view that records every script it is given. Completions report that the script ran, on
// a later turn of the main queue.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/main_queue.h"
#include "platform/script_evaluator.h"

namespace quorvel::testing {

class FakeScriptEvaluator final : public ScriptEvaluator {
 public:
  explicit FakeScriptEvaluator(MainQueue& queue) : queue_(queue) {}

  void evaluate(const std::string& script) override { scripts.push_back(script); }
  void evaluate(const std::string& script, Completion done) override {
    scripts.push_back(script);
    queue_.async([done = std::move(done)] { done(std::nullopt); });
  }

  std::vector<std::string> scripts;

 private:
  MainQueue& queue_;
};

}  // namespace quorvel::testing
