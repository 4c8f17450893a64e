#include <memory>
#include <string>

#include "speech/audio_engine.h"
#include "speech/grapheme_count.h"
#include "store/utf8.h"
#include "web/page_calls.h"

namespace quorvel {

void AudioEngine::deliverFinalResult() {
  if (holdForServer()) return;
  waitingForFinal_ = false;
  isRecording_ = false;
  showRecordingStatusLater(false);

  std::string raw = trimWhitespace(accumulatedText_);
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
    if (auto app = appDelegate_.lock()) app->dictationDelivered("");
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
          std::optional<std::string> polished, std::optional<ChatError> error) {
        auto self = weak.lock();
        if (!self) return;
        // A failed polish shows the raw text as the result (the page and its history rely on
        // it), says why, and the session still counts. Counting is file work: it runs on the
        // main thread, not on the HTTP worker every other transfer shares, and before the page
        // is told.
        std::optional<std::string> reason;
        if (!polished) reason = DeepSeekPolisher::failureReason(error);
        std::string delivered = polished ? *polished : raw;
        std::string call = page::updateResult(raw, delivered, mode, reason);
        self->services_.mainQueue.async([self, raw, delivered = std::move(delivered),
                                         call = std::move(call), deliveredRequest, deliveredTask,
                                         deliveredRecognizer] {
          reportStoreWrite(
              self->services_.console, "[AudioEngine] ", self->services_.usage.usageFile(),
              self->services_.usage.recordSession(static_cast<int64_t>(countCharacters(raw))));
          if (auto webView = self->webView_.lock()) {
            webView->evaluate(
                call, [weak = std::weak_ptr<AudioEngine>(self)](std::optional<std::string> error) {
                  auto engine = weak.lock();
                  if (engine && error) {
                    engine->services_.console.line("[AudioEngine] JS eval error: " + *error);
                  }
                });
            if (auto usage = self->services_.usage.loadRaw()) {
              webView->evaluate(page::refreshUsage(*usage));
            }
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
          if (auto app = self->appDelegate_.lock()) app->dictationDelivered(delivered);
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
