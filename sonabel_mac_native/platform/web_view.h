// The web view that shows the page, as its host needs it.
//
// Contract (main thread only):
//   - addDocumentStartScript: runs `source` at document start, before any page script, in
//     every frame of every later load.
//   - setMessageHandler: page posts to window.webkit.messageHandlers.<name>.postMessage(obj)
//     reach `handler` on the main thread as a JSON object; bodies that are not objects are
//     dropped.
//   - loadFile: loads a local file; navigation to anything outside `allowedDirectory` (and new
//     windows) is refused, so the page cannot leave the program's own files.
//   - loadHTML: loads a page from text with no base location.
//   - setLoadFinishedHandler: called after every finished load of the main frame (reloads and
//     failed loads included).
//   - Script dialogs (alert, confirm) are shown as the desktop's own dialogs.
//   - evaluate (from ScriptEvaluator): runs in the main frame, in the order issued.
// Linux: WebKitGTK 4.1. Tests: a recorder (tests/fakes/fake_web_view.h).
#pragma once

#include <functional>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "platform/script_evaluator.h"

namespace quorvel {

class WebView : public ScriptEvaluator {
 public:
  using MessageHandler = std::function<void(const nlohmann::json& body)>;

  virtual void addDocumentStartScript(const std::string& source) = 0;
  virtual void setMessageHandler(const std::string& name, MessageHandler handler) = 0;
  virtual void setTransparentBackground() = 0;
  virtual void loadFile(const std::string& path, const std::string& allowedDirectory) = 0;
  virtual void loadHTML(const std::string& html) = 0;
  virtual void setLoadFinishedHandler(std::function<void()> handler) = 0;
};

class WebViewFactory {
 public:
  virtual ~WebViewFactory() = default;
  virtual std::shared_ptr<WebView> makeWebView() = 0;
};

}  // namespace quorvel
