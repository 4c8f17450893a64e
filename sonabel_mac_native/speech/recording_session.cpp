#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "speech/audio_engine.h"
#include "web/page_calls.h"

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

void AudioEngine::dropSession() {
  if (recognitionTask_) recognitionTask_->cancel();
  recognitionTask_.reset();
  recognitionRequest_.reset();
  sessionRecognizer_.reset();
  accumulatedText_.clear();
  currentSegmentText_.clear();
}

void AudioEngine::startRecording() {
  avAudioEngine_.stop();
  avAudioEngine_.removeTap(0);
  const uint64_t generation = ++captureGeneration_;
  waitingForFinal_ = false;
  sessionFailed_ = false;
  dropSession();
  serverWait_.reset();
  serverSettings_ = transcription_.settings();
  keptAudio_ = serverSettings_ ? std::make_shared<AudioAccumulator>(avAudioEngine_.outputFormat(0))
                               : nullptr;

  // Requests come from the recogniser here, so without one there is no request either.
  std::shared_ptr<RecognitionRequest> request =
      speechRecognizer_ && speechRecognizer_->isAvailable() ? speechRecognizer_->makeRequest()
                                                            : nullptr;
  if (!request && !serverSettings_) {
    // Nothing was started: the page, which switched to recording on its own, goes back to
    // rest and the tray never shows a recording.
    isRecording_ = false;
    sendJSError("Speech recognizer not available");
    evaluateLater(page::recordingAbandoned());
    return;
  }
  isRecording_ = true;
  if (request) {
    request->shouldReportPartialResults = true;
    request->addsPunctuation = true;
    recognitionRequest_ = request;
    sessionRecognizer_ = speechRecognizer_;

    std::weak_ptr<RecognitionRequest> weakRequest = recognitionRequest_;
    recognitionTask_ = sessionRecognizer_->recognitionTask(
        recognitionRequest_,
        [weak = weak_from_this(), weakRequest](const std::optional<RecognitionResult>& result,
                                               const std::optional<RecognitionError>& error) {
          if (auto self = weak.lock()) self->handleRecognition(weakRequest, result, error);
        });
  } else {
    // Only the transcription server will hear this dictation: no live text, so the page says
    // it is listening.
    sendTextToFrontend("Listening\u2026");
  }

  installTapFeeding(&AudioEngine::recognitionRequest_, keptAudio_);
  avAudioEngine_.prepare();
  startCapture(
      generation,
      [](AudioEngine& self) {
        if (!self.isRecording_) return;
        self.services_.console.line("[AudioEngine] recording started");
        self.showRecordingStatusLater(true);
      },
      [](AudioEngine& self, const std::string& failure) {
        if (!self.isRecording_) return;
        self.services_.console.line("[AudioEngine] engine start failed: " + failure);
        self.avAudioEngine_.stop();
        self.avAudioEngine_.removeTap(0);
        ++self.captureGeneration_;
        self.isRecording_ = false;
        if (self.recognitionTask_) self.recognitionTask_->cancel();
        self.recognitionTask_.reset();
        self.recognitionRequest_.reset();
        self.sessionRecognizer_.reset();
        self.keptAudio_.reset();
        self.serverSettings_.reset();
        self.sendJSError("Failed to start audio engine");
        self.evaluateLater(page::recordingAbandoned());
      },
      [](AudioEngine& self, const std::string& loss) {
        if (!self.isRecording_) return;
        self.failSession("[AudioEngine] audio capture lost: " + loss, "Recording stopped: " + loss,
                         false);
      });
}

void AudioEngine::startCapture(uint64_t generation, std::function<void(AudioEngine&)> started,
                               std::function<void(AudioEngine&, const std::string&)> failed,
                               std::function<void(AudioEngine&, const std::string&)> lost) {
  MainQueue& mainQueue = services_.mainQueue;
  std::weak_ptr<AudioEngine> weak = weak_from_this();
  // Both answers may come from the capture thread: they only hop to the main queue, where the
  // generation tells whether the capture they concern is still the current one.
  avAudioEngine_.start(
      [weak, generation, &mainQueue, started = std::move(started),
       failed = std::move(failed)](std::optional<std::string> error) {
        mainQueue.async([weak, generation, started, failed, error = std::move(error)] {
          auto self = weak.lock();
          if (!self || self->captureGeneration_ != generation) return;
          if (error) {
            failed(*self, *error);
          } else {
            started(*self);
          }
        });
      },
      [weak, generation, &mainQueue, lost = std::move(lost)](std::string error) {
        mainQueue.async([weak, generation, lost, error = std::move(error)] {
          auto self = weak.lock();
          if (!self || self->captureGeneration_ != generation) return;
          lost(*self, error);
        });
      });
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
    if (isRecording_) {
      // A task that reports an error has ended: everything said from here on would be lost
      // without a word, so the session ends now, visibly.
      failSession("[AudioEngine] recognition error: " + error->description, error->description,
                  true);
      return;
    }
    services_.console.line("[AudioEngine] recognition error: " + error->description);
    if (waitingForFinal_) {
      accumulatedText_ = currentSegmentText_;
      deliverFinalResult();
    }
  }
}

