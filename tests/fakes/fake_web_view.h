// A web view that records what the host did to it and evaluates nothing. Tests call the load
// handler the host installed by hand.
#pragma once

#include <string>
#include <vector>

#include "platform/web_view.h"

namespace quorvel::testing {

class FakeWebView final : public WebView {
 public:
  void evaluate(const std::string& script) override { scripts.push_back(script); }
  void evaluate(const std::string& script, Completion done) override {
    scripts.push_back(script);
    if (done) done(std::nullopt);
  }
  void addDocumentStartScript(const std::string& source) override { startScript = source; }
  void setMessageHandler(const std::string&, MessageHandler) override {}
  void setTransparentBackground() override { transparent = true; }
  void loadFile(const std::string& path, const std::string& allowedDirectory) override {
    loaded = path + " reading " + allowedDirectory;
  }
  void loadHTML(const std::string& html) override { loaded = html; }
  void setLoadFinishedHandler(std::function<void()> handler) override {
    loadFinished = std::move(handler);
  }

  std::vector<std::string> scripts;
  std::string startScript, loaded;
  std::function<void()> loadFinished;
  bool transparent = false;
};

class FakeWebViewFactory final : public WebViewFactory {
 public:
  std::shared_ptr<WebView> makeWebView() override {
    return made.emplace_back(std::make_shared<FakeWebView>());
  }
  std::vector<std::shared_ptr<FakeWebView>> made;
};

}  // namespace quorvel::testing
