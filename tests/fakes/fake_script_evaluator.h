// A web view that records every script it is given. Completions are answered on a later turn
// of the main queue, with the error the test chose (none by default).
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
    withCompletion.push_back(script);
    queue_.async([done = std::move(done), error = failWith] { done(error); });
  }

  void clear() {
    scripts.clear();
    withCompletion.clear();
  }

  std::vector<std::string> scripts;
  std::vector<std::string> withCompletion;  // the scripts whose outcome was asked for
  std::optional<std::string> failWith;      // the error every completion reports, when set

 private:
  MainQueue& queue_;
};

}  // namespace quorvel::testing
