// Speech fakes the test drives by hand: the permissions of the Linux desktop (always granted),
// a recogniser, and tasks whose results and errors the test sends, also after a cancel, as a
// misbehaving platform might.
#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/linux/audio/always_authorized_permissions.h"
#include "platform/main_queue.h"
#include "platform/speech.h"

namespace quorvel::testing {

using FakePermissionProvider = linux_audio::AlwaysAuthorizedPermissions;

// A recognition request and its task in one. The test reads what the controller appended and
// sends the results, through the main queue as the platform's recogniser delivers them.
class FakeRecognitionTask final : public RecognitionRequest, public RecognitionTask {
 public:
  explicit FakeRecognitionTask(MainQueue& queue) : queue_(queue) {}

  // The recogniser reads no audio after its end.
  void append(const AudioBuffer&) override {
    if (endAudioCalls == 0) ++buffers;
  }
  void endAudio() override { ++endAudioCalls; }
  void cancel() override { cancelled = true; }
  double backlogSeconds() const override { return backlog; }

  void partial(const std::string& text) { post(RecognitionResult{text, false}, {}); }
  void final(const std::string& text) { post(RecognitionResult{text, true}, {}); }
  void fail(const std::string& description) { post({}, RecognitionError{description}); }

  SpeechRecognizer::ResultHandler handler = [](auto&, auto&) {};
  std::atomic<size_t> buffers{0};
  std::atomic<int> endAudioCalls{0};
  bool cancelled = false;
  double backlog = 0;  // what backlogSeconds() reports

 private:
  void post(std::optional<RecognitionResult> result, std::optional<RecognitionError> error) {
    queue_.async([handler = handler, result, error] { handler(result, error); });
  }

  MainQueue& queue_;
};

// One recogniser stands for every locale the test supports: its availability, its tasks and the
// results the test sends are shared by all of them.
class FakeSpeechRecognizerFactory final : public SpeechRecognizerFactory, public SpeechRecognizer {
 public:
  explicit FakeSpeechRecognizerFactory(MainQueue& queue) : queue_(queue) {}

  // Makes `locale` one the platform can recognise.
  void support(const std::string& locale) { supported_.insert(locale); }
  // The recogniser for `locale`, or null.
  FakeSpeechRecognizerFactory* latest(const std::string& locale) {
    return supported_.contains(locale) ? this : nullptr;
  }

  std::shared_ptr<SpeechRecognizer> recognizerFor(const std::string& locale) override {
    if (!latest(locale)) return nullptr;
    return std::shared_ptr<SpeechRecognizer>(this, [](SpeechRecognizer*) {});  // the test owns it
  }
  bool isAvailable() const override { return available; }
  std::shared_ptr<RecognitionRequest> makeRequest() override {
    return std::make_shared<FakeRecognitionTask>(queue_);
  }
  std::shared_ptr<RecognitionTask> recognitionTask(std::shared_ptr<RecognitionRequest> request,
                                                   ResultHandler handler) override {
    tasks.push_back(std::static_pointer_cast<FakeRecognitionTask>(request));
    tasks.back()->handler = std::move(handler);
    return tasks.back();
  }

  bool available = true;
  std::vector<std::shared_ptr<FakeRecognitionTask>> tasks;  // oldest first

 private:
  MainQueue& queue_;
  std::set<std::string> supported_;
};

}  // namespace quorvel::testing