void AudioEngine::failSession(const std::string& logLine, const std::string& message,
                              bool taskEnded) {
  services_.console.line(logLine);
  sendJSError(message);
  sessionFailed_ = true;
  if (taskEnded) {
    // No final can come from an ended task: what it reported last is all there is.
    isRecording_ = false;
    avAudioEngine_.stop();
    avAudioEngine_.removeTap(0);
    ++captureGeneration_;
    waitingForFinal_ = true;
    stopMode_ = "Extract";
    // The server, when there is one, still hears what was captured.
    beginServerTranscription();
    accumulatedText_ = currentSegmentText_;
    deliverFinalResult();
    return;
  }
  // The recogniser still has the audio captured so far: let it finish as after a stop.
  endSession("Extract");
}

void AudioEngine::stopRecording(const std::string& mode) {
  endSession(mode);
}

void AudioEngine::endSession(const std::string& mode) {
  stopMode_ = mode;
  bool sessionOpen = isRecording_ || waitingForFinal_;
  isRecording_ = false;
  if (sessionOpen) {
    // Stopping the input hands the tap whatever it has captured since its last full block, so
    // the request ends with every sample.
    avAudioEngine_.stop();
    avAudioEngine_.removeTap(0);
    ++captureGeneration_;
    if (recognitionRequest_) recognitionRequest_->endAudio();
    beginServerTranscription();
  } else {
    // The last session was delivered already: nothing of it may be delivered or counted a
    // second time, so this stop waits on nothing and ends in the no-speech reset. The audio is
    // left alone, as it may be feeding an edit-instruction capture.
    dropSession();
  }
  waitingForFinal_ = true;
  services_.console.line("[AudioEngine] recording stopped, waiting for final result...");

  uint64_t generation = ++stopGeneration_;
  auto wait = std::make_shared<FinalWait>();
  wait->bound = 3.0;
  // A later stop has its own time-out; this one must not cut that wait short.
  wait->waiting = [generation](AudioEngine& self) {
    return self.waitingForFinal_ && self.stopGeneration_ == generation;
  };
  wait->task = [](AudioEngine& self) { return self.recognitionTask_; };
  wait->expire = [](AudioEngine& self) {
    self.services_.console.line("[AudioEngine] timeout waiting for final, using current text");
    self.accumulatedText_ = self.currentSegmentText_;
    self.deliverFinalResult();
  };
  beginFinalWait(std::move(wait));
}

// The wait for a final result after the audio has ended. The bound (3.0 s for a dictation,
// 1.5 s for an edit instruction) is meant for the recogniser's last pass over the audio, not
// for audio it has not decoded yet: on a busy machine a recogniser can lag behind the
// microphone, and cutting it off then would deliver a truncated partial while the complete
// text is seconds away. So the bound counts from the moment the recogniser has caught up with
// the audio (its backlog is zero). Catching up is allowed only while it makes progress (the
// backlog shrinks at least once per bound) and for at most kMaxCatchUp seconds, so that a
// stalled or hopelessly slow recogniser still ends the wait, well before the page gives up on
// its own (15 s). A recogniser that reports no backlog is timed from the stop, as before.
namespace {
constexpr double kCatchUpLook = 0.25;
constexpr double kMaxCatchUp = 10.0;
}  // namespace

void AudioEngine::beginFinalWait(std::shared_ptr<FinalWait> wait) {
  std::shared_ptr<RecognitionTask> task = wait->task(*this);
  const double backlog = task ? task->backlogSeconds() : 0;
  if (backlog > 0) {
    lookForFinal(std::move(wait), kCatchUpLook, backlog, 0, false);
  } else {
    double bound = wait->bound;
    lookForFinal(std::move(wait), bound, 0, 0, true);
  }
}

void AudioEngine::lookForFinal(std::shared_ptr<FinalWait> wait, double delay, double lastBacklog,
                               double stalledFor, bool boundArmed) {
  services_.mainQueue.asyncAfter(
      delay, [weak = weak_from_this(), wait, delay, lastBacklog, stalledFor, boundArmed] {
        auto self = weak.lock();
        if (!self || !wait->waiting(*self)) return;
        if (boundArmed) {
          wait->expire(*self);
          return;
        }
        wait->caughtUpFor += delay;
        std::shared_ptr<RecognitionTask> task = wait->task(*self);
        const double backlog = task ? task->backlogSeconds() : 0;
        if (backlog <= 0) {
          self->lookForFinal(wait, wait->bound, 0, 0, true);
        } else if (wait->caughtUpFor >= kMaxCatchUp) {
          wait->expire(*self);
        } else if (backlog < lastBacklog) {
          self->lookForFinal(wait, kCatchUpLook, backlog, 0, false);
        } else if (stalledFor + delay >= wait->bound) {
          wait->expire(*self);
        } else {
          self->lookForFinal(wait, kCatchUpLook, lastBacklog, stalledFor + delay, false);
        }
      });
}

}  // namespace quorvel
