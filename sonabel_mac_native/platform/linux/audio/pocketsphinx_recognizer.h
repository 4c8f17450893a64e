// Speech recognition with pocketsphinx: the recogniser factory, the recogniser per model, its
// buffer requests and recognition tasks (the SpeechRecognizerFactory, SpeechRecognizer,
// RecognitionRequest and RecognitionTask ports).
//
// Each task decodes on a worker thread of its own with a decoder taken from the recogniser's
// pool; decoders load lazily (about half a second for the en-US model) and are reused by later
// tasks. A task ends an utterance at every pause in the speech and starts the next, so the
// decoder keeps pace with a long dictation; its text is all utterances joined. Partial
// hypotheses are reported when they change, the final one after endAudio(); all results are
// posted to the main queue, and a cancelled task delivers nothing more. Audio the ring had no
// room for ends the task with an error rather than leaving a silent gap. pocketsphinx's errors
// go to standard error.
// Missing: punctuation and capitals (pocketsphinx produces neither, so addsPunctuation is
// ignored) and resampling (audio must be 16 kHz; other rates end the task with an error).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/home_directory.h"
#include "platform/linux/audio/pocketsphinx_model.h"
#include "platform/main_queue.h"
#include "platform/speech.h"

namespace quorvel::linux_audio {

class SphinxDecoder;
struct SphinxAudio;
struct SphinxTaskState;

// The audio of one request. append() copies into a preallocated ring that the task's worker
// drains: no lock, no allocation, and it never waits. Audio that does not fit (a worker far
// behind) is dropped and counted, and the task then ends with an error.
class PocketSphinxRequest final : public RecognitionRequest {
 public:
  // About a minute of 16 kHz audio (2 MiB): room for the backlog while the decoder loads and
  // while a busy machine lets it fall behind for a while.
  static constexpr size_t kDefaultCapacity = size_t{1} << 20;

  explicit PocketSphinxRequest(size_t capacitySamples = kDefaultCapacity);
  ~PocketSphinxRequest() override;

  void append(const AudioBuffer& buffer) override;
  void endAudio() override;

  // Samples the task's decoder has taken in so far.
  uint64_t processedSamples() const;
  const std::shared_ptr<SphinxAudio>& audio() const { return audio_; }

 private:
  std::shared_ptr<SphinxAudio> audio_;
};

class PocketSphinxRecognizer final : public SpeechRecognizer {
 public:
  PocketSphinxRecognizer(MainQueue& mainQueue, SphinxModel model);
  // Stops every running task (without delivering) and waits for its worker.
  ~PocketSphinxRecognizer() override;

  bool isAvailable() const override;
  std::shared_ptr<RecognitionRequest> makeRequest() override;
  std::shared_ptr<RecognitionTask> recognitionTask(std::shared_ptr<RecognitionRequest> request,
                                                   ResultHandler handler) override;

  // Waits, at most `bound`, until no task of this recogniser is decoding or waiting for audio.
  // Returns whether that happened.
  bool waitUntilIdle(std::chrono::milliseconds bound);

 private:
  struct Worker {
    std::thread thread;
    std::shared_ptr<SphinxTaskState> state;
    std::shared_ptr<SphinxAudio> audio;
  };

  void run(const std::shared_ptr<SphinxTaskState>& state, const std::shared_ptr<SphinxAudio>& audio,
           bool reportPartials);
  void post(const std::shared_ptr<SphinxTaskState>& state, std::optional<RecognitionResult> result,
            std::optional<RecognitionError> error);
  std::unique_ptr<SphinxDecoder> takeDecoder();
  void returnDecoder(std::unique_ptr<SphinxDecoder> decoder);
  void reapFinishedWorkers();
  void finish(SphinxTaskState& state);

  MainQueue& mainQueue_;
  const SphinxModel model_;
  std::atomic<bool> loadFailed_{false};
  std::atomic<bool> shuttingDown_{false};
  std::mutex poolMutex_;
  std::vector<std::unique_ptr<SphinxDecoder>> pool_;
  std::vector<Worker> workers_;  // main thread only
  std::mutex idleMutex_;
  std::condition_variable idleChanged_;
};

// Recognisers for locales whose model is installed: "en-US" finds Debian's pocketsphinx-en-us;
// other locales look in <config home>/quorvel/models/ and in the system
// model folder (see pocketsphinx_model.h).
class PocketSphinxRecognizerFactory final : public SpeechRecognizerFactory {
 public:
  PocketSphinxRecognizerFactory(MainQueue& mainQueue, const HomeDirectory& home,
                                std::string systemModelDir = kSystemSphinxModelDir);

  std::shared_ptr<SpeechRecognizer> recognizerFor(const std::string& localeIdentifier) override;

 private:
  MainQueue& mainQueue_;
  const HomeDirectory& home_;
  std::string systemModelDir_;
};

}  // namespace quorvel::linux_audio
