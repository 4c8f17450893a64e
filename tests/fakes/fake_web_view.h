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
    documentStartScripts.push_back(source);
  }
  void setMessageHandler(const std::string& name, MessageHandler handler) override {
    handlerName = name;
    messageHandler = std::move(handler);
  }
  void setTransparentBackground() override { transparent = true; }
  void loadFile(const std::string& path, const std::string& allowedDirectory) override {
    loadedFile = path;
    readableDirectory = allowedDirectory;
  }
  void loadHTML(const std::string& html) override { loadedHTML = html; }
  void setLoadFinishedHandler(std::function<void()> handler) override {
    loadFinished = std::move(handler);
  }

  // Simulates the page posting a message / a main-frame load finishing.
  void post(const nlohmann::json& body) {
    if (messageHandler && body.is_object()) messageHandler(body);
  }
  void finishLoad() {
    if (loadFinished) loadFinished();
  }

  std::vector<std::string> scripts;
  std::vector<std::string> documentStartScripts;
  std::string handlerName;
  MessageHandler messageHandler;
  std::function<void()> loadFinished;
  bool transparent = false;
  std::optional<std::string> loadedFile;
  std::optional<std::string> readableDirectory;
  std::optional<std::string> loadedHTML;
  std::optional<std::string> failWith;
};

class FakeWebViewFactory final : public WebViewFactory {
 public:
  std::shared_ptr<WebView> makeWebView() override {
    auto view = std::make_shared<FakeWebView>();
    made.push_back(view);
    return view;
  }
  std::vector<std::shared_ptr<FakeWebView>> made;
};

}  // namespace quorvel::testing
