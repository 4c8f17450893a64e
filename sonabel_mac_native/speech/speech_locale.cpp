#include <string>

#include "speech/audio_engine.h"
#include "web/page_calls.h"

namespace quorvel {

void AudioEngine::setSpeechLocale(const std::string& identifier) {
  // A session in progress keeps the recogniser its task was started with.
  speechRecognizer_ = services_.recognizers.recognizerFor(identifier);
  saveSpeechLocale(services_.polisher, identifier);
}

std::string AudioEngine::loadSpeechLocale(const DeepSeekPolisher& polisher) {
  nlohmann::json config = polisher.readConfig();
  auto found = config.find("speech_locale");
  // An empty string is a choice too and is kept as it is.
  if (found != config.end() && found->is_string()) return found->get<std::string>();
  return "en-US";
}

void AudioEngine::saveSpeechLocale(const DeepSeekPolisher& polisher,
                                   const std::string& identifier) {
  polisher.updateConfig("speech_locale", identifier);
}

void AudioEngine::toggleRecordingFromHotkey() {
  // The page owns the toggle, so a session always starts and stops with the page's own mode.
  auto webView = webView_.lock();
  if (!webView) return;
  webView->evaluate(page::toggleState(isRecording_));
}

}  // namespace quorvel
