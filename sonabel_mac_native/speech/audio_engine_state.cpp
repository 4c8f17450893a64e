#include <string>
#include <utility>

#include "speech/audio_engine.h"

namespace quorvel {

AudioEngine::AudioEngine(AudioEngineServices services)
    : services_(services),
      avAudioEngine_(services.audioInput),
      transcription_(services.polisher, services.polisher.httpClient(), services.console) {
  // A locale the platform cannot recognise leaves no recogniser; every start then says so.
  speechRecognizer_ = services_.recognizers.recognizerFor(loadSpeechLocale(services_.polisher));
}

// Callbacks still held by the platform hold this object weakly and find it gone.
AudioEngine::~AudioEngine() = default;

void AudioEngine::setWebView(std::weak_ptr<ScriptEvaluator> webView) {
  webView_ = std::move(webView);
}

void AudioEngine::setAppDelegate(std::weak_ptr<AppControllerPort> appDelegate) {
  appDelegate_ = std::move(appDelegate);
}

bool AudioEngine::isRecording() const {
  return isRecording_;
}

void AudioEngine::evaluateLater(std::string script) {
  services_.mainQueue.async([self = shared_from_this(), script = std::move(script)] {
    if (auto webView = self->webView_.lock()) webView->evaluate(script);
  });
}

void AudioEngine::showRecordingStatusLater(bool recording) {
  services_.mainQueue.async([self = shared_from_this(), recording] {
    if (auto app = self->appDelegate_.lock()) {
      app->showStatusBarBadge(recording);
      app->setStatusToolTip(recording ? "Recording..." : "Quorvel");
    }
  });
}

void AudioEngine::installTapFeeding(std::shared_ptr<RecognitionRequest> AudioEngine::*request,
                                    std::shared_ptr<AudioAccumulator> keep) {
  avAudioEngine_.removeTap(0);
  AudioFormat format = avAudioEngine_.outputFormat(0);
  // Runs on the capture thread. The request it reads does not change while this tap is
  // installed: every start and stop removes the tap before replacing a request.
  avAudioEngine_.installTap(0, 4096, format,
                            [weak = weak_from_this(), request, keep](const AudioBuffer& buffer) {
                              if (keep) keep->append(buffer);
                              auto self = weak.lock();
                              if (!self) return;
                              if (RecognitionRequest* target = ((*self).*request).get()) {
                                target->append(buffer);
                              }
                            });
}

}  // namespace quorvel
