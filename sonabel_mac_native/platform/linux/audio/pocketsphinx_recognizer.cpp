// pocketsphinx behind the speech recogniser ports; see pocketsphinx_recognizer.h.
// Missing: punctuation and resampling.
#include "platform/linux/audio/pocketsphinx_recognizer.h"

#include <pocketsphinx.h>
#include <sphinxbase/err.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstdarg>
#include <cstdio>
#include <utility>

namespace quorvel::linux_audio {

namespace {
constexpr double kModelRate = 16000.0;
constexpr size_t kChunkSamples = 4096;
constexpr size_t kIdleDecodersKept = 2;

std::string joined(const std::string& before, const std::string& after) {
  if (before.empty()) return after;
  if (after.empty()) return before;
  return before + " " + after;
}

// pocketsphinx reports through one process-wide logger. Its progress chatter is dropped, but
// warnings, errors and the message of a fatal error (after which it ends the process) go to
// standard error, where they can be read.
void sphinxLog(void*, err_lvl_t level, const char* format, ...) {
  if (level < ERR_ERROR) return;
  std::fputs("[PocketSphinx] ", stderr);
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fflush(stderr);
}
}  // namespace

// Shared by a request, the worker that drains it and the task handle. The worker waits on
// `wake`, which every event that concerns it bumps: audio, end of audio, cancel, release.
struct SphinxAudio {
  explicit SphinxAudio(size_t capacity) : samples(std::bit_ceil(std::max<size_t>(capacity, 2))) {}

  void poke() {
    wake.fetch_add(1, std::memory_order_release);
    wake.notify_all();
  }

  uint64_t available() const {
    return writePos.load(std::memory_order_acquire) - readPos.load(std::memory_order_relaxed);
  }

  // Consumer side: up to `max` samples, oldest first.
  size_t read(int16_t* out, size_t max) {
    const uint64_t r = readPos.load(std::memory_order_relaxed);
    const uint64_t w = writePos.load(std::memory_order_acquire);
    const size_t n = static_cast<size_t>(std::min<uint64_t>(w - r, max));
    const size_t mask = samples.size() - 1;
    for (size_t i = 0; i < n; ++i) out[i] = samples[(r + i) & mask];
    readPos.store(r + n, std::memory_order_release);
    return n;
  }

  std::vector<int16_t> samples;  // size is a power of two
  std::atomic<uint64_t> writePos{0};
  std::atomic<uint64_t> readPos{0};
  std::atomic<uint64_t> processed{0};
  std::atomic<uint64_t> dropped{0};
  std::atomic<double> rejectedRate{0.0};
  std::atomic<bool> ended{false};
  std::atomic<bool> abandoned{false};
  std::atomic<uint32_t> wake{0};
};

struct SphinxTaskState {
  explicit SphinxTaskState(SpeechRecognizer::ResultHandler h) : handler(std::move(h)) {}
  SpeechRecognizer::ResultHandler handler;  // called on the main queue only
  std::atomic<bool> cancelled{false};
  std::atomic<bool> released{false};
  std::atomic<bool> finished{false};
};

// One loaded decoder; used by one worker at a time.
class SphinxDecoder {
 public:
  explicit SphinxDecoder(const SphinxModel& model) {
    config_ = cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", model.acousticModel.c_str(), "-lm",
                          model.languageModel.c_str(), "-dict", model.dictionary.c_str(), nullptr);
    if (config_) decoder_ = ps_init(config_);
  }
  ~SphinxDecoder() {
    if (decoder_) ps_free(decoder_);
    if (config_) cmd_ln_free_r(config_);
  }
  SphinxDecoder(const SphinxDecoder&) = delete;
  SphinxDecoder& operator=(const SphinxDecoder&) = delete;

  bool loaded() const { return decoder_ != nullptr; }
  ps_decoder_t* get() const { return decoder_; }

  std::string hypothesis() const {
    int32 score = 0;
    const char* text = ps_get_hyp(decoder_, &score);
    return text ? std::string(text) : std::string();
  }

