// What the transcription server path adds at stop when the server itself takes no time: from
// the call to the transcript in hand, for dictations of 5, 60 and 120 seconds. Covers the WAV
// and multipart body, the upload through libcurl to a loopback server that answers at once,
// and reading the reply.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <mutex>

#include "fakes/loopback_http_server.h"
#include "platform/console.h"
#include "platform/file_system.h"
#include "platform/home_directory.h"
#include "platform/linux/system/curl_http_client.h"
#include "speech/transcription_client.h"

namespace {

class QuietConsole final : public quorvel::Console {
 public:
  void line(const std::string&) override {}
};

void BM_ServerTranscriptionAddedTime(benchmark::State& state) {
  std::string pattern = (std::filesystem::temp_directory_path() / "quorvel-bench-XXXXXX").string();
  std::string root = ::mkdtemp(pattern.data());
  quorvel::FixedHomeDirectory home(root);
  quorvel::testing::LoopbackHttpServer server;
  server.setDefault({200, R"({"text":"The quick brown fox."})"});
  quorvel::CurlHttpClient http;
  QuietConsole console;
  quorvel::DeepSeekPolisher polisher(home, quorvel::localFileSystem(), http, console);
  quorvel::TranscriptionClient client(polisher, http, console);
  quorvel::TranscriptionSettings settings{server.url("/v1/audio/transcriptions"), "sk-bench",
                                          "whisper-1"};

  quorvel::AudioFormat format{16000.0, 1};
  quorvel::AudioAccumulator audio(format);
  std::vector<int16_t> block(4096);
  auto samples = static_cast<size_t>(state.range(0)) * 16000;
  for (size_t done = 0; done < samples; done += block.size()) {
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<int16_t>((done + i) * 7);
    audio.append({block.data(), block.size(), format});
  }

  for (auto _ : state) {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    std::optional<std::string> text;
    client.transcribe(settings, audio, "en-US",
                      [&](std::optional<std::string> got, std::optional<std::string>) {
                        std::lock_guard lock(mutex);
                        text = std::move(got);
                        finished = true;
                        done.notify_all();
                      });
    std::unique_lock lock(mutex);
    done.wait(lock, [&] { return finished; });
    if (!text) state.SkipWithError("the loopback server gave no transcript");
  }
  state.counters["audio_MB"] = static_cast<double>(samples * 2) / 1e6;
  std::filesystem::remove_all(root);
}
BENCHMARK(BM_ServerTranscriptionAddedTime)
    ->Arg(0)
    ->Arg(5)
    ->Arg(60)
    ->Arg(120)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
