// Speech fakes the test drives by hand: permissions with scripted answers on a chosen thread,
// recognisers per locale, and tasks whose results, errors and finals the test sends, late or
// after a cancel if it wants to see the controller misbehave-proof.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/main_queue.h"
#include "platform/speech.h"

namespace quorvel::testing {

// Where a permission answer arrives: before the request returns, on a thread of its own, or
// only when the test calls answerPending().
enum class AnswerOn { CallerThread, OtherThread, Manually };

class FakePermissionProvider final : public PermissionProvider {
 public:
  SpeechAuthorization speech = SpeechAuthorization::Authorized;
  MicrophoneAuthorization microphone = MicrophoneAuthorization::Authorized;
  // What the user answers at a prompt (only asked while the status is not determined).
  bool userGrantsSpeech = true;
  bool userGrantsMicrophone = true;
  AnswerOn answerOn = AnswerOn::CallerThread;

  ~FakePermissionProvider() override { joinThreads(); }

  SpeechAuthorization speechStatus() const override { return speech; }
  MicrophoneAuthorization microphoneStatus() const override { return microphone; }

  void requestSpeech(std::function<void(SpeechAuthorization)> done) override {
    ++speechRequests;
    if (speech == SpeechAuthorization::NotDetermined) {
      prompts.push_back("speech");
      speech = userGrantsSpeech ? SpeechAuthorization::Authorized : SpeechAuthorization::Denied;
    }
    SpeechAuthorization answer = speech;
    deliver([done = std::move(done), answer] { done(answer); });
  }

  void requestMicrophone(std::function<void(bool)> done) override {
    ++microphoneRequests;
    if (microphone == MicrophoneAuthorization::NotDetermined) {
      prompts.push_back("microphone");
      microphone = userGrantsMicrophone ? MicrophoneAuthorization::Authorized
                                        : MicrophoneAuthorization::Denied;
    }
    bool granted = microphone == MicrophoneAuthorization::Authorized;
    deliver([done = std::move(done), granted] { done(granted); });
  }

  // Sends the answers held back with AnswerOn::Manually, oldest first.
  void answerPending() {
    std::vector<std::function<void()>> held;
    held.swap(held_);
    for (auto& answer : held) answer();
  }

  // Waits for the answers sent on other threads to have been handed over.
  void joinThreads() {
    for (auto& thread : threads_) thread.join();
    threads_.clear();
  }

  std::vector<std::string> prompts;
  int speechRequests = 0;
  int microphoneRequests = 0;

 private:
  void deliver(std::function<void()> answer) {
    switch (answerOn) {
      case AnswerOn::CallerThread:
        answer();
        break;
      case AnswerOn::OtherThread:
        threads_.emplace_back(std::move(answer));
        break;
      case AnswerOn::Manually:
        held_.push_back(std::move(answer));
        break;
    }
  }

  std::vector<std::thread> threads_;
  std::vector<std::function<void()>> held_;
};

class FakeRecognitionRequest final : public RecognitionRequest {
 public:
  void append(const AudioBuffer& buffer) override {
    buffers.fetch_add(1);
    frames.fetch_add(buffer.frames);
  }
  void endAudio() override { ++endAudioCalls; }

  std::atomic<size_t> buffers{0};
  std::atomic<size_t> frames{0};
  int endAudioCalls = 0;
};

// Results go through the main queue, as the platform's recogniser delivers them. A cancelled
// task stays silent unless the test asks for a late delivery on purpose.
class FakeRecognitionTask final : public RecognitionTask {
 public:
  FakeRecognitionTask(MainQueue& queue, std::shared_ptr<FakeRecognitionRequest> request,
                      SpeechRecognizer::ResultHandler handler, std::string locale)
      : request(std::move(request)),
        locale(std::move(locale)),
        queue_(queue),
        handler_(std::move(handler)) {}

  void cancel() override { cancelled = true; }
  double backlogSeconds() const override { return backlog; }

  void partial(const std::string& text) { send(RecognitionResult{text, false}, std::nullopt); }
  void final(const std::string& text) { send(RecognitionResult{text, true}, std::nullopt); }
  void fail(const std::string& description) { send(std::nullopt, RecognitionError{description}); }
  // What a misbehaving platform might still send after cancel().
  void lateResult(const std::string& text, bool isFinal) {
    post(RecognitionResult{text, isFinal}, std::nullopt);
  }
  void lateError(const std::string& description) {
    post(std::nullopt, RecognitionError{description});
  }

  std::shared_ptr<FakeRecognitionRequest> request;
  std::string locale;
  bool cancelled = false;
  // Set when its recogniser is destroyed: like the real one, the task then ends silently.
  bool recognizerGone = false;
  double backlog = 0;  // what backlogSeconds() reports

 private:
  void send(std::optional<RecognitionResult> result, std::optional<RecognitionError> error) {
    if (!cancelled && !recognizerGone) post(std::move(result), std::move(error));
  }
  void post(std::optional<RecognitionResult> result, std::optional<RecognitionError> error) {
    queue_.async([handler = handler_, result = std::move(result), error = std::move(error)] {
      handler(result, error);
    });
  }

  MainQueue& queue_;
  SpeechRecognizer::ResultHandler handler_;
};

class FakeSpeechRecognizer final : public SpeechRecognizer {
 public:
  FakeSpeechRecognizer(MainQueue& queue, std::string locale)
      : locale(std::move(locale)), queue_(queue) {}
  // Ends every task without a word, as the real recogniser's destructor does.
  ~FakeSpeechRecognizer() override {
    for (auto& task : tasks) task->recognizerGone = true;
  }

  bool isAvailable() const override { return available; }
  std::shared_ptr<RecognitionRequest> makeRequest() override {
    auto request = std::make_shared<FakeRecognitionRequest>();
    requests.push_back(request);
    return request;
  }
  std::shared_ptr<RecognitionTask> recognitionTask(std::shared_ptr<RecognitionRequest> request,
                                                   ResultHandler handler) override {
    auto task = std::make_shared<FakeRecognitionTask>(
        queue_, std::static_pointer_cast<FakeRecognitionRequest>(request), std::move(handler),
        locale);
    tasks.push_back(task);
    return task;
  }

  std::string locale;
  bool available = true;
  std::vector<std::shared_ptr<FakeRecognitionRequest>> requests;
  std::vector<std::shared_ptr<FakeRecognitionTask>> tasks;

 private:
  MainQueue& queue_;
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
    asked.push_back(locale);
    auto found = made_.find(locale);
    if (found == made_.end()) return nullptr;
    auto recognizer = std::make_shared<FakeSpeechRecognizer>(queue_, locale);
    found->second = recognizer;
    return recognizer;
  }

  std::vector<std::string> asked;

 private:
  MainQueue& queue_;
  std::map<std::string, std::weak_ptr<FakeSpeechRecognizer>> made_;
};

}  // namespace quorvel::testing
