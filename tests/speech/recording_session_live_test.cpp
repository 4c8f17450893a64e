// A whole dictation as the program runs it: the recording controller with the PulseAudio input
// and the pocketsphinx recogniser, while the test session's null sink plays real speech at its
// own pace (the pace comes from the playback, not from the test).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "fakes/fake_app_controller.h"
#include "fakes/fake_http_client.h"
#include "fakes/fake_script_evaluator.h"
#include "fakes/fake_speech.h"
#include "fakes/fixed_calendar.h"
#include "fakes/recording_console.h"
#include "fakes/temp_home.h"
#include "fakes/threaded_main_queue.h"
#include "platform/file_system.h"
#include "platform/linux/audio/live_audio.h"
#include "platform/linux/audio/pocketsphinx_recognizer.h"
#include "platform/linux/audio/pulse_audio_input.h"
#include "platform/linux/audio/speech_samples.h"
#include "speech/audio_engine.h"

namespace quorvel::testing {
namespace {

using namespace std::chrono_literals;

// Over a minute of speech with pauses, a language chosen from the menu halfway through (one
// without a model, so the engine's recogniser is gone), and the stop right after the last word:
// the recogniser has kept pace, so the final is complete, comes without the time-out and ends
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
  TempHome home;
  RecordingConsole console;
  FakeHttpClient http;
  FixedCalendar calendar{"2026-12-06"};
  FakePermissionProvider permissions;
  linux_audio::PocketSphinxRecognizerFactory recognizers{queue, home};
  linux_audio::PulseAudioInput microphone{"QuorvelDictationTest"};
  DeepSeekPolisher polisher{home, localFileSystem(), http, console};
  HistoryStore history{home, localFileSystem()};
  UsageStore usage{home, localFileSystem(), calendar};
  auto webView = std::make_shared<FakeScriptEvaluator>(queue);
  auto app = std::make_shared<FakeAppController>();
  auto engine = std::make_shared<AudioEngine>(AudioEngineServices{
      queue, recognizers, permissions, microphone, polisher, history, usage, console});
  engine->setWebView(webView);
  engine->setAppDelegate(app);
  auto pageCalls = [&](const std::string& text) {
    return std::count_if(webView->scripts.begin(), webView->scripts.end(),
                         [&](const std::string& s) { return s.find(text) != s.npos; });
  };

  engine->userContentControllerDidReceive({{"action", "start_recording"}});
  ASSERT_TRUE(queue.runUntil([&] { return app->calls.size() >= 2; }, 60s)) << "no capture";
  Player player(file);
  ASSERT_TRUE(player.started());
  std::atomic<bool> played{false};
  std::thread waiter([&] {
    EXPECT_TRUE(player.wait());
    queue.async([&played] { played = true; });
  });
  bool changed = false;
  while (!played) {
    queue.runUntil([&] { return played.load(); }, 1s);
    if (!changed && pageCalls("speech_result") >= 10) {
      engine->setSpeechLocale("xx-XX");
      changed = true;
    }
  }
  waiter.join();
  std::remove(file.c_str());
  ASSERT_TRUE(changed) << "no partial results while playing";

  engine->userContentControllerDidReceive({{"action", "stop_recording"}, {"mode", "Extract"}});
  ASSERT_TRUE(queue.runUntil([&] { return pageCalls("showRawAndStartPolish(") > 0; }, 60s));
  std::string text;
  for (const auto& line : console.lines()) {
    EXPECT_EQ(line.find("timeout waiting for final"), std::string::npos);
    if (line.rfind("[AudioEngine] delivering final: ", 0) == 0) text = line.substr(32);
  }
  EXPECT_TRUE(text.ends_with("go forward ten meters")) << text;
  EXPECT_LT(static_cast<double>(wordErrors(reference, text)) / words(reference).size(), 0.5)
      << "the final is not the whole dictation: " << text;
}

}  // namespace
}  // namespace quorvel::testing