 private:
  cmd_ln_t* config_ = nullptr;
  ps_decoder_t* decoder_ = nullptr;
};

namespace {

class PocketSphinxTask final : public RecognitionTask {
 public:
  PocketSphinxTask(std::shared_ptr<SphinxTaskState> state, std::shared_ptr<SphinxAudio> audio)
      : state_(std::move(state)), audio_(std::move(audio)) {}
  // A task nobody holds can still finish an utterance whose audio has ended; the worker stops
  // only once the request is gone as well, since then no audio and no end can come.
  ~PocketSphinxTask() override {
    state_->released.store(true, std::memory_order_release);
    if (audio_) audio_->poke();
  }
  void cancel() override {
    state_->cancelled.store(true, std::memory_order_release);
    if (audio_) audio_->poke();
  }
  double backlogSeconds() const override {
    if (!audio_ || state_->finished.load(std::memory_order_acquire)) return 0;
    const uint64_t written = audio_->writePos.load(std::memory_order_acquire);
    const uint64_t done = audio_->processed.load(std::memory_order_acquire);
    return written > done ? static_cast<double>(written - done) / kModelRate : 0;
  }

 private:
  std::shared_ptr<SphinxTaskState> state_;
  std::shared_ptr<SphinxAudio> audio_;
};

}  // namespace

PocketSphinxRequest::PocketSphinxRequest(size_t capacitySamples)
    : audio_(std::make_shared<SphinxAudio>(capacitySamples)) {}

PocketSphinxRequest::~PocketSphinxRequest() {
  audio_->abandoned.store(true, std::memory_order_release);
  audio_->poke();
}

void PocketSphinxRequest::append(const AudioBuffer& buffer) {
  SphinxAudio& a = *audio_;
  if (a.ended.load(std::memory_order_acquire) || !buffer.samples || buffer.frames == 0) return;
  if (buffer.format.sampleRate != kModelRate) {
    a.rejectedRate.store(buffer.format.sampleRate, std::memory_order_relaxed);
    a.poke();
    return;
  }
  const uint32_t channels = std::max<uint32_t>(buffer.format.channels, 1);
  const uint64_t w = a.writePos.load(std::memory_order_relaxed);
  const uint64_t r = a.readPos.load(std::memory_order_acquire);
  const size_t room = a.samples.size() - static_cast<size_t>(w - r);
  const size_t n = std::min(room, buffer.frames);
  const size_t mask = a.samples.size() - 1;
  for (size_t i = 0; i < n; ++i) {
    int32_t sum = 0;
    for (uint32_t c = 0; c < channels; ++c) sum += buffer.samples[i * channels + c];
    a.samples[(w + i) & mask] = static_cast<int16_t>(sum / static_cast<int32_t>(channels));
  }
  a.writePos.store(w + n, std::memory_order_release);
  if (n < buffer.frames) a.dropped.fetch_add(buffer.frames - n, std::memory_order_relaxed);
  a.poke();
}

void PocketSphinxRequest::endAudio() {
  audio_->ended.store(true, std::memory_order_release);
  audio_->poke();
}

uint64_t PocketSphinxRequest::processedSamples() const {
  return audio_->processed.load(std::memory_order_acquire);
}

PocketSphinxRecognizer::PocketSphinxRecognizer(MainQueue& mainQueue, SphinxModel model)
    : mainQueue_(mainQueue), model_(std::move(model)) {
  // No log file (its configuration dumps go there), but the logger for what matters.
  err_set_logfp(nullptr);
  err_set_callback(&sphinxLog, nullptr);
}

PocketSphinxRecognizer::~PocketSphinxRecognizer() {
  shuttingDown_.store(true, std::memory_order_release);
  for (auto& worker : workers_) worker.audio->poke();
  for (auto& worker : workers_) {
    if (worker.thread.joinable()) worker.thread.join();
  }
}

