#include <memory>
#include <string>

#include "speech/audio_engine.h"
#include "speech/grapheme_count.h"
#include "web/page_calls.h"

namespace quorvel {

void AudioEngine::deliverFinalResult() {
  if (holdForServer()) return;
  waitingForFinal_ = false;
  isRecording_ = false;
  showRecordingStatusLater(false);

  std::string raw = trimWhitespaceAndNewlines(accumulatedText_);
  std::string mode = stopMode_;

  if (raw.empty()) {
    if (sessionFailed_) {
      // The user has just been told what went wrong; "no speech" would be a second, false story.
      evaluateLater(page::recordingAbandoned());
    } else {
      services_.console.line("[AudioEngine] no speech detected, resetting UI");
      evaluateLater(page::noSpeechReset());
    }
    recognitionTask_.reset();
    recognitionRequest_.reset();
    sessionRecognizer_.reset();
    return;
  }

  services_.console.line("[AudioEngine] delivering final: " + raw);
  evaluateLater(page::showRawAndStartPolish(raw, mode));

  // The delivered session's task and request stay held until polishing is done; by then a new
  // session may hold its own, which the release must leave alone.
  std::weak_ptr<RecognitionRequest> deliveredRequest = recognitionRequest_;
  std::weak_ptr<RecognitionTask> deliveredTask = recognitionTask_;
  std::weak_ptr<SpeechRecognizer> deliveredRecognizer = sessionRecognizer_;
  services_.polisher.polish(
      raw, mode,
      [weak = weak_from_this(), raw, mode, deliveredRequest, deliveredTask, deliveredRecognizer](
          std::optional<std::string> polished, std::optional<ChatError>) {
        auto self = weak.lock();
        if (!self) return;
        // A failed polish shows the raw text as the result, and the session still counts.
        std::string finalText = polished ? *polished : raw;
        self->services_.usage.recordSession(static_cast<int64_t>(countCharacters(raw)));
        std::string call = page::updateResult(raw, finalText, mode);
        self->services_.mainQueue.async([self, call = std::move(call), deliveredRequest,
                                         deliveredTask, deliveredRecognizer] {
          if (auto webView = self->webView_.lock()) {
            webView->evaluate(
                call, [weak = std::weak_ptr<AudioEngine>(self)](std::optional<std::string> error) {
                  auto engine = weak.lock();
                  if (engine && error) {
                    engine->services_.console.line("[AudioEngine] JS eval error: " + *error);
                  }
                });
          }
          if (self->recognitionRequest_ && self->recognitionRequest_ == deliveredRequest.lock()) {
            self->recognitionRequest_.reset();
          }
          if (self->recognitionTask_ && self->recognitionTask_ == deliveredTask.lock()) {
            self->recognitionTask_.reset();
          }
          if (self->sessionRecognizer_ && self->sessionRecognizer_ == deliveredRecognizer.lock() &&
              !self->recognitionRequest_) {
            self->sessionRecognizer_.reset();
          }
        });
      });
}

void AudioEngine::sendTextToFrontend(const std::string& text) {
  evaluateLater(page::speechResultEvent(text));
}

void AudioEngine::sendJSError(const std::string& message) {
  evaluateLater(page::nativeError(message));
}

}  // namespace quorvel
