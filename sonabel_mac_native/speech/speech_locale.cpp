#include <string>

#include "speech/audio_engine.h"
#include "web/page_calls.h"

namespace quorvel {

void AudioEngine::setSpeechLocale(const std::string& identifier) {
  // A session in progress keeps the recogniser its task was started with.
  speechRecognizer_ = services_.recognizers.recognizerFor(identifier);
  services_.polisher.updateConfig("speech_locale", identifier);
}

void AudioEngine::toggleRecordingFromHotkey() {
  // The page owns the toggle, so a session always starts and stops with the page's own mode.
  auto webView = webView_.lock();
  if (!webView) return;
  webView->evaluate(page::toggleState(isRecording_));
}

}  // namespace quorvel
