// A web view that records what the host did to it and evaluates nothing. Tests fire the load
// and message callbacks by hand, and can make evaluations fail.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/web_view.h"

namespace quorvel::testing {

class FakeWebView final : public WebView {
 public:
  void evaluate(const std::string& script) override { scripts.push_back(script); }
  void evaluate(const std::string& script, Completion done) override {
    scripts.push_back(script);
    if (done) done(failWith);
  }
  void addDocumentStartScript(const std::string& source) override {
    startScripts.push_back(source);
  }
  void setMessageHandler(const std::string& name, MessageHandler handler) override {
    handlerName = name;
    messageHandler = std::move(handler);
  }
  void setTransparentBackground() override { transparent = true; }
  void loadFile(const std::string& path, const std::string& allowedDirectory) override {
    loaded = path + " reading " + allowedDirectory;
  }
  void loadHTML(const std::string& html) override { loaded = html; }
  void setLoadFinishedHandler(std::function<void()> handler) override {
    loadFinished = std::move(handler);
  }

  // The page posting a message (objects only, as the real view) / a main-frame load finishing.
  void post(const nlohmann::json& body) {
    if (messageHandler && body.is_object()) messageHandler(body);
  }
  void finishLoad() {
    if (loadFinished) loadFinished();
  }

  std::vector<std::string> scripts, startScripts;
  std::string handlerName, loaded;
  MessageHandler messageHandler;
  std::function<void()> loadFinished;
  bool transparent = false;
  std::optional<std::string> failWith;
};

class FakeWebViewFactory final : public WebViewFactory {
 public:
  std::shared_ptr<WebView> makeWebView() override {
    return made.emplace_back(std::make_shared<FakeWebView>());
  }
  std::vector<std::shared_ptr<FakeWebView>> made;
};

}  // namespace quorvel::testing
