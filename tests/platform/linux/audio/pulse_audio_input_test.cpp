#include "platform/linux/audio/pulse_audio_input.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <future>
#include <mutex>
#include <string>
#include <vector>

#include "fakes/threaded_main_queue.h"
#include "platform/linux/audio/allocation_counter.h"
#include "platform/linux/audio/live_audio.h"
#include "platform/linux/audio/speech_samples.h"
#include "platform/linux/audio/pocketsphinx_recognizer.h"

namespace quorvel::linux_audio {
namespace {

using namespace std::chrono_literals;

// The first block comes after up to 2.3 s, then one every 256 ms.
constexpr auto kBound = 60s;

bool pulseSession() {
  const char* flag = std::getenv("QUORVEL_TEST_PULSE");
  return flag && std::string(flag) == "1";
}

#define REQUIRE_PULSE_SESSION() \
  if (!pulseSession()) GTEST_SKIP() << "needs the PulseAudio of scripts/with-test-session"

// What the tap saw, guarded for the test thread.
struct TapLog {
  std::mutex mutex;
  std::condition_variable changed;
  size_t buffers = 0;
  size_t loudBuffers = 0;
  size_t wrongSize = 0;
  std::atomic<bool> stopping{false};  // a short last block is handed over at the stop
  std::atomic<bool> stopReturned{false};
  std::atomic<size_t> callsAfterStop{0};

  void record(const AudioBuffer& b) {
    if (stopReturned.load()) callsAfterStop.fetch_add(1);
    double energy = 0;
    for (size_t i = 0; i < b.frames; ++i) energy += double(b.samples[i]) * b.samples[i];
    const double rms = b.frames ? std::sqrt(energy / double(b.frames)) : 0;
    {
      std::lock_guard lock(mutex);
      ++buffers;
      if (rms > 100) ++loudBuffers;
      const bool shortLast = stopping.load() && b.frames > 0 && b.frames < 4096;
      if ((b.frames != 4096 && !shortLast) || b.format.sampleRate != 16000 ||
          b.format.channels != 1) {
        ++wrongSize;
      }
    }
    changed.notify_all();
  }
  template <class Pred>
  bool waitFor(Pred pred) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, kBound, [&] { return pred(*this); });
  }
};

TEST(PulseAudioInputTest, tap_receives_non_silent_4096_frame_blocks_of_what_the_source_hears) {
  REQUIRE_PULSE_SESSION();
  testing::MicrophoneLock microphone;
  ASSERT_TRUE(microphone.held());
  PulseAudioInput input;
  TapLog log;
  EXPECT_EQ(input.outputFormat(0).sampleRate, 16000);
  input.installTap(0, 4096, input.outputFormat(0), [&](const AudioBuffer& b) { log.record(b); });
  input.prepare();
  auto error = testing::startAndWait(input);
  ASSERT_FALSE(error) << *error;
  EXPECT_TRUE(input.isRunning());

  testing::Player player(testing::kSphinxTestData + "/goforward.raw");
  ASSERT_TRUE(player.started());
  EXPECT_TRUE(log.waitFor([](TapLog& l) { return l.loudBuffers >= 4; }));
  EXPECT_TRUE(player.wait());

  log.stopping = true;
  input.stop();
  log.stopReturned = true;
  input.removeTap(0);
  EXPECT_FALSE(input.isRunning());
  EXPECT_EQ(log.wrongSize, 0u);
  EXPECT_EQ(log.callsAfterStop.load(), 0u);
  // Stopping and removing again are harmless.
  input.stop();
  input.removeTap(0);
}

TEST(PulseAudioInputTest, a_recording_stopped_right_after_its_last_word_is_transcribed_whole) {
  REQUIRE_PULSE_SESSION();
  testing::MicrophoneLock microphone;
  ASSERT_TRUE(microphone.held());
  testing::ThreadedMainQueue queue;
  auto model = findSphinxModel("en-US", {kSystemSphinxModelDir});
  ASSERT_TRUE(model);
  PocketSphinxRecognizer recognizer(queue, *model);
  PulseAudioInput input;

  std::shared_ptr<RecognitionRequest> request = recognizer.makeRequest();
  std::string finalText;
  bool ended = false;
  auto task = recognizer.recognitionTask(request, [&](const auto& result, const auto& error) {
    if (error) ended = true;
    if (result && result->isFinal) {
      finalText = result->formattedString;
      ended = true;
    }
  });
  TapLog log;
  input.installTap(0, 4096, input.outputFormat(0), [&](const AudioBuffer& b) {
    request->append(b);
    log.record(b);
  });
  auto error = testing::startAndWait(input);
  ASSERT_FALSE(error) << *error;
  // Cut right after "meters" and stopped as soon as it has been played: the word's end is
  // still in the partly filled block, which the stop must hand over.
  const std::string file = ::testing::TempDir() + "quorvel-cut-" + std::to_string(::getpid());
  ASSERT_TRUE(testing::writeRaw(file, testing::cutAfterSpeech(testing::goForward().samples, 0.1)));
  {
    testing::Player player(file);
    ASSERT_TRUE(player.started());
    ASSERT_TRUE(player.wait());
  }
  std::remove(file.c_str());
  input.stop();
  input.removeTap(0);
  request->endAudio();

  ASSERT_TRUE(queue.runUntil([&] { return ended; }, kBound));
  EXPECT_EQ(finalText, "go forward ten meters");
}

