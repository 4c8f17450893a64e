#include <memory>
#include <string>

#include "speech/audio_engine.h"

namespace quorvel {

void AudioEngine::requestPermissionsAndRecord() {
  SpeechAuthorization speech = services_.permissions.speechStatus();
  MicrophoneAuthorization microphone = services_.permissions.microphoneStatus();
  if (speech == SpeechAuthorization::Authorized &&
      microphone == MicrophoneAuthorization::Authorized) {
    startRecording();
    return;
  }

  bool prompting = speech == SpeechAuthorization::NotDetermined ||
                   microphone == MicrophoneAuthorization::NotDetermined;
  MainQueue& mainQueue = services_.mainQueue;
  // The system's prompts must not be hidden behind the popover.
  if (prompting) {
    mainQueue.async([self = shared_from_this()] {
      if (auto app = self->appDelegate_.lock()) app->closePopover();
    });
  }
  std::weak_ptr<AudioEngine> weak = weak_from_this();
  auto reopen = [weak, prompting, &mainQueue] {
    if (!prompting) return;
    mainQueue.async([weak] {
      auto self = weak.lock();
      if (!self) return;
      if (auto app = self->appDelegate_.lock()) app->showPopover();
    });
  };

  // Asked in every case: an authorised recogniser answers at once.
  services_.permissions.requestSpeech([weak, reopen, &mainQueue](SpeechAuthorization status) {
    mainQueue.async([weak, reopen, status, &mainQueue] {
      auto self = weak.lock();
      if (!self) {
        reopen();
        return;
      }
      if (status != SpeechAuthorization::Authorized) {
        reopen();
        self->sendJSError("Speech recognition permission denied");
        return;
      }
      self->services_.permissions.requestMicrophone([weak, reopen, &mainQueue](bool granted) {
        mainQueue.async([weak, reopen, granted] {
          auto self = weak.lock();
          reopen();
          if (!self) return;
          if (granted) {
            self->startRecording();
          } else {
            self->sendJSError("Microphone permission denied");
          }
        });
      });
    });
  });
}

void AudioEngine::startRecording() {
  avAudioEngine_.stop();
  avAudioEngine_.removeTap(0);
  waitingForFinal_ = false;
  if (recognitionTask_) recognitionTask_->cancel();
  recognitionTask_.reset();
  recognitionRequest_.reset();
  accumulatedText_.clear();
  currentSegmentText_.clear();
  serverWait_.reset();
  serverSettings_ = transcription_.settings();
  keptAudio_ = serverSettings_ ? std::make_shared<AudioAccumulator>(avAudioEngine_.outputFormat(0))
                               : nullptr;
  isRecording_ = true;
  showRecordingStatusLater(true);

  // Requests come from the recogniser here, so without one there is no request either.
  recognitionRequest_ =
      speechRecognizer_ ? speechRecognizer_->makeRequest() : std::shared_ptr<RecognitionRequest>();
  if (recognitionRequest_) {
    recognitionRequest_->shouldReportPartialResults = true;
    recognitionRequest_->addsPunctuation = true;
  }
  bool local = speechRecognizer_ && speechRecognizer_->isAvailable() && recognitionRequest_;
  if (!local && !serverSettings_) {
    sendJSError("Speech recognizer not available");
    return;
  }

  if (local) {
    std::weak_ptr<RecognitionRequest> request = recognitionRequest_;
    recognitionTask_ = speechRecognizer_->recognitionTask(
        recognitionRequest_,
        [weak = weak_from_this(), request](const std::optional<RecognitionResult>& result,
                                           const std::optional<RecognitionError>& error) {
          if (auto self = weak.lock()) self->handleRecognition(request, result, error);
        });
  } else {
    // Only the transcription server will hear this dictation: no live text, so the page says
    // it is listening.
    recognitionRequest_.reset();
    sendTextToFrontend("Listening\u2026");
  }

  installTapFeeding(&AudioEngine::recognitionRequest_, keptAudio_);
  avAudioEngine_.prepare();
  if (auto failure = avAudioEngine_.start()) {
    services_.console.line("[AudioEngine] engine start failed: " + *failure);
    sendJSError("Failed to start audio engine");
    return;
  }
  services_.console.line("[AudioEngine] recording started");
}

void AudioEngine::handleRecognition(const std::weak_ptr<RecognitionRequest>& from,
                                    const std::optional<RecognitionResult>& result,
                                    const std::optional<RecognitionError>& error) {
  // Only the current session's task may speak: a released session is silent, and a cancelled
  // or replaced task that still reports must not overwrite the new session's text.
  std::shared_ptr<RecognitionRequest> origin = from.lock();
  if (!origin || origin != recognitionRequest_) return;

  if (result) {
    currentSegmentText_ = result->formattedString;
    sendTextToFrontend(currentSegmentText_);
    if (result->isFinal) {
      accumulatedText_ = currentSegmentText_;
      if (waitingForFinal_) deliverFinalResult();
    }
  }
  if (error) {
    services_.console.line("[AudioEngine] recognition error: " + error->description);
    if (waitingForFinal_) {
      accumulatedText_ = currentSegmentText_;
      deliverFinalResult();
    }
  }
}

void AudioEngine::stopRecording(const std::string& mode) {
  stopMode_ = mode;
  bool sessionOpen = isRecording_ || waitingForFinal_;
  isRecording_ = false;
  if (sessionOpen) {
    avAudioEngine_.stop();
    avAudioEngine_.removeTap(0);
    if (recognitionRequest_) recognitionRequest_->endAudio();
    beginServerTranscription();
  } else {
    // The last session was delivered already: nothing of it may be delivered or counted a
    // second time, so this stop waits on nothing and ends in the no-speech reset. The audio is
    // left alone, as it may be feeding an edit-instruction capture.
    if (recognitionTask_) recognitionTask_->cancel();
    recognitionTask_.reset();
    recognitionRequest_.reset();
    accumulatedText_.clear();
    currentSegmentText_.clear();
  }
  waitingForFinal_ = true;
  services_.console.line("[AudioEngine] recording stopped, waiting for final result...");

  uint64_t generation = ++stopGeneration_;
  services_.mainQueue.asyncAfter(3.0, [weak = weak_from_this(), generation] {
    auto self = weak.lock();
    // A later stop has its own time-out; this one must not cut that wait short.
    if (!self || !self->waitingForFinal_ || self->stopGeneration_ != generation) return;
    self->services_.console.line("[AudioEngine] timeout waiting for final, using current text");
    self->accumulatedText_ = self->currentSegmentText_;
    self->deliverFinalResult();
  });
}

}  // namespace quorvel
