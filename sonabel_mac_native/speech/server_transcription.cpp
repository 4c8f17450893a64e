// The transcription server at stop. The kept audio is posted once; until the answer (or its
// time-out) comes, a local final is set aside instead of delivered. The server's transcript
// wins; on a failure the local final is delivered, or, when it has not come yet, the local
// recogniser's own wait delivers it as usual.
#include <cstdio>
#include <memory>
#include <string>

#include "speech/audio_engine.h"

namespace quorvel {

void AudioEngine::beginServerTranscription() {
  std::shared_ptr<AudioAccumulator> audio = std::move(keptAudio_);
  std::optional<TranscriptionSettings> settings = std::move(serverSettings_);
  keptAudio_.reset();
  serverSettings_.reset();
  if (!audio || !settings || audio->sampleCount() == 0) return;

  const uint64_t generation = ++serverGeneration_;
  // Without a local task there is no local final to wait for: it is empty from the start.
  serverWait_ =
      ServerWait{generation, recognitionTask_ ? std::nullopt : std::optional<std::string>("")};
  const double bound = TranscriptionClient::timeoutSeconds(audio->seconds());
  MainQueue& mainQueue = services_.mainQueue;
  std::weak_ptr<AudioEngine> weak = weak_from_this();
  transcription_.transcribe(
      *settings, *audio, loadSpeechLocale(services_.polisher),
      [weak, generation, &mainQueue](std::optional<std::string> text,
                                     std::optional<std::string> failure) {
        mainQueue.async([weak, generation, text = std::move(text), failure = std::move(failure)] {
          if (auto self = weak.lock()) self->finishServerTranscription(generation, text, failure);
        });
      });
  mainQueue.asyncAfter(bound, [weak, generation, bound] {
    auto self = weak.lock();
    if (!self || !self->serverWait_ || self->serverWait_->generation != generation) return;
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.0f", bound);
    self->services_.console.line("[Transcription] no answer within " + std::string(seconds) + " s");
    self->finishServerTranscription(generation, std::nullopt,
                                    "no answer within " + std::string(seconds) + " seconds");
  });
}

void AudioEngine::finishServerTranscription(uint64_t generation, std::optional<std::string> text,
                                            std::optional<std::string> failure) {
  if (!serverWait_ || serverWait_->generation != generation || !waitingForFinal_) return;
  std::optional<std::string> localFinal = std::move(serverWait_->localFinal);
  serverWait_.reset();
  if (text) {
    accumulatedText_ = *text;
    deliverFinalResult();
    return;
  }
  bool haveLocal = localFinal && !localFinal->empty();
  // Told of the failure, the user must not also read that nothing was said.
  if (!haveLocal) sessionFailed_ = true;
  sendJSError("Transcription server failed: " + failure.value_or("unknown error") +
              (haveLocal ? "; the local transcript is used." : "."));
  if (localFinal) {
    accumulatedText_ = *localFinal;
    deliverFinalResult();
  }
}

bool AudioEngine::holdForServer() {
  if (!serverWait_) return false;
  // The first local final counts; later triggers of the same stop change nothing.
  if (!serverWait_->localFinal) serverWait_->localFinal = accumulatedText_;
  return true;
}

}  // namespace quorvel
