#include "platform/linux/audio/pulse_audio_input.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <mutex>
#include <string>

#include "fakes/threaded_main_queue.h"
#include "platform/linux/audio/allocation_counter.h"
#include "platform/linux/audio/live_audio.h"
#include "platform/linux/audio/pocketsphinx_recognizer.h"
#include "platform/linux/audio/speech_samples.h"

namespace quorvel::linux_audio {
namespace {

using namespace std::chrono_literals;
using testing::pulseSession;

// The first block comes after up to 2.3 s, then one every 256 ms.
constexpr auto kBound = 60s;

// The tap's calls, for the test thread to wait on.
struct TapLog {
  std::mutex mutex;
  std::condition_variable changed;
  size_t buffers = 0, loud = 0;
  void record(const AudioBuffer& b) {
    size_t peak = 0;
    for (size_t i = 0; i < b.frames; ++i) peak = std::max<size_t>(peak, std::abs(b.samples[i]));
    std::lock_guard lock(mutex);
    ++buffers;
    loud += peak > 1000;
    changed.notify_all();
  }
  bool waitFor(const std::function<bool()>& holds) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, kBound, holds);
  }
};

// Blocks of 4096 frames of what the source hears, none allocated per block, and at the stop the
// partly filled last one too: "meters" ends in it, and the recogniser must still hear it.
TEST(PulseAudioInputTest, hands_the_tap_whole_blocks_and_the_short_last_one_at_the_stop) {
  if (!pulseSession()) GTEST_SKIP() << "needs the PulseAudio of scripts/with-test-session";
  testing::MicrophoneLock microphone;
  ASSERT_TRUE(microphone.held());
  testing::ThreadedMainQueue queue;
  PocketSphinxRecognizer recognizer(queue, *findSphinxModel("en-US", {kSystemSphinxModelDir}));
  std::shared_ptr<RecognitionRequest> request = recognizer.makeRequest();
  std::string finalText = "<none>";
  auto task = recognizer.recognitionTask(request, [&](const auto& result, const auto& error) {
    if (error) finalText = "<error: " + error->description + ">";
    if (result && result->isFinal) finalText = result->formattedString;
  });
  PulseAudioInput input;
  EXPECT_EQ(input.outputFormat(0).sampleRate, 16000);
  TapLog log;
  std::atomic<bool> stopping{false}, stopped{false};
  std::atomic<size_t> wrongBlocks{0}, lateCalls{0}, allocations{0};
  uint64_t previous = 0;
  input.installTap(0, 4096, input.outputFormat(0), [&](const AudioBuffer& b) {
    const uint64_t now = testing::allocationsOnThisThread();
    // This call and the loop before it; the short last block may come on the stopping thread.
    if (log.buffers > 0 && !stopping) allocations += now - previous;
    previous = now;
    if (stopped) ++lateCalls;
    if ((b.frames != 4096 && !(stopping && b.frames < 4096)) || b.format.channels != 1) {
      ++wrongBlocks;
    }
    request->append(b);
    log.record(b);
  });
  auto error = testing::startAndWait(input);
  ASSERT_FALSE(error) << *error;
  EXPECT_TRUE(input.isRunning());
  ASSERT_TRUE(log.waitFor([&] { return log.buffers >= 3; }));
  const std::string file = ::testing::TempDir() + "quorvel-cut-" + std::to_string(::getpid());
  ASSERT_TRUE(testing::writeRaw(file, testing::cutAfterSpeech(testing::goForward().samples, 0.1)));
  {
    testing::Player player(file);
    ASSERT_TRUE(player.started());
    ASSERT_TRUE(player.wait());
  }
  std::remove(file.c_str());
  stopping = true;
  input.stop();
  stopped = true;
  input.removeTap(0);
  EXPECT_FALSE(input.isRunning());
  request->endAudio();
  ASSERT_TRUE(queue.runUntil([&] { return finalText != "<none>"; }, kBound));
  EXPECT_EQ(finalText, "go forward ten meters");
  EXPECT_GE(log.loud, 4u);
  EXPECT_EQ(wrongBlocks, 0u);
  EXPECT_EQ(lateCalls, 0u);
  EXPECT_EQ(allocations, 0u);
  input.stop();  // stopping and removing again are harmless
  input.removeTap(0);
}

TEST(PulseAudioInputTest, a_start_that_cannot_capture_fails_with_a_clear_error) {
  struct Row {
    const char* variable;
    const char* value;
    const char* error;
    bool needsSession;
  };
  for (const Row& row : {
           Row{"PULSE_SERVER", "unix:/nonexistent/quorvel-test/native",
               "PulseAudio: cannot connect to the sound server: ", false},
           Row{"PULSE_SOURCE", "no-such-microphone",
               "PulseAudio: no microphone to record from: ", true},
       }) {
    if (row.needsSession && !pulseSession()) continue;
    ::setenv(row.variable, row.value, 1);
    PulseAudioInput input;
    input.installTap(0, 4096, input.outputFormat(0), [](const AudioBuffer&) {});
    auto error = testing::startAndWait(input);
    ::unsetenv(row.variable);
    ASSERT_TRUE(error) << row.variable;
    EXPECT_EQ(error->rfind(row.error, 0), 0u) << *error;
    // The same input starts once the server or source is back.
    if (pulseSession()) {
      EXPECT_FALSE(testing::startAndWait(input)) << row.variable;
    }
    input.stop();
  }
}

TEST(PulseAudioInputTest, start_against_a_silent_server_returns_at_once_and_fails_later) {
  // A socket that accepts connections into its backlog and never says a word.
  const std::string path = ::testing::TempDir() + "quorvel-mute-" + std::to_string(::getpid());
  const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  ASSERT_LT(path.size(), sizeof(address.sun_path));
  path.copy(address.sun_path, path.size());
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
  EXPECT_EQ(answered.get(), "PulseAudio: the sound server did not answer");
  input.stop();
  ::unsetenv("PULSE_SERVER");
  ::close(listener);
  ::unlink(path.c_str());
}

// The server drops our connection, as when it goes down: the loss is reported once, not left
// as a tap that simply stops being called.
TEST(PulseAudioInputTest, a_connection_the_server_drops_during_capture_is_reported_as_lost) {
  if (!pulseSession()) GTEST_SKIP() << "needs the PulseAudio of scripts/with-test-session";
  const std::string name = "QuorvelLossTest" + std::to_string(::getpid());
  PulseAudioInput input(name);
  TapLog log;
  input.installTap(0, 4096, input.outputFormat(0), [&](const AudioBuffer& b) { log.record(b); });
  std::promise<std::string> loss;
  auto lost = loss.get_future();
  auto error = testing::startAndWait(input, [&loss](std::string e) { loss.set_value(e); });
  ASSERT_FALSE(error) << *error;
  ASSERT_TRUE(log.waitFor([&] { return log.buffers >= 1; }));
  // Our client, found by its application name, is dropped through the server's command line.
  const std::string command =
      "cli=$(pactl load-module module-cli-protocol-unix) && pacmd kill-client $(pactl list "
      "clients | awk '/^Client #/{id=substr($2,2)} /application.name = \"" +
      name + "\"/{print id; exit}'); status=$?; pactl unload-module $cli; exit $status";
  ASSERT_EQ(std::system(command.c_str()), 0);
  ASSERT_EQ(lost.wait_for(kBound), std::future_status::ready);
  const std::string why = lost.get();
  EXPECT_EQ(why.rfind("PulseAudio: the sound server went away: ", 0), 0u) << why;
  input.stop();
}

}  // namespace
}  // namespace quorvel::linux_audio
