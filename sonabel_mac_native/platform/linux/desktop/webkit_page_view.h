// WebView on WebKitGTK 4.1.
//
// Implements: document-start user scripts in all frames, one named script message handler
// delivering object bodies as JSON, a transparent background, file loads confined to one
// folder (navigations elsewhere and new windows are refused, http(s) sub-resources are blocked
// by a content filter; loads wait until it has compiled), HTML loads, main-frame load-finished
// reports, alert/confirm as GTK dialogs, ordered script evaluation (error 601, an unsupported
// result type, counts as success). Missing: prompt() dialogs show WebKit's own default.
#pragma once

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/web_view.h"

namespace quorvel {

class WebKitPageView final : public WebView {
 public:
  WebKitPageView();
  ~WebKitPageView() override;
  WebKitPageView(const WebKitPageView&) = delete;
  WebKitPageView& operator=(const WebKitPageView&) = delete;

  void evaluate(const std::string& script) override;
  void evaluate(const std::string& script, Completion done) override;
  void addDocumentStartScript(const std::string& source) override;
  void setMessageHandler(const std::string& name, MessageHandler handler) override;
  void setTransparentBackground() override;
  void loadFile(const std::string& path, const std::string& allowedDirectory) override;
  void loadHTML(const std::string& html) override;
  void setLoadFinishedHandler(std::function<void()> handler) override;

  // The script's value as JSON text ("null" for undefined), or the error; on the main thread.
  using ValueDone =
      std::function<void(std::optional<std::string> json, std::optional<std::string> error)>;
  void evaluateForValue(const std::string& script, ValueDone done);

  GtkWidget* widget() const { return GTK_WIDGET(view_); }

  // Whether the view may navigate to `uri` (exposed for the policy callback).
  bool allowsNavigationTo(const std::string& uri) const;
  void deliverMessage(const std::string& name, WebKitJavascriptResult* result);
  void loadFinished() const;

  // Loads asked for before the content filter is in place wait for it.
  struct FilterGate {
    bool ready = false;
    std::function<void()> pendingLoad;
  };

 private:
  void installRemoteContentFilter();
  void whenFiltered(std::function<void()> load);

  WebKitUserContentManager* contentManager_;
  ::WebKitWebView* view_;
  std::map<std::string, MessageHandler> handlers_;
  std::function<void()> onLoadFinished_;
  std::string allowedPrefix_;
  std::shared_ptr<FilterGate> filterGate_ = std::make_shared<FilterGate>();
};

class WebKitPageViewFactory final : public WebViewFactory {
 public:
  std::shared_ptr<WebView> makeWebView() override;
  // The WebKit side of a view this factory made, found by identity (the logic hands views
  // around as the port only), for the GTK code that shows it; null for any other view.
  std::shared_ptr<WebKitPageView> made(const WebView* view) const;

 private:
  std::vector<std::weak_ptr<WebKitPageView>> made_;
};

}  // namespace quorvel
