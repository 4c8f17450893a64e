#include "web/harness.h"

#include <stdexcept>

#include "web/page_calls.h"

namespace quorvel::testing {

PageHarness::PageHarness() {
  startGtk();
  view_ = std::make_shared<WebKitPageView>();
  window_ = gtk_offscreen_window_new();
  gtk_window_set_default_size(GTK_WINDOW(window_), 440, 420);
  gtk_container_add(GTK_CONTAINER(window_), view_->widget());
  gtk_widget_show_all(window_);
  view_->addDocumentStartScript(page::bridgeShim());
  view_->setMessageHandler("pywebview",
                           [this](const nlohmann::json& body) { messages.push_back(body); });
  view_->setLoadFinishedHandler([this] { loaded_ = true; });
}

PageHarness::~PageHarness() {
  view_.reset();
  gtk_widget_destroy(window_);
  drainMainLoop();
}

bool PageHarness::load() {
  loaded_ = false;
  view_->loadFile(QUORVEL_BUNDLE_DIR "/ui.html", QUORVEL_BUNDLE_DIR);
  return runUntil([this] { return loaded_; }, 20.0);
}

nlohmann::json PageHarness::value(const std::string& script) {
  std::optional<std::string> json, error;
  bool done = false;
  view_->evaluateForValue(script, [&](auto value, auto failure) {
    json = value;
    error = failure;
    done = true;
  });
  // The callback holds references to this frame: without its answer nothing can go on safely.
  if (!runUntil([&] { return done; }, 30.0)) g_error("the page did not answer a script");
  if (error) throw std::runtime_error("script failed: " + *error);
  return nlohmann::json::parse(*json);
}

}  // namespace quorvel::testing
