// Speed and allocation figures of the Linux speech providers: the recogniser's real-time
// factor and word error rate on the librivox sentences, the time from endAudio() to the final
// result, the time from the page's stop to the raw text in the page for dictations of 5, 60 and
// 120 seconds, the time from speech onset to the first partial result, and heap allocations per
// tap buffer (the request's append, and PulseAudio's capture loop when run inside
// scripts/with-test-session).
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <string>
#include <thread>

#include "fakes/fake_app_controller.h"
#include "fakes/fake_audio_input.h"
#include "fakes/fake_http_client.h"
#include "fakes/fake_script_evaluator.h"
#include "fakes/fake_speech.h"
#include "fakes/fixed_calendar.h"
#include "fakes/recording_console.h"
#include "fakes/temp_home.h"
#include "fakes/threaded_main_queue.h"
#include "platform/linux/audio/allocation_counter.h"
#include "platform/linux/audio/live_audio.h"
#include "platform/linux/audio/pocketsphinx_recognizer.h"
#include "platform/linux/audio/pulse_audio_input.h"
#include "platform/linux/audio/speech_samples.h"
#include "speech/audio_engine.h"

namespace {

using namespace quorvel;
using namespace quorvel::linux_audio;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr size_t kBlock = 4096;

struct Outcome {
  bool ended = false;
  std::string text;
};

SpeechRecognizer::ResultHandler finalInto(Outcome& outcome) {
  return [&outcome](const auto& result, const auto& error) {
    if (error) outcome.ended = true;
    if (result && result->isFinal) {
      outcome.text = result->formattedString;
      outcome.ended = true;
    }
  };
}

void feed(RecognitionRequest& request, const std::vector<int16_t>& samples, size_t count) {
  for (size_t at = 0; at < count; at += kBlock) {
    request.append(AudioBuffer{samples.data() + at, std::min(kBlock, count - at), AudioFormat{}});
  }
}

// CPU seconds of the whole process (the worker's decoding, mostly): a figure that a loaded
// machine distorts far less than wall time.
double processCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

SphinxModel model() {
  return findSphinxModel("en-US", {kSystemSphinxModelDir}).value();
}

// Loads the recogniser's decoder once, so that the figures below are of decoding alone.
void warmUp(testing::ThreadedMainQueue& queue, PocketSphinxRecognizer& recognizer) {
  Outcome outcome;
  auto request = recognizer.makeRequest();
  auto task = recognizer.recognitionTask(request, finalInto(outcome));
  request->endAudio();
  queue.runUntil([&] { return outcome.ended; }, 120s);
}

// Audio fed as fast as the worker takes it; real time = wall time / audio duration.
void BM_LibrivoxRealTimeFactorAndWordErrorRate(benchmark::State& state) {
  const auto sentences = testing::librivox();
  testing::ThreadedMainQueue queue;
  PocketSphinxRecognizer recognizer(queue, model());
  warmUp(queue, recognizer);
  double audioSeconds = 0, wallSeconds = 0, cpuSeconds = 0;
  size_t errors = 0, words = 0;
  for (auto _ : state) {
    for (const auto& sentence : sentences) {
      Outcome outcome;
      const auto start = Clock::now();
      const double cpuStart = processCpuSeconds();
      auto request = recognizer.makeRequest();
      request->shouldReportPartialResults = true;
      auto task = recognizer.recognitionTask(request, finalInto(outcome));
      feed(*request, sentence.samples, sentence.samples.size());
      request->endAudio();
      if (!queue.runUntil([&] { return outcome.ended; }, 300s)) {
        state.SkipWithError("no final result");
        return;
      }
      wallSeconds += std::chrono::duration<double>(Clock::now() - start).count();
      cpuSeconds += processCpuSeconds() - cpuStart;
      audioSeconds += static_cast<double>(sentence.samples.size()) / 16000;
      errors += testing::wordErrors(sentence.transcript, outcome.text);
      words += testing::words(sentence.transcript).size();
    }
  }
  state.counters["audio_s"] = audioSeconds;
  state.counters["rtf"] = wallSeconds / audioSeconds;
  state.counters["cpu_rtf"] = cpuSeconds / audioSeconds;
  state.counters["wer_pct"] = 100.0 * static_cast<double>(errors) / static_cast<double>(words);
}
BENCHMARK(BM_LibrivoxRealTimeFactorAndWordErrorRate)->Iterations(1)->Unit(benchmark::kSecond);

// As in a session: whole blocks decoded while they arrive, then the stop. Timed from
// endAudio() to the final result running on the main queue.
void BM_EndAudioToFinalResult(benchmark::State& state) {
  const auto speech = testing::goForward().samples;
  const size_t whole = speech.size() / kBlock * kBlock;
  testing::ThreadedMainQueue queue;
  PocketSphinxRecognizer recognizer(queue, model());
  warmUp(queue, recognizer);
  double cpuSeconds = 0;
  for (auto _ : state) {
    Outcome outcome;
    auto request = recognizer.makeRequest();
    auto task = recognizer.recognitionTask(request, finalInto(outcome));
    feed(*request, speech, whole);
    auto& own = static_cast<PocketSphinxRequest&>(*request);
    while (own.processedSamples() < whole) {
      queue.runUntil([&] { return own.processedSamples() >= whole; }, 10ms);
    }
    queue.runPending();
    const auto start = Clock::now();
    const double cpuStart = processCpuSeconds();
    request->endAudio();
    queue.runUntil([&] { return outcome.ended; }, 60s);
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    cpuSeconds += processCpuSeconds() - cpuStart;
    if (outcome.text != "go forward ten meters") state.SkipWithError(outcome.text.c_str());
  }
  state.counters["cpu_ms"] = 1000.0 * cpuSeconds / static_cast<double>(state.iterations());
}
BENCHMARK(BM_EndAudioToFinalResult)->Iterations(10)->UseManualTime()->Unit(benchmark::kMillisecond);

// The real recogniser, keeping hold of the last request the controller made, so that the
// benchmark can see how far the decoder has got.
class WatchedRecognizer final : public SpeechRecognizer {
 public:
  explicit WatchedRecognizer(std::shared_ptr<PocketSphinxRecognizer> real)
      : real_(std::move(real)) {}
  bool isAvailable() const override { return real_->isAvailable(); }
  std::shared_ptr<RecognitionRequest> makeRequest() override {
    auto request = real_->makeRequest();
    last = std::static_pointer_cast<PocketSphinxRequest>(request);
    return request;
  }
  std::shared_ptr<RecognitionTask> recognitionTask(std::shared_ptr<RecognitionRequest> request,
                                                   ResultHandler handler) override {
    return real_->recognitionTask(std::move(request), std::move(handler));
  }
  std::shared_ptr<PocketSphinxRequest> last;

