// Speech recognition and the microphone, as the recording controller needs them.
//
// Threads:
//   - Authorisation answers arrive on any thread; the logic hops to the main queue itself.
//   - The tap block runs on the capture thread; it may only append to a recognition request.
//   - Recognition results and errors are delivered on the main queue.
//   - Capture start and loss reports arrive on any thread; the logic hops to the main queue.
//   - Everything else is called on the main thread.
// Linux: PulseAudio capture and pocketsphinx (platform/linux/audio). Tests: scripted fakes
// (tests/fakes) that can deliver results late, twice, or from a cancelled task.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace quorvel {

// Raw values follow the platform conventions the logic was designed against.
enum class SpeechAuthorization { NotDetermined = 0, Denied = 1, Restricted = 2, Authorized = 3 };
enum class MicrophoneAuthorization {
  NotDetermined = 0,
  Restricted = 1,
  Denied = 2,
  Authorized = 3
};

class PermissionProvider {
 public:
  virtual ~PermissionProvider() = default;
  virtual SpeechAuthorization speechStatus() const = 0;
  virtual MicrophoneAuthorization microphoneStatus() const = 0;
  // Ask when not determined; in every case call back once with the resulting answer.
  virtual void requestSpeech(std::function<void(SpeechAuthorization)> done) = 0;
  virtual void requestMicrophone(std::function<void(bool granted)> done) = 0;
};

struct AudioFormat {
  double sampleRate = 16000.0;
  uint32_t channels = 1;
};

// One block of captured audio: interleaved signed 16-bit samples. Only valid during the call.
struct AudioBuffer {
  const int16_t* samples = nullptr;
  size_t frames = 0;
  AudioFormat format;
};

// Audio fed to one recognition task. append() is called on the capture thread and must not
// block or allocate; endAudio() and the settings on the main thread.
class RecognitionRequest {
 public:
  virtual ~RecognitionRequest() = default;
  virtual void append(const AudioBuffer& buffer) = 0;
  virtual void endAudio() = 0;
  bool shouldReportPartialResults = true;
  bool addsPunctuation = false;
};

struct RecognitionResult {
  std::string formattedString;  // the whole text recognised so far by this task
  bool isFinal = false;
};

struct RecognitionError {
  std::string description;
};

class RecognitionTask {
 public:
  virtual ~RecognitionTask() = default;
  // Stops recognising; no result or error is delivered after it returns.
  virtual void cancel() = 0;
  // Optional: seconds of appended audio the recogniser has not decoded yet. A recogniser that
  // cannot tell reports 0 (always caught up).
  virtual double backlogSeconds() const { return 0; }
};

class SpeechRecognizer {
 public:
  using ResultHandler = std::function<void(const std::optional<RecognitionResult>& result,
                                           const std::optional<RecognitionError>& error)>;
  virtual ~SpeechRecognizer() = default;

  virtual bool isAvailable() const = 0;
  virtual std::shared_ptr<RecognitionRequest> makeRequest() = 0;
  // The handler runs on the main queue, repeatedly, until a final result or an error. Destroying
  // the recogniser ends its tasks without a word, so whoever waits for a final holds it.
  virtual std::shared_ptr<RecognitionTask> recognitionTask(
      std::shared_ptr<RecognitionRequest> request, ResultHandler handler) = 0;
};

class SpeechRecognizerFactory {
 public:
  virtual ~SpeechRecognizerFactory() = default;
  // A recogniser for the locale identifier ("en-US"), or null when none is installed.
  virtual std::shared_ptr<SpeechRecognizer> recognizerFor(const std::string& localeIdentifier) = 0;
};

// The microphone input with one tap on bus 0.
class AudioInput {
 public:
  using TapBlock = std::function<void(const AudioBuffer& buffer)>;
  // Called once per start, on any thread: nothing when capture runs, else why it cannot.
  using StartHandler = std::function<void(std::optional<std::string> error)>;
  // Called at most once per start, on any thread, when capture ends by itself (server gone).
  using LossHandler = std::function<void(std::string error)>;
  virtual ~AudioInput() = default;

  // True from start() until stop(), also while the start is still connecting.
  virtual bool isRunning() const = 0;
  virtual AudioFormat outputFormat(int bus) const = 0;
  virtual void installTap(int bus, uint32_t bufferSize, AudioFormat format, TapBlock block) = 0;
  // Harmless when no tap is installed.
  virtual void removeTap(int bus) = 0;
  virtual void prepare() = 0;
  // Starts capture without blocking the caller (connecting to a sound server can take
  // seconds). `started` reports the outcome; `lost` a capture that ends by itself later.
  virtual void start(StartHandler started, LossHandler lost) = 0;
  // Harmless when not running. After it returns the tap block is not called again; the start's
  // handlers may still arrive if they were already under way, and the caller ignores them.
  // Audio captured but not yet handed to the tap is handed over (a short block) before that.
  virtual void stop() = 0;
};

}  // namespace quorvel
