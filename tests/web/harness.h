// A WebKitGTK web view for page tests: the bridge shim runs at document start in every frame, a
// "pywebview" handler records what the page posts, alerts are recorded and closed, and scripts
// can be evaluated with their value read back. Everything waits on its own event, with a bound.
#pragma once

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <vector>

#include "platform/linux/desktop/desktop_session.h"

typedef struct _WebKitWebView WebKitWebView;

namespace quorvel::testing {

struct ScriptOutcome {
  bool ok = false;
  std::string error;     // the engine's message when the script threw or could not run
  nlohmann::json value;  // the script's value as JSON (null for undefined or non-JSON values)
};

class PageHarness {
 public:
  PageHarness();
  ~PageHarness();

  // Loads the product page from the bundle folder, or a bare document (the shim is installed
  // in both), and waits for the load to finish.
  bool load(bool productPage);
  ScriptOutcome evaluate(const std::string& script);
  // Evaluates a script that must succeed; returns its value.
  nlohmann::json value(const std::string& script);
  // Lets messages the page posted so far arrive: a round trip through the web process.
  void settle() { evaluate("0"); }
  // A real pointer click at a point of the view, as the user's hand would give it.
  void clickAt(double x, double y);
  std::optional<std::string> clipboardText();

  std::vector<nlohmann::json> messages;
  std::vector<std::string> alerts;
  bool loaded = false;

 private:
  GtkWidget* window_ = nullptr;
  WebKitWebView* view_ = nullptr;
};

}  // namespace quorvel::testing