 private:
  std::shared_ptr<PocketSphinxRecognizer> real_;
};

class WatchedFactory final : public SpeechRecognizerFactory {
 public:
  explicit WatchedFactory(std::shared_ptr<WatchedRecognizer> r) : recognizer(std::move(r)) {}
  std::shared_ptr<SpeechRecognizer> recognizerFor(const std::string&) override {
    return recognizer;
  }
  std::shared_ptr<WatchedRecognizer> recognizer;
};

// librivox sentences with 1.5 s pauses, repeated until `seconds` are reached (whole sentences,
// so the stop comes after a finished sentence, as a user's would).
std::vector<int16_t> dictationOf(double seconds) {
  const auto sentences = testing::librivox();
  std::vector<int16_t> all;
  for (size_t i = 0; static_cast<double>(all.size()) < seconds * 16000; ++i) {
    const auto& s = sentences[i % sentences.size()].samples;
    all.insert(all.end(), s.begin(), s.end());
    if (static_cast<double>(all.size()) < seconds * 16000) all.insert(all.end(), 24000, 0);
  }
  return all;
}

// From the page's stop to the raw transcript call reaching the page, through the recording
// controller. The audio goes in block by block, each once the decoder has taken the one before,
// which is where a decoder faster than real time stands when it is fed by the microphone: the
// figure is what the user waits after the stop, without the minutes of playback.
void BM_StopToRawText(benchmark::State& state) {
  const auto audio = dictationOf(static_cast<double>(state.range(0)));
  testing::ThreadedMainQueue queue;
  auto recognizer =
      std::make_shared<WatchedRecognizer>(std::make_shared<PocketSphinxRecognizer>(queue, model()));
  WatchedFactory factory(recognizer);
  testing::TempHome home;
  testing::RecordingConsole console;
  testing::FakeHttpClient http;
  testing::FixedCalendar calendar{"2026-12-06"};
  testing::FakePermissionProvider permissions;
  testing::FakeAudioInput microphone;
  DeepSeekPolisher polisher{home, localFileSystem(), http, console};
  HistoryStore history{home, localFileSystem()};
  UsageStore usage{home, localFileSystem(), calendar};
  auto webView = std::make_shared<testing::FakeScriptEvaluator>(queue);
  auto engine = std::make_shared<AudioEngine>(AudioEngineServices{
      queue, factory, permissions, microphone, polisher, history, usage, console});
  engine->setWebView(webView);
  auto rawTextShown = [&] {
    for (const auto& s : webView->scripts) {
      if (s.find("showRawAndStartPolish(") != std::string::npos) return true;
    }
    return false;
  };
  for (auto _ : state) {
    webView->scripts.clear();
    engine->userContentControllerDidReceive({{"action", "start_recording"}});
    queue.runPending();
    auto request = recognizer->last;
    uint64_t fed = 0;
    for (size_t at = 0; at < audio.size(); at += kBlock) {
      const size_t n = std::min(kBlock, audio.size() - at);
      microphone.pushSamples(audio.data() + at, n);
      fed += n;
      const uint64_t whole = fed / kBlock * kBlock;
      while (request->processedSamples() < whole) {
        queue.runUntil([&] { return request->processedSamples() >= whole; }, 5ms);
      }
    }
    queue.runPending();
    const auto start = Clock::now();
    engine->userContentControllerDidReceive({{"action", "stop_recording"}, {"mode", "Extract"}});
    if (!queue.runUntil(rawTextShown, 60s)) {
      state.SkipWithError("no raw text");
      return;
    }
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    for (const auto& line : console.lines()) {
      if (line.find("timeout waiting for final") != std::string::npos) {
        state.SkipWithError("delivered by the time-out");
      }
    }
    console.clear();
    while (http.pending() > 0) http.fail(0, "offline");
    queue.runPending();
  }
  state.counters["audio_s"] = static_cast<double>(audio.size()) / 16000.0;
}
BENCHMARK(BM_StopToRawText)
    ->Arg(5)
    ->Arg(60)
    ->Arg(120)
    ->Iterations(1)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true)
    ->UseManualTime()
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMillisecond);

