// A whole dictation as the program runs it: the recording controller with the PulseAudio input
// and the pocketsphinx recogniser, while the test session's null sink plays real speech at its
// own pace (the pace comes from the playback, not from the test).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "fakes/threaded_main_queue.h"
#include "platform/linux/audio/live_audio.h"
#include "platform/linux/audio/pocketsphinx_recognizer.h"
#include "platform/linux/audio/pulse_audio_input.h"
#include "platform/linux/audio/speech_samples.h"
#include "speech/engine_harness.h"

namespace quorvel::testing {
namespace {

using namespace std::chrono_literals;

using ::testing::Contains, ::testing::Each, ::testing::HasSubstr, ::testing::Not, ::testing::Value;

// Over a minute of speech with pauses, a language chosen from the menu during the dictation
// (one without a model, so the engine's recogniser is gone), and the stop right after the last
// word: the recogniser has kept pace, so the final is complete, comes without the time-out and ends
// with the last sentence, whose last word was still in a partly filled block at the stop.
TEST(RecordingSessionLive, a_minute_with_a_language_change_ends_complete_without_the_time_out) {
  if (!pulseSession()) GTEST_SKIP() << "needs the PulseAudio of scripts/with-test-session";
  std::vector<int16_t> samples;
  std::string reference;
  for (int round = 0; round < 2; ++round) {
    for (const auto& sentence : librivox()) {
      samples.insert(samples.end(), sentence.samples.begin(), sentence.samples.end());
      samples.insert(samples.end(), 24000, int16_t{0});
      reference += sentence.transcript + " ";
    }
  }
  const auto last = cutAfterSpeech(goForward().samples, 0.15);
  samples.insert(samples.end(), last.begin(), last.end());
  reference += goForward().transcript;
  ASSERT_GT(samples.size(), 60u * 16000u);
  const std::string file = ::testing::TempDir() + "quorvel-live-" + std::to_string(::getpid());
  ASSERT_TRUE(writeRaw(file, samples));

  MicrophoneLock lock;
  ThreadedMainQueue queue;
  EngineServices services;
  linux_audio::PocketSphinxRecognizerFactory recognizers{queue, services.home};
  linux_audio::PulseAudioInput microphone{"QuorvelDictationTest"};
  auto webView = std::make_shared<FakeScriptEvaluator>(queue);
  auto engine = services.engineOn(queue, recognizers, microphone, webView);
  auto& console = services.console;

  engine->userContentControllerDidReceive({{"action", "start_recording"}});
  ASSERT_TRUE(queue.runUntil(
      [&] { return Value(console.lines(), Contains(HasSubstr("recording started"))); }, 60s));
  // A language without a model: the controller's recogniser is gone, the session's goes on.
  engine->setSpeechLocale("xx-XX");
  Player player(file);
  ASSERT_TRUE(player.started());
  auto played = std::async(std::launch::async, [&] { return player.wait(); });
  while (played.wait_for(0s) != std::future_status::ready) queue.runUntil([] { return false; }, 1s);
  EXPECT_TRUE(played.get());
  std::remove(file.c_str());

  engine->userContentControllerDidReceive({{"action", "stop_recording"}, {"mode", "Extract"}});
  ASSERT_TRUE(
      queue.runUntil([&] { return Value(webView->scripts, Contains(HasSubstr("Polish("))); }, 60s));
  EXPECT_THAT(console.lines(), Each(Not(HasSubstr("timeout waiting for final"))));
  std::string text;
  for (const auto& line : console.lines()) {
    if (line.rfind("[AudioEngine] delivering final: ", 0) == 0) text = line.substr(32);
  }
  EXPECT_TRUE(text.ends_with("go forward ten meters")) << text;
  EXPECT_LT(static_cast<double>(wordErrors(reference, text)) / words(reference).size(), 0.5)
      << "the final is not the whole dictation: " << text;
}

}  // namespace
}  // namespace quorvel::testing