bool PocketSphinxRecognizer::isAvailable() const {
  return !loadFailed_.load(std::memory_order_acquire);
}

std::shared_ptr<RecognitionRequest> PocketSphinxRecognizer::makeRequest() {
  return std::make_shared<PocketSphinxRequest>();
}

std::shared_ptr<RecognitionTask> PocketSphinxRecognizer::recognitionTask(
    std::shared_ptr<RecognitionRequest> request, ResultHandler handler) {
  reapFinishedWorkers();
  auto state = std::make_shared<SphinxTaskState>(std::move(handler));
  auto* own = dynamic_cast<PocketSphinxRequest*>(request.get());
  if (!own) {
    post(state, std::nullopt, RecognitionError{"Recognition request not made by this recognizer"});
    return std::make_shared<PocketSphinxTask>(state, nullptr);
  }
  auto audio = own->audio();
  const bool reportPartials = request->shouldReportPartialResults;
  workers_.push_back(Worker{
      std::thread([this, state, audio, reportPartials] { run(state, audio, reportPartials); }),
      state, audio});
  return std::make_shared<PocketSphinxTask>(state, audio);
}

void PocketSphinxRecognizer::reapFinishedWorkers() {
  auto done = std::partition(workers_.begin(), workers_.end(), [](const Worker& w) {
    return !w.state->finished.load(std::memory_order_acquire);
  });
  for (auto it = done; it != workers_.end(); ++it) it->thread.join();
  workers_.erase(done, workers_.end());
}

void PocketSphinxRecognizer::post(const std::shared_ptr<SphinxTaskState>& state,
                                  std::optional<RecognitionResult> result,
                                  std::optional<RecognitionError> error) {
  // The cancelled flag is read on the main queue, where cancel() is called: once cancel()
  // has returned, whatever is still queued finds it set.
  mainQueue_.async([state, result = std::move(result), error = std::move(error)] {
    if (state->cancelled.load(std::memory_order_acquire) || !state->handler) return;
    state->handler(result, error);
  });
}

std::unique_ptr<SphinxDecoder> PocketSphinxRecognizer::takeDecoder() {
  {
    std::lock_guard lock(poolMutex_);
    if (!pool_.empty()) {
      auto decoder = std::move(pool_.back());
      pool_.pop_back();
      return decoder;
    }
  }
  auto decoder = std::make_unique<SphinxDecoder>(model_);
  if (!decoder->loaded()) {
    loadFailed_.store(true, std::memory_order_release);
    return nullptr;
  }
  return decoder;
}

void PocketSphinxRecognizer::returnDecoder(std::unique_ptr<SphinxDecoder> decoder) {
  std::lock_guard lock(poolMutex_);
  if (pool_.size() < kIdleDecodersKept) pool_.push_back(std::move(decoder));
}

