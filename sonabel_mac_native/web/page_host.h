// What the application controller needs of the popover's content: the page's web view, the
// recording controller behind it, and the theme switch. WebViewController is the one real host.
#pragma once

#include <memory>
#include <string>

#include "platform/web_view.h"

namespace quorvel {

class DeepSeekPolisher;

// The theme stored in config.json: its text, or "light" when none is stored as text.
std::string storedTheme(const DeepSeekPolisher& config);

class PageHost {
 public:
  virtual ~PageHost() = default;

  // Builds the web view, the recording controller and the page; once.
  virtual void loadView() = 0;
  // The web view, or null before loadView.
  virtual std::shared_ptr<WebView> webView() const = 0;

  // The recording controller's side; each is a no-op (false) before loadView.
  virtual bool hasRecorder() const = 0;
  virtual bool isRecording() const = 0;
  virtual void setSpeechLocale(const std::string& identifier) = 0;
  virtual void toggleRecordingFromHotkey() = 0;
  // The stored speech locale ("en-US" when none is stored).
  virtual std::string storedSpeechLocale() const = 0;

  virtual void applyTheme(const std::string& theme) = 0;
  // Hands the page the stored usage statistics again (the popover is being shown).
  virtual void refreshUsage() = 0;
};

}  // namespace quorvel
