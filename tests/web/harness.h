// The product page for page tests, in the program's own WebKitGTK view: the bridge shim runs at
// document start, what the page posts is recorded, and scripts are evaluated with their value
// read back. Everything waits on its own event, with a bound.
#pragma once

#include <nlohmann/json.hpp>

#include <memory>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "platform/linux/desktop/desktop_session.h"
#include "platform/linux/desktop/webkit_page_view.h"
#include "web/page_calls.h"

namespace quorvel::testing {

class PageHarness {
 public:
  PageHarness() {
    view_->addDocumentStartScript(page::bridgeShim());
    view_->setMessageHandler("pywebview",
                             [this](const nlohmann::json& m) { messages.push_back(m); });
    view_->setLoadFinishedHandler([this] { loaded_ = true; });
  }

  // (Re)loads ui.html from the bundle folder and waits for the load to finish.
  bool load() {
    loaded_ = false;
    view_->loadFile(QUORVEL_BUNDLE_DIR "/ui.html", QUORVEL_BUNDLE_DIR);
    return runUntil([this] { return loaded_; }, 20.0);
  }

  // Evaluates a script and returns its value as JSON (null for undefined or for a value JSON
  // cannot hold). Throws with the engine's message when the script throws.
  nlohmann::json value(const std::string& script) {
    std::optional<std::string> json, error;
    view_->evaluateForValue(script,
                            [&](auto v, auto e) { std::tie(json, error) = std::tuple(v, e); });
    // The callback holds references to this frame: without its answer nothing can go on safely.
    if (!runUntil([&] { return json || error; }, 30.0)) g_error("the page answered no script");
    if (error) throw std::runtime_error("script failed: " + *error);
    return nlohmann::json::parse(*json);
  }

  std::vector<nlohmann::json> messages;

 private:
  bool gtk_ = startGtk();
  std::shared_ptr<WebKitPageView> view_ = std::make_shared<WebKitPageView>();
  bool loaded_ = false;
};

}  // namespace quorvel::testing