// From appending the block in which speech starts to the first non-empty partial result on the
// main queue, blocks going in as the microphone delivers them (each after the decoder took the
// one before). The block itself takes 256 ms to fill at the microphone, which comes on top.
void BM_SpeechOnsetToFirstPartial(benchmark::State& state) {
  std::vector<int16_t> audio(16000, 0);  // one second of silence first
  const auto speech = testing::goForward().samples;
  size_t onset = 0;
  while (onset < speech.size() && std::abs(speech[onset]) < 2000) ++onset;
  audio.insert(audio.end(), speech.begin(), speech.end());
  const size_t onsetBlock = (16000 + onset) / kBlock;
  testing::ThreadedMainQueue queue;
  PocketSphinxRecognizer recognizer(queue, model());
  warmUp(queue, recognizer);
  for (auto _ : state) {
    bool partial = false;
    auto request = recognizer.makeRequest();
    auto task = recognizer.recognitionTask(request, [&](const auto& result, const auto&) {
      if (result && !result->formattedString.empty()) partial = true;
    });
    auto& own = static_cast<PocketSphinxRequest&>(*request);
    Clock::time_point onsetAt{};
    size_t lastBlock = 0;
    for (size_t block = 0; !partial && (block + 1) * kBlock <= audio.size(); ++block) {
      if (block == onsetBlock) onsetAt = Clock::now();
      lastBlock = block;
      request->append(AudioBuffer{audio.data() + block * kBlock, kBlock, AudioFormat{}});
      const uint64_t whole = (block + 1) * kBlock;
      while (own.processedSamples() < whole) {
        queue.runUntil([&] { return own.processedSamples() >= whole; }, 5ms);
      }
      queue.runPending();
    }
    if (!partial || onsetAt == Clock::time_point{}) {
      state.SkipWithError("no partial result");
      return;
    }
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - onsetAt).count());
    // How much audio after the onset the recogniser needed: at the microphone, that is time.
    state.counters["audio_ms_after_onset"] =
        1000.0 * static_cast<double>((lastBlock + 1) * kBlock - (16000 + onset)) / 16000.0;
    task->cancel();
  }
}
BENCHMARK(BM_SpeechOnsetToFirstPartial)
    ->Iterations(10)
    ->UseManualTime()
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMillisecond);