TEST(PulseAudioInputTest, capture_loop_and_tap_allocate_nothing_per_buffer) {
  REQUIRE_PULSE_SESSION();
  PulseAudioInput input;
  PocketSphinxRequest request;
  std::atomic<uint64_t> allocations{0};
  std::atomic<size_t> measured{0};
  TapLog log;
  uint64_t previous = 0;
  bool first = true;
  // Counts every allocation of the capture thread between two deliveries, the tap included.
  input.installTap(0, 4096, input.outputFormat(0), [&](const AudioBuffer& b) {
    const uint64_t now = testing::allocationsOnThisThread();
    if (!first) {
      allocations += now - previous;
      ++measured;
    }
    first = false;
    previous = now;  // the next interval covers this call's work too
    request.append(b);
    log.record(b);
  });
  auto error = testing::startAndWait(input);
  ASSERT_FALSE(error) << *error;
  EXPECT_TRUE(log.waitFor([](TapLog& l) { return l.buffers >= 9; }));
  input.stop();
  EXPECT_GE(measured.load(), 8u);
  EXPECT_EQ(allocations.load(), 0u);
}

TEST(PulseAudioInputTest, start_without_a_sound_server_fails_with_a_clear_error) {
  ::setenv("PULSE_SERVER", "unix:/nonexistent/quorvel-test/native", 1);
  PulseAudioInput input;
  input.installTap(0, 4096, input.outputFormat(0), [](const AudioBuffer&) {});
  auto error = testing::startAndWait(input);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->rfind("PulseAudio: cannot connect to the sound server: ", 0), 0u) << *error;
  std::printf("%s\n", error->c_str());
  EXPECT_FALSE(input.isRunning());
  input.stop();
  input.removeTap(0);
  input.removeTap(0);
  ::unsetenv("PULSE_SERVER");
}

TEST(PulseAudioInputTest, start_against_a_silent_server_returns_at_once_and_fails_later) {
  // A socket that accepts connections into its backlog and never says a word.
  const std::string path = ::testing::TempDir() + "quorvel-mute-" + std::to_string(::getpid());
  const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(listener, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  ASSERT_LT(path.size(), sizeof(address.sun_path));
  std::copy(path.begin(), path.end(), address.sun_path);
  ::unlink(path.c_str());
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
  ASSERT_EQ(::listen(listener, 4), 0);
  ::setenv("PULSE_SERVER", ("unix:" + path).c_str(), 1);

  PulseAudioInput input("Quorvel", 0.3);
  std::promise<std::optional<std::string>> answer;
  auto answered = answer.get_future();
  input.start([&answer](std::optional<std::string> e) { answer.set_value(std::move(e)); },
              [](std::string) {});
  // start() returned before the 0.3 s time-out could have answered: it did not wait.
  EXPECT_EQ(answered.wait_for(0s), std::future_status::timeout);
  ASSERT_EQ(answered.wait_for(kBound), std::future_status::ready);
  auto error = answered.get();
  input.stop();
  ::unsetenv("PULSE_SERVER");
  ::close(listener);
  ::unlink(path.c_str());
  ASSERT_TRUE(error);
  EXPECT_EQ(*error, "PulseAudio: the sound server did not answer");
  EXPECT_FALSE(input.isRunning());
}

// Output of a shell command, its trailing line end removed.
std::string commandOutput(const std::string& command) {
  std::string out;
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe)) out += buffer;
    ::pclose(pipe);
  }
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

// The server drops our connection, as when it goes down: the loss is reported once, not left
// as a tap that simply stops being called.
TEST(PulseAudioInputTest, a_connection_the_server_drops_during_capture_is_reported_as_lost) {
  REQUIRE_PULSE_SESSION();
  const std::string name = "QuorvelLossTest" + std::to_string(::getpid());
  PulseAudioInput input(name);
  TapLog log;
  input.installTap(0, 4096, input.outputFormat(0), [&](const AudioBuffer& b) { log.record(b); });
  std::promise<std::string> loss;
  auto lost = loss.get_future();
  auto error = testing::startAndWait(input, [&loss](std::string e) { loss.set_value(e); });
  ASSERT_FALSE(error) << *error;
  ASSERT_TRUE(log.waitFor([](TapLog& l) { return l.buffers >= 1; }));

  // Our client, found by its application name, is dropped through the server's command line.
  const std::string cli = commandOutput("pactl load-module module-cli-protocol-unix");
  ASSERT_FALSE(cli.empty()) << "no command line module";
  const std::string client = commandOutput(
      "pactl list clients | awk '/^Client #/{id=substr($2,2)} /application.name = \"" + name +
      "\"/{print id; exit}'");
  ASSERT_FALSE(client.empty()) << "no client named " << name;
  const int killed = std::system(("pacmd kill-client " + client).c_str());
  std::system(("pactl unload-module " + cli).c_str());
  ASSERT_EQ(killed, 0);

  ASSERT_EQ(lost.wait_for(kBound), std::future_status::ready);
  const std::string why = lost.get();
  EXPECT_EQ(why.rfind("PulseAudio: the sound server went away: ", 0), 0u) << why;
  std::printf("%s\n", why.c_str());
  input.stop();
}

TEST(PulseAudioInputTest, start_without_the_source_fails_with_a_clear_error) {
  REQUIRE_PULSE_SESSION();
  ::setenv("PULSE_SOURCE", "no-such-microphone", 1);
  PulseAudioInput input;
  auto error = testing::startAndWait(input);
  ::unsetenv("PULSE_SOURCE");
  ASSERT_TRUE(error);
  EXPECT_EQ(error->rfind("PulseAudio: no microphone to record from: ", 0), 0u) << *error;
  std::printf("%s\n", error->c_str());
  // A later start with the source back works.
  auto again = testing::startAndWait(input);
  EXPECT_FALSE(again) << *again;
  input.stop();
}

}  // namespace
}  // namespace quorvel::linux_audio
