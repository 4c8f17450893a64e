#include <memory>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "speech/audio_engine.h"
#include "web/page_calls.h"

namespace quorvel {

void AudioEngine::startEditRecording() {
  // One capture at a time: a dictation keeps the microphone it is recording from.
  if (isRecording_) {
    services_.console.line("[AudioEngine] edit recording not started: a dictation is recording");
    sendEditResult(std::nullopt, "A dictation is recording");
    return;
  }
  if (!speechRecognizer_ || !speechRecognizer_->isAvailable()) {
    sendEditResult(std::nullopt, "Speech recognizer not available");
    return;
  }
  // Restarts an edit capture that is still running.
  if (avAudioEngine_.isRunning()) {
    avAudioEngine_.stop();
    avAudioEngine_.removeTap(0);
  }
  if (editRecognitionTask_) editRecognitionTask_->cancel();
  editAccumulatedText_.clear();

  editRecognitionRequest_ = speechRecognizer_->makeRequest();
  if (!editRecognitionRequest_) {
    sendEditResult(std::nullopt, "Speech recognizer not available");
    return;
  }
  editRecognitionRequest_->shouldReportPartialResults = true;
  editRecognitionRequest_->addsPunctuation = true;
  std::weak_ptr<RecognitionRequest> request = editRecognitionRequest_;
  editRecognitionTask_ = speechRecognizer_->recognitionTask(
      editRecognitionRequest_,
      [weak = weak_from_this(), request](const std::optional<RecognitionResult>& result,
                                         const std::optional<RecognitionError>&) {
        if (auto self = weak.lock()) self->handleEditRecognition(request, result);
      });

  // A failed start leaves its tap behind; installTapFeeding replaces it, and the next stop
  // removes it.
  installTapFeeding(&AudioEngine::editRecognitionRequest_);
  editCapturing_ = true;
  avAudioEngine_.prepare();
  if (auto failure = avAudioEngine_.start()) {
    services_.console.line("[AudioEngine] edit engine start failed: " + *failure);
    sendEditResult(std::nullopt, "Failed to start audio");
    return;
  }
  services_.console.line("[AudioEngine] edit recording started");
}

void AudioEngine::handleEditRecognition(const std::weak_ptr<RecognitionRequest>& from,
                                        const std::optional<RecognitionResult>& result) {
  // Errors end nothing here: the hand-over after the stop sends whatever text there is.
  std::shared_ptr<RecognitionRequest> origin = from.lock();
  if (!result || !origin || origin != editRecognitionRequest_) return;
  editAccumulatedText_ = result->formattedString;
  evaluateLater(page::setEditInstruction(editAccumulatedText_));
}

void AudioEngine::stopEditRecording() {
  // Without a capture of its own (one refused while a dictation records), the microphone is
  // the dictation's and stays as it is.
  if (editCapturing_) {
    avAudioEngine_.stop();
    avAudioEngine_.removeTap(0);
  }
  editCapturing_ = false;
  if (editRecognitionRequest_) editRecognitionRequest_->endAudio();

  std::weak_ptr<RecognitionRequest> stoppedRequest = editRecognitionRequest_;
  std::weak_ptr<RecognitionTask> stoppedTask = editRecognitionTask_;
  services_.mainQueue.asyncAfter(1.5, [weak = weak_from_this(), stoppedRequest, stoppedTask] {
    auto self = weak.lock();
    if (!self) return;
    std::string text = self->editAccumulatedText_;
    // Released, not cancelled; a capture started during the wait keeps its own.
    if (self->editRecognitionTask_ == stoppedTask.lock()) self->editRecognitionTask_.reset();
    if (self->editRecognitionRequest_ == stoppedRequest.lock()) {
      self->editRecognitionRequest_.reset();
    }
    if (text.empty()) {
      self->sendEditResult(std::nullopt, "No speech detected");
    } else {
      self->sendEditResult(text, std::nullopt);
    }
  });
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
