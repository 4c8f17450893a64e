// The page's web view as the logic sees it: a place to evaluate page calls.
//
// Contract:
//   - Called on the main thread only; scripts run in the page's main frame in the order issued.
//   - evaluate(js) ignores the outcome.
//   - evaluate(js, done) calls done once on the main thread: with no error when the script ran
//     (whatever it returned), with the error's text when it threw or could not run.
// Linux: a WebKitGTK web view. Tests: a recorder that can be told to fail.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace quorvel {

class ScriptEvaluator {
 public:
  using Completion = std::function<void(std::optional<std::string> error)>;
  virtual ~ScriptEvaluator() = default;

  virtual void evaluate(const std::string& script) = 0;
  virtual void evaluate(const std::string& script, Completion done) = 0;
};

}  // namespace quorvel
