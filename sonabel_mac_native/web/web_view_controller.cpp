#include "web/web_view_controller.h"

#include <utility>

#include "web/page_calls.h"

namespace quorvel {

std::string storedTheme(const DeepSeekPolisher& config) {
  auto stored = config.readConfig();
  auto theme = stored.find("theme");
  return theme != stored.end() && theme->is_string() ? theme->get<std::string>() : "light";
}

WebViewController::WebViewController(WebViewControllerServices services,
                                     std::weak_ptr<AppControllerPort> appDelegate)
    : services_(std::move(services)), appDelegate_(std::move(appDelegate)) {}

void WebViewController::loadView() {
  if (webView_) return;
  audioEngine_ = std::make_shared<AudioEngine>(services_.engine);
  audioEngine_->setAppDelegate(appDelegate_);

  auto view = services_.webViews.makeWebView();
  std::weak_ptr<AudioEngine> engine = audioEngine_;
  view->setMessageHandler("pywebview", [engine](const nlohmann::json& body) {
    if (auto strong = engine.lock()) strong->userContentControllerDidReceive(body);
  });
  view->addDocumentStartScript(page::bridgeShim());
  webView_ = view;

  // The view keeps its handlers for its whole life; they must not keep the controller alive.
  std::weak_ptr<WebViewController> self = weak_from_this();
  std::weak_ptr<WebView> weakView = view;
  view->setLoadFinishedHandler([self, weakView] {
    auto controller = self.lock();
    auto shown = weakView.lock();
    if (controller && shown) controller->webViewDidFinish(*shown);
  });
  audioEngine_->setWebView(view);
  view->setTransparentBackground();

  if (auto bundle = resourceBundle()) {
    view->loadFile(*bundle + "/ui.html", *bundle);
  } else {
    view->loadHTML(kUIErrorPage);
  }
}

void WebViewController::setSpeechLocale(const std::string& identifier) {
  if (audioEngine_) {
    audioEngine_->setSpeechLocale(identifier);
  } else {
    // Without a recording controller the choice is still kept for the next launch.
    AudioEngine::saveSpeechLocale(services_.engine.polisher, identifier);
  }
}

void WebViewController::toggleRecordingFromHotkey() {
  if (audioEngine_) audioEngine_->toggleRecordingFromHotkey();
}

std::string WebViewController::storedSpeechLocale() const {
  return AudioEngine::loadSpeechLocale(services_.engine.polisher);
}

void WebViewController::applyTheme(const std::string& theme) {
  if (webView_) webView_->evaluate(page::applyTheme(theme == "dark"));
}

void WebViewController::refreshUsage() {
  if (!webView_) return;
  if (auto usage = services_.engine.usage.loadRaw()) webView_->evaluate(page::refreshUsage(*usage));
}

void WebViewController::webViewDidFinish(ScriptEvaluator& view) {
  applyTheme(storedTheme(services_.engine.polisher));

  if (auto usage = services_.engine.usage.loadRaw()) view.evaluate(page::injectUsageData(*usage));
  if (auto history = services_.engine.history.load()) view.evaluate(page::injectHistory(*history));
  view.evaluate(page::updateUsageFromInjectedData());
}

std::optional<std::string> WebViewController::resourceBundle() {
  if (!bundle_) {
    bundle_.emplace();
    for (const auto& folder : services_.bundleSearchPaths) {
      std::string candidate = folder + "/" + kResourceBundleName;
      if (services_.files.readFile(candidate + "/ui.html")) {
        *bundle_ = candidate;
        break;
      }
    }
  }
  return *bundle_;
}

}  // namespace quorvel
