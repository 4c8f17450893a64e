#include <memory>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "speech/audio_engine.h"
#include "web/page_calls.h"

namespace quorvel {

void AudioEngine::startEditRecording() {
  if (!speechRecognizer_ || !speechRecognizer_->isAvailable()) {
    sendEditResult(std::nullopt, "Speech recognizer not available");
    return;
  }
  // Takes the microphone from a dictation in progress; that session's request and task stay.
  if (avAudioEngine_.isRunning()) {
    avAudioEngine_.stop();
    avAudioEngine_.removeTap(0);
  }
  const uint64_t generation = ++captureGeneration_;
  if (editRecognitionTask_) editRecognitionTask_->cancel();
  editAccumulatedText_.clear();

  editRecognitionRequest_ = speechRecognizer_->makeRequest();
  if (!editRecognitionRequest_) {
    sendEditResult(std::nullopt, "Speech recognizer not available");
    return;
  }
  editRecognizer_ = speechRecognizer_;
  editRecognitionRequest_->shouldReportPartialResults = true;
  editRecognitionRequest_->addsPunctuation = true;
  std::weak_ptr<RecognitionRequest> request = editRecognitionRequest_;
  editRecognitionTask_ = editRecognizer_->recognitionTask(
      editRecognitionRequest_,
      [weak = weak_from_this(), request](const std::optional<RecognitionResult>& result,
                                         const std::optional<RecognitionError>&) {
        if (auto self = weak.lock()) self->handleEditRecognition(request, result);
      });

  // A failed start leaves its tap behind; installTapFeeding replaces it.
  installTapFeeding(&AudioEngine::editRecognitionRequest_);
  avAudioEngine_.prepare();
  startCapture(
      generation,
      [](AudioEngine& self) {
        self.services_.console.line("[AudioEngine] edit recording started");
      },
      [](AudioEngine& self, const std::string& failure) {
        self.services_.console.line("[AudioEngine] edit engine start failed: " + failure);
        self.sendEditResult(std::nullopt, "Failed to start audio");
      },
      [](AudioEngine& self, const std::string& loss) {
        self.services_.console.line("[AudioEngine] audio capture lost: " + loss);
      });
}

void AudioEngine::handleEditRecognition(const std::weak_ptr<RecognitionRequest>& from,
                                        const std::optional<RecognitionResult>& result) {
  // Errors end nothing here: the hand-over after the stop sends whatever text there is.
  std::shared_ptr<RecognitionRequest> origin = from.lock();
  if (!result || !origin || origin != editRecognitionRequest_) return;
  editAccumulatedText_ = result->formattedString;
  evaluateLater(page::setEditInstruction(editAccumulatedText_));
  // The complete instruction is here: no reason to keep the page waiting for the bound.
  if (result->isFinal && editWaitingForFinal_) {
    finishEditCapture(editRecognitionRequest_, editRecognitionTask_);
  }
}

void AudioEngine::stopEditRecording() {
  avAudioEngine_.stop();
  avAudioEngine_.removeTap(0);
  ++captureGeneration_;
  if (editRecognitionRequest_) editRecognitionRequest_->endAudio();

  std::weak_ptr<RecognitionRequest> stoppedRequest = editRecognitionRequest_;
  std::weak_ptr<RecognitionTask> stoppedTask = editRecognitionTask_;
  editWaitingForFinal_ = true;
  const uint64_t generation = ++editStopGeneration_;
  auto wait = std::make_shared<FinalWait>();
  wait->bound = 1.5;
  wait->waiting = [generation](AudioEngine& self) {
    return self.editWaitingForFinal_ && self.editStopGeneration_ == generation;
  };
  wait->task = [stoppedTask](AudioEngine&) { return stoppedTask.lock(); };
  wait->expire = [stoppedRequest, stoppedTask](AudioEngine& self) {
    self.finishEditCapture(stoppedRequest, stoppedTask);
  };
  beginFinalWait(std::move(wait));
}

void AudioEngine::finishEditCapture(const std::weak_ptr<RecognitionRequest>& stoppedRequest,
                                    const std::weak_ptr<RecognitionTask>& stoppedTask) {
  editWaitingForFinal_ = false;
  std::string text = editAccumulatedText_;
  // Released, not cancelled; a capture started during the wait keeps its own.
  if (editRecognitionTask_ == stoppedTask.lock()) editRecognitionTask_.reset();
  if (editRecognitionRequest_ == stoppedRequest.lock()) {
    editRecognitionRequest_.reset();
    editRecognizer_.reset();
  }
  if (text.empty()) {
    sendEditResult(std::nullopt, "No speech detected");
  } else {
    sendEditResult(text, std::nullopt);
  }
}

void AudioEngine::sendEditResult(const std::optional<std::string>& text,
                                 const std::optional<std::string>& error) {
  nlohmann::json answer = nlohmann::json::object();
  if (text) answer["text"] = *text;
  if (error) answer["error"] = *error;
  std::string json;
  try {
    json = answer.dump();
  } catch (const nlohmann::json::exception&) {
    return;  // not UTF-8: nothing the page could read
  }
  evaluateLater(page::resolveEditRecord(json));
}

}  // namespace quorvel
