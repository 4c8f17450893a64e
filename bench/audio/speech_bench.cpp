// Speed and allocation figures of the Linux speech providers: the recogniser's real-time
// factor and word error rate on the librivox sentences, the time from endAudio() to the final
// result, and heap allocations per tap buffer (the request's append, and PulseAudio's capture
// loop when run inside scripts/with-test-session).
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <string>
#include <thread>

#include "fakes/threaded_main_queue.h"
#include "linux_audio/allocation_counter.h"
#include "linux_audio/speech_samples.h"
#include "platform/linux/audio/pocketsphinx_recognizer.h"
#include "platform/linux/audio/pulse_audio_input.h"

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
      audioSeconds += static_cast<double>(sentence.samples.size()) / sentence.rate;
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
    if (auto error = input.start()) {
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
