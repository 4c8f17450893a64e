// WebViewController: hosts the page. It builds the web view and the one AudioEngine, installs
// the bridge shim, loads ui.html from the resource bundle and, after every finished page load,
// hands the page its stored theme, usage statistics and history.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/app_controller.h"
#include "platform/file_system.h"
#include "platform/web_view.h"
#include "speech/audio_engine.h"
#include "web/page_host.h"

namespace quorvel {

inline constexpr const char* kResourceBundleName = "sonabel-mac-native_sonabel-mac-native.bundle";
inline constexpr const char* kUIErrorPage =
    "<html><body><h1>Error loading ui.html</h1></body></html>";

struct WebViewControllerServices {
  WebViewFactory& webViews;
  AudioEngineServices engine;
  FileSystem& files;
  // Folders that may hold the resource bundle, most preferred first.
  std::vector<std::string> bundleSearchPaths;
};

class WebViewController final : public PageHost,
                                public std::enable_shared_from_this<WebViewController> {
 public:
  WebViewController(WebViewControllerServices services,
                    std::weak_ptr<AppControllerPort> appDelegate);

  void loadView() override;
  std::shared_ptr<WebView> webView() const override { return webView_; }
  std::shared_ptr<AudioEngine> audioEngine() const { return audioEngine_; }

  bool hasRecorder() const override { return audioEngine_ != nullptr; }
  bool isRecording() const override { return audioEngine_ && audioEngine_->isRecording(); }
  void setSpeechLocale(const std::string& identifier) override;
  void toggleRecordingFromHotkey() override;
  std::string storedSpeechLocale() const override;
  void applyTheme(const std::string& theme) override;
  void refreshUsage() override;

  // The page-load injection, run after every finished main-frame load.
  void webViewDidFinish(ScriptEvaluator& view);

  // The bundle folder: the first search path whose bundle holds ui.html; once per process.
  std::optional<std::string> resourceBundle();

 private:
  WebViewControllerServices services_;
  std::weak_ptr<AppControllerPort> appDelegate_;
  std::shared_ptr<WebView> webView_;
  std::shared_ptr<AudioEngine> audioEngine_;
  std::optional<std::optional<std::string>> bundle_;
};

}  // namespace quorvel