// The tap as the recording controller installs it: hand the buffer to the held request.
void BM_TapAppendAllocations(benchmark::State& state) {
  std::shared_ptr<RecognitionRequest> request = std::make_shared<PocketSphinxRequest>();
  const std::function<void(const AudioBuffer&)> tap = [&request](const AudioBuffer& b) {
    if (request) request->append(b);
  };
  const std::vector<int16_t> block(kBlock, 3);
  const AudioBuffer buffer{block.data(), kBlock, AudioFormat{}};
  uint64_t allocations = 0;
  for (auto _ : state) {
    testing::AllocationScope scope;
    tap(buffer);
    allocations += scope.count();
  }
  state.counters["allocs_per_buffer"] =
      static_cast<double>(allocations) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_TapAppendAllocations);

// Allocations on PulseAudio's capture thread between two deliveries, the tap included.
void BM_CaptureLoopAllocations(benchmark::State& state) {
  const char* pulse = std::getenv("QUORVEL_TEST_PULSE");
  if (!pulse || std::string(pulse) != "1") {
    state.SkipWithError("needs the PulseAudio of scripts/with-test-session");
    return;
  }
  PulseAudioInput input;
  PocketSphinxRequest request;
  std::mutex mutex;
  std::condition_variable changed;
  uint64_t buffers = 0, allocations = 0, previous = 0;
  input.installTap(0, kBlock, input.outputFormat(0), [&](const AudioBuffer& b) {
    const uint64_t now = testing::allocationsOnThisThread();
    request.append(b);
    std::lock_guard lock(mutex);
    if (buffers++ > 0) allocations += now - previous;
    previous = now;  // the next interval covers this call's work too
    changed.notify_all();
  });
  for (auto _ : state) {
    if (auto error = testing::startAndWait(input)) {
      state.SkipWithError(error->c_str());
      return;
    }
    std::unique_lock lock(mutex);
    changed.wait_for(lock, 60s, [&] { return buffers >= 17; });
    lock.unlock();
    input.stop();
  }
  state.counters["buffers"] = static_cast<double>(buffers);
  state.counters["allocs_per_buffer"] =
      buffers > 1 ? static_cast<double>(allocations) / static_cast<double>(buffers - 1) : -1;
}
BENCHMARK(BM_CaptureLoopAllocations)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
