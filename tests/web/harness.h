// The product page for page tests, in the program's own WebKitGTK view: the bridge shim runs at
// document start, what the page posts is recorded, and scripts are evaluated with their value
// read back. Everything waits on its own event, with a bound. Local storage lives in a folder of
// the harness's own, so no test sees what another stored.
#pragma once

#include <nlohmann/json.hpp>

#include <memory>
#include <string>
#include <vector>

#include "fakes/temp_home.h"
#include "platform/linux/desktop/desktop_session.h"
#include "platform/linux/desktop/webkit_page_view.h"

namespace quorvel::testing {

class PageHarness {
 public:
  PageHarness();
  ~PageHarness();

  // (Re)loads ui.html from the bundle folder and waits for the load to finish.
  bool load();
  // Evaluates a script and returns its value as JSON (null for undefined or for a value JSON
  // cannot hold). Throws with the engine's message when the script throws.
  nlohmann::json value(const std::string& script);

  std::vector<nlohmann::json> messages;

 private:
  std::shared_ptr<WebKitPageView> view_;
  GtkWidget* window_ = nullptr;
  bool loaded_ = false;
};

}  // namespace quorvel::testing
