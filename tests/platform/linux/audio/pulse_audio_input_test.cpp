#include "platform/linux/audio/pulse_audio_input.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "fakes/threaded_main_queue.h"
#include "platform/linux/audio/allocation_counter.h"
#include "platform/linux/audio/live_audio.h"
#include "platform/linux/audio/pocketsphinx_recognizer.h"
#include "platform/linux/audio/speech_samples.h"

namespace quorvel::linux_audio {
namespace {

using namespace std::chrono_literals;

// Each row sets the environment, starts an input, plays speech into the microphone or drops the
// connection, and ends in what came of it: the text the recogniser heard in the tap's blocks,
// or why capture could not start or stopped. The tap gets blocks of 4096 mono frames, none
// allocated per block, then at the stop the partly filled last one ("meters" ends in it). The
// same input starts again once the server or the source is back.
TEST(PulseAudioInputTest, hands_over_what_the_microphone_hears_or_says_why_it_cannot) {
  const std::string speech = ::testing::TempDir() + "quorvel-cut-" + std::to_string(::getpid());
  ASSERT_TRUE(
      testing::writeRaw(speech, testing::cutAfterSpeech(testing::goForward().samples, 0.1)));
  // Our client, found by its application name, is dropped through the server's command line.
  const std::string name = "QuorvelTest" + std::to_string(::getpid());
  const std::string drop =
      "cli=$(pactl load-module module-cli-protocol-unix) && pacmd kill-client $(pactl list "
      "clients | awk '/^Client #/{id=substr($2,2)} /application.name = \"" +
      name + "\"/{print id; exit}'); status=$?; pactl unload-module $cli; exit $status";
  const struct {
    std::string variable, value, outcome;
    bool needsSession;
  } rows[] = {
      {"PULSE_SERVER", "unix:/nonexistent/quorvel/native",
       "PulseAudio: cannot connect to the sound server: ", false},
      {"PULSE_SOURCE", "no-such-microphone", "PulseAudio: no microphone to record from: ", true},
      {"play", "", "go forward ten meters", true},
      {"drop", "", "PulseAudio: the sound server went away: ", true},
  };
  testing::MicrophoneLock microphone;
  testing::ThreadedMainQueue queue;
  PocketSphinxRecognizer recognizer(queue, *findSphinxModel("en-US", {kSystemSphinxModelDir}));
  for (const auto& row : rows) {
    if (row.needsSession && !testing::pulseSession()) continue;
    if (!row.value.empty()) ::setenv(row.variable.c_str(), row.value.c_str(), 1);
    std::optional<std::string> heard;  // the final text, or why capture was lost
    std::atomic<bool> stopping{false}, stopped{false};
    std::atomic<size_t> wrongBlocks{0}, allocations{0};
    uint64_t previous = 0;  // the capture thread's, and the stopping thread's at the stop
    std::shared_ptr<RecognitionRequest> request = recognizer.makeRequest();
    auto task = recognizer.recognitionTask(request, [&](auto& result, auto& error) {
      if (error || result->isFinal) heard = error ? error->description : result->formattedString;
    });
    PulseAudioInput input(name);
    input.installTap(0, 4096, input.outputFormat(0), [&](const AudioBuffer& b) {
      const uint64_t now = testing::allocationsOnThisThread();
      // This call and the loop before it; the short last block may come on the stopping thread.
      if (previous > 0 && !stopping) allocations += now - previous;
      previous = now;
      wrongBlocks +=
          stopped || b.format.channels != 1 || b.frames > 4096 || (b.frames < 4096 && !stopping);
      request->append(b);
    });
    auto outcome = testing::startAndWait(
        input, [&](std::string why) { queue.async([&, why] { heard = why; }); });
    if (!outcome && row.variable == "drop" && std::system(drop.c_str()) != 0) FAIL() << "kept";
    if (!outcome && row.variable == "play") {
      EXPECT_TRUE(testing::Player(speech).wait());
      stopping = true;
      input.stop();
      stopped = true;
      request->endAudio();
    }
    if (!outcome && queue.runUntil([&] { return heard.has_value(); }, 60s)) outcome = heard;
    EXPECT_TRUE(outcome && outcome->starts_with(row.outcome)) << outcome.value_or("nothing");
    EXPECT_EQ(wrongBlocks, 0u);
    EXPECT_EQ(allocations, 0u);
    if (!row.value.empty()) ::unsetenv(row.variable.c_str());
    EXPECT_TRUE(!testing::pulseSession() || !testing::startAndWait(input)) << row.outcome;
    input.stop();
    task->cancel();  // nothing more for this row's locals
  }
  std::remove(speech.c_str());
}

}  // namespace
}  // namespace quorvel::linux_audio