void PocketSphinxRecognizer::run(const std::shared_ptr<SphinxTaskState>& state,
                                 const std::shared_ptr<SphinxAudio>& audio, bool reportPartials) {
  auto stopped = [&] {
    return state->cancelled.load(std::memory_order_acquire) ||
           shuttingDown_.load(std::memory_order_acquire);
  };
  auto decoder = takeDecoder();
  if (!decoder) {
    post(state, std::nullopt,
         RecognitionError{"Speech model could not be loaded from " + model_.folder});
    finish(*state);
    return;
  }
  std::array<int16_t, kChunkSamples> chunk{};
  std::string lastPartial;
  std::optional<RecognitionResult> finalResult;
  // Utterances open with their first audio: pocketsphinx complains about one ended empty.
  bool utteranceOpen = false;
  // Long dictation is cut into utterances at the pauses between sentences: each is finished
  // while the user goes on speaking, so that at the end only the last one is left to decode,
  // however long the whole dictation was. The text is the utterances' texts joined.
  std::string earlier;
  bool heardSpeech = false;
  while (!stopped()) {
    const uint32_t seen = audio->wake.load(std::memory_order_acquire);
    const double rate = audio->rejectedRate.load(std::memory_order_relaxed);
    if (rate != 0.0) {
      post(state, std::nullopt,
           RecognitionError{"Audio at " + std::to_string(static_cast<int>(rate)) +
                            " Hz cannot be recognized; the speech model needs 16000 Hz"});
      break;
    }
    if (audio->dropped.load(std::memory_order_relaxed) > 0) {
      post(state, std::nullopt,
           RecognitionError{"Audio was lost: speech recognition could not keep up"});
      break;
    }
    const bool ended = audio->ended.load(std::memory_order_acquire);
    // Whole chunks only, until the end: the hypotheses then depend on the audio alone, not
    // on how the worker's timing happened to cut it.
    const uint64_t available = audio->available();
    const size_t n =
        available >= chunk.size() || ended ? audio->read(chunk.data(), chunk.size()) : 0;
    if (n > 0) {
      if (!utteranceOpen) {
        ps_start_utt(decoder->get());
        utteranceOpen = true;
      }
      ps_process_raw(decoder->get(), chunk.data(), n, FALSE, FALSE);
      if (ps_get_in_speech(decoder->get())) {
        heardSpeech = true;
      } else if (heardSpeech) {
        ps_end_utt(decoder->get());
        utteranceOpen = false;
        earlier = joined(earlier, decoder->hypothesis());
        heardSpeech = false;
      }
      audio->processed.fetch_add(n, std::memory_order_release);
      if (reportPartials) {
        std::string partial = utteranceOpen ? joined(earlier, decoder->hypothesis()) : earlier;
        if (partial != lastPartial) {
          lastPartial = partial;
          post(state, RecognitionResult{std::move(partial), false}, std::nullopt);
        }
      }
      continue;
    }
    if (ended) {
      std::string last;
      if (utteranceOpen) {
        ps_end_utt(decoder->get());
        utteranceOpen = false;
        last = decoder->hypothesis();
      }
      finalResult = RecognitionResult{joined(earlier, last), true};
      break;
    }
    if (state->released.load(std::memory_order_acquire) &&
        audio->abandoned.load(std::memory_order_acquire)) {
      break;
    }
    audio->wake.wait(seen, std::memory_order_acquire);
  }
  if (utteranceOpen) ps_end_utt(decoder->get());
  // Back in the pool before the final goes out, so that a task started in answer to it reuses
  // this decoder instead of loading another.
  returnDecoder(std::move(decoder));
  if (finalResult) post(state, std::move(finalResult), std::nullopt);
  finish(*state);
}

void PocketSphinxRecognizer::finish(SphinxTaskState& state) {
  {
    std::lock_guard lock(idleMutex_);
    state.finished.store(true, std::memory_order_release);
  }
  idleChanged_.notify_all();
}

bool PocketSphinxRecognizer::waitUntilIdle(std::chrono::milliseconds bound) {
  std::vector<std::shared_ptr<SphinxTaskState>> states;
  for (const auto& worker : workers_) states.push_back(worker.state);
  std::unique_lock lock(idleMutex_);
  return idleChanged_.wait_for(lock, bound, [&] {
    return std::all_of(states.begin(), states.end(),
                       [](const auto& s) { return s->finished.load(std::memory_order_acquire); });
  });
}

PocketSphinxRecognizerFactory::PocketSphinxRecognizerFactory(MainQueue& mainQueue,
                                                             const HomeDirectory& home,
                                                             std::string systemModelDir)
    : mainQueue_(mainQueue), home_(home), systemModelDir_(std::move(systemModelDir)) {}

std::shared_ptr<SpeechRecognizer> PocketSphinxRecognizerFactory::recognizerFor(
    const std::string& localeIdentifier) {
  auto model = findSphinxModel(localeIdentifier, {home_.appFolder() + "/models", systemModelDir_});
  if (!model) return nullptr;
  return std::make_shared<PocketSphinxRecognizer>(mainQueue_, std::move(*model));
}

}  // namespace quorvel::linux_audio
