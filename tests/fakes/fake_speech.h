// Speech fakes the test drives by hand: permissions with scripted answers, recognisers per
// locale, and tasks whose results, errors and finals the test sends, late or after a cancel if
// it wants to see the controller misbehave-proof.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/main_queue.h"
#include "platform/speech.h"

namespace quorvel::testing {

class FakePermissionProvider final : public PermissionProvider {
 public:
  SpeechAuthorization speech = SpeechAuthorization::Authorized;
  MicrophoneAuthorization microphone = MicrophoneAuthorization::Authorized;
  // What the user answers at a prompt (only asked while the status is not determined).
  bool userGrantsSpeech = true;
  bool userGrantsMicrophone = true;
  // Answers wait for answerPending() instead of coming before the request returns.
  bool holdAnswers = false;

  SpeechAuthorization speechStatus() const override { return speech; }
  MicrophoneAuthorization microphoneStatus() const override { return microphone; }

  void requestSpeech(std::function<void(SpeechAuthorization)> done) override {
    if (speech == SpeechAuthorization::NotDetermined) {
      prompts.push_back("speech");
      speech = userGrantsSpeech ? SpeechAuthorization::Authorized : SpeechAuthorization::Denied;
    }
    deliver([done = std::move(done), answer = speech] { done(answer); });
  }

  void requestMicrophone(std::function<void(bool)> done) override {
    if (microphone == MicrophoneAuthorization::NotDetermined) {
      prompts.push_back("microphone");
      microphone = userGrantsMicrophone ? MicrophoneAuthorization::Authorized
                                        : MicrophoneAuthorization::Denied;
    }
    deliver([done = std::move(done), granted = microphone == MicrophoneAuthorization::Authorized] {
      done(granted);
    });
  }

  // Sends the held answers, oldest first, on the calling thread (any thread).
  void answerPending() {
    std::vector<std::function<void()>> held;
    held.swap(held_);
    for (auto& answer : held) answer();
  }

  std::vector<std::string> prompts;

 private:
  void deliver(std::function<void()> answer) {
    if (holdAnswers) {
      held_.push_back(std::move(answer));
    } else {
      answer();
    }
  }
  std::vector<std::function<void()>> held_;
};

class FakeRecognitionRequest final : public RecognitionRequest {
 public:
  void append(const AudioBuffer&) override { buffers.fetch_add(1); }
  void endAudio() override { ++endAudioCalls; }

  std::atomic<size_t> buffers{0};
  int endAudioCalls = 0;
};

// Results go through the main queue, as the platform's recogniser delivers them. A cancelled
// task stays silent unless the test asks for a late delivery on purpose.
class FakeRecognitionTask final : public RecognitionTask {
 public:
  FakeRecognitionTask(MainQueue& queue, std::shared_ptr<FakeRecognitionRequest> request,
                      SpeechRecognizer::ResultHandler handler)
      : request(std::move(request)), queue_(queue), handler_(std::move(handler)) {}

  void cancel() override { cancelled = true; }
  double backlogSeconds() const override { return backlog; }

  void partial(const std::string& text) { send(RecognitionResult{text, false}, std::nullopt); }
  void final(const std::string& text) { send(RecognitionResult{text, true}, std::nullopt); }
  void fail(const std::string& description) { send(std::nullopt, RecognitionError{description}); }
  // What a misbehaving platform might still send after cancel() or its recogniser's end.
  void post(std::optional<RecognitionResult> result, std::optional<RecognitionError> error) {
    queue_.async([handler = handler_, result = std::move(result), error = std::move(error)] {
      handler(result, error);
    });
  }

  std::shared_ptr<FakeRecognitionRequest> request;
  bool cancelled = false;
  // Set when its recogniser is destroyed: like the real one, the task then ends silently.
  bool recognizerGone = false;
  double backlog = 0;  // what backlogSeconds() reports

 private:
  void send(std::optional<RecognitionResult> result, std::optional<RecognitionError> error) {
    if (!cancelled && !recognizerGone) post(std::move(result), std::move(error));
  }

  MainQueue& queue_;
  SpeechRecognizer::ResultHandler handler_;
};

class FakeSpeechRecognizer final : public SpeechRecognizer {
 public:
  FakeSpeechRecognizer(MainQueue& queue, std::string locale,
                       std::vector<std::shared_ptr<FakeRecognitionTask>>& allTasks)
      : locale(std::move(locale)), queue_(queue), allTasks_(allTasks) {}
  // Ends every task without a word, as the real recogniser's destructor does.
  ~FakeSpeechRecognizer() override {
    for (auto& task : tasks) task->recognizerGone = true;
  }

  bool isAvailable() const override { return available; }
  std::shared_ptr<RecognitionRequest> makeRequest() override {
    return std::make_shared<FakeRecognitionRequest>();
  }
  std::shared_ptr<RecognitionTask> recognitionTask(std::shared_ptr<RecognitionRequest> request,
                                                   ResultHandler handler) override {
    auto task = std::make_shared<FakeRecognitionTask>(
        queue_, std::static_pointer_cast<FakeRecognitionRequest>(request), std::move(handler));
    tasks.push_back(task);
    allTasks_.push_back(task);
    return task;
  }

  std::string locale;
  bool available = true;
  std::vector<std::shared_ptr<FakeRecognitionTask>> tasks;

 private:
  MainQueue& queue_;
  std::vector<std::shared_ptr<FakeRecognitionTask>>& allTasks_;
};

// Like the real factory, every call makes a new recogniser and keeps none: a recogniser lives
// only as long as someone holds it.
class FakeSpeechRecognizerFactory final : public SpeechRecognizerFactory {
 public:
  explicit FakeSpeechRecognizerFactory(MainQueue& queue) : queue_(queue) {}

  // Makes `locale` one the platform can recognise.
  void support(const std::string& locale) { made_[locale]; }

  // The recogniser last made for `locale`, while someone still holds it.
  std::shared_ptr<FakeSpeechRecognizer> latest(const std::string& locale) const {
    auto found = made_.find(locale);
    return found == made_.end() ? nullptr : found->second.lock();
  }

  std::shared_ptr<SpeechRecognizer> recognizerFor(const std::string& locale) override {
    auto found = made_.find(locale);
    if (found == made_.end()) return nullptr;
    auto recognizer = std::make_shared<FakeSpeechRecognizer>(queue_, locale, tasks);
    found->second = recognizer;
    return recognizer;
  }

  // Every task of every recogniser made here, oldest first.
  std::vector<std::shared_ptr<FakeRecognitionTask>> tasks;

 private:
  MainQueue& queue_;
  std::map<std::string, std::weak_ptr<FakeSpeechRecognizer>> made_;
};

}  // namespace quorvel::testing
