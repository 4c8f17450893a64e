// A WebKitGTK web view for page tests: the bridge shim runs at document start in every frame, a
// "pywebview" handler records what the page posts, alerts are recorded and closed, and scripts can
// be evaluated with their value read back. Everything waits on its own event, with a bound.
#pragma once

#include <nlohmann/json.hpp>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

typedef struct _WebKitWebView WebKitWebView;
typedef struct _GtkWidget GtkWidget;

namespace quorvel::test {

struct ScriptOutcome {
  bool ok = false;
  std::string error;     // the engine's message when the script threw or could not run
  nlohmann::json value;  // the script's value as JSON (null for undefined or non-JSON values)
};

class PageHarness {
 public:
  PageHarness();
  ~PageHarness();
  PageHarness(const PageHarness&) = delete;
  PageHarness& operator=(const PageHarness&) = delete;

  // Loads the product page from the bundle folder and waits for the load to finish.
  bool loadBundlePage();
  // Loads a bare document (the shim is still installed) and waits for the load to finish.
  bool loadBlank();

  ScriptOutcome evaluate(const std::string& script);
  // Evaluates a script that must succeed; returns its value.
  nlohmann::json value(const std::string& script);

  // Iterates the main context until pred() holds or the bound passes; returns pred().
  bool waitFor(const std::function<bool()>& pred,
               std::chrono::milliseconds bound = std::chrono::seconds(10));
  // Lets pending main-context work (messages posted by the page) arrive.
  void settle();

  // A real pointer click at a point of the view, as the user's hand would give it.
  void clickAt(double x, double y);
  // The text on the clipboard, or nothing.
  std::optional<std::string> clipboardText();

  // Writes a PNG of what the view shows; returns the image size on success.
  std::optional<std::pair<int, int>> snapshot(const std::string& pngPath);

  const std::vector<nlohmann::json>& messages() const { return messages_; }
  void clearMessages() { messages_.clear(); }
  const std::vector<std::string>& alerts() const { return alerts_; }

  // Called from the signal handlers.
  void recordMessage(nlohmann::json message) { messages_.push_back(std::move(message)); }
  void recordAlert(std::string text) { alerts_.push_back(std::move(text)); }
  void markLoaded() { loaded_ = true; }

 private:
  bool waitForLoad();

  GtkWidget* window_ = nullptr;
  WebKitWebView* view_ = nullptr;
  bool loaded_ = false;
  std::vector<nlohmann::json> messages_;
  std::vector<std::string> alerts_;
};

std::string bundlePagePath();
std::string screenshotDir();

}  // namespace quorvel::test
