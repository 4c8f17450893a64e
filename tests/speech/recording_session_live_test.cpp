// Whole dictations as the program runs them: the recording controller with the PulseAudio input
// and the pocketsphinx recogniser, while the test session's null sink plays real speech at its
// own pace (the pace comes from the playback, not from the test).
#include <gtest/gtest.h>

#include <algorithm>
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
#include "platform/linux/audio/live_audio.h"
#include "platform/linux/audio/speech_samples.h"
#include "platform/file_system.h"
#include "platform/linux/audio/pocketsphinx_recognizer.h"
#include "platform/linux/audio/pulse_audio_input.h"
#include "speech/audio_engine.h"

namespace quorvel::testing {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

bool pulseSession() {
  const char* flag = std::getenv("QUORVEL_TEST_PULSE");
  return flag && std::string(flag) == "1";
}

const std::string kDelivering = "[AudioEngine] delivering final: ";
const std::string kTimeout = "[AudioEngine] timeout waiting for final, using current text";

class Dictation : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!pulseSession()) GTEST_SKIP() << "needs the PulseAudio of scripts/with-test-session";
    engine = std::make_shared<AudioEngine>(AudioEngineServices{
        queue, recognizers, permissions, microphone, polisher, history, usage, console});
    engine->setWebView(webView);
    engine->setAppDelegate(app);
  }

  void send(const nlohmann::json& body) { engine->userContentControllerDidReceive(body); }

  bool logged(const std::string& line) const {
    const auto all = console.lines();
    return std::find(all.begin(), all.end(), line) != all.end();
  }

  // The text of the delivery line, or "" before delivery.
  std::string delivered() const {
    for (const auto& line : console.lines()) {
      if (line.rfind(kDelivering, 0) == 0) return line.substr(kDelivering.size());
    }
    return "";
  }

  // Plays the samples into the microphone; `whilePlaying` runs on the main queue after each
  // batch of work until the playback has ended. Returns whether paplay succeeded.
  bool play(const std::vector<int16_t>& samples, const std::function<void()>& whilePlaying) {
    const std::string file =
        ::testing::TempDir() + "quorvel-dictation-" + std::to_string(::getpid()) + ".raw";
    if (!writeRaw(file, samples)) return false;
    Player player(file);
    if (!player.started()) return false;
    std::atomic<bool> played{false};
    bool ok = false;
    std::thread waiter([&] {
      ok = player.wait();
      queue.async([&played] { played = true; });
    });
    while (!played) {
      queue.runUntil([&] { return played.load(); }, 1s);
      whilePlaying();
    }
    waiter.join();
    std::remove(file.c_str());
    return ok;
  }

  // Stops from the page and waits for the raw transcript call; returns the wait.
  Clock::duration stopAndWaitForRawText() {
    const auto stoppedAt = Clock::now();
    send({{"action", "stop_recording"}, {"mode", "Extract"}});
    EXPECT_TRUE(queue.runUntil(
        [&] {
          return std::any_of(webView->scripts.begin(), webView->scripts.end(),
                             [](const std::string& s) {
                               return s.find("showRawAndStartPolish(") != std::string::npos;
                             });
        },
        60s));
    return Clock::now() - stoppedAt;
  }

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
  std::shared_ptr<FakeScriptEvaluator> webView = std::make_shared<FakeScriptEvaluator>(queue);
  std::shared_ptr<FakeAppController> app = std::make_shared<FakeAppController>();
  std::shared_ptr<AudioEngine> engine;
};

// Over a minute of speech with pauses, a language chosen from the menu halfway through (one
// without a model, so the engine's recogniser is gone), and the stop right after the last word:
// the recogniser has kept pace, so the final is complete, comes without the time-out and ends
// with the last sentence, whose last word was still in a partly filled block at the stop.
TEST_F(Dictation, over_a_minute_with_a_language_change_ends_complete_and_without_the_time_out) {
  const auto [samples, reference] = dictation(2, 1.5, goForward());
  ASSERT_GT(samples.size(), 60u * 16000u);
  send({{"action", "start_recording"}});
  ASSERT_TRUE(queue.runUntil([&] { return app->calls.size() >= 2; }, 60s))
      << "capture did not start";
  EXPECT_EQ(app->calls, (std::vector<std::string>{"badge on", "tooltip Recording..."}));
  EXPECT_TRUE(logged("[AudioEngine] recording started"));

  bool changed = false;
  size_t partials = 0;
  ASSERT_TRUE(play(samples, [&] {
    partials =
        std::count_if(webView->scripts.begin(), webView->scripts.end(),
                      [](const std::string& s) { return s.find("speech_result") != s.npos; });
    if (!changed && partials >= 10) {
      engine->setSpeechLocale("xx-XX");
      EXPECT_EQ(engine->currentRecognizer(), nullptr);
      changed = true;
    }
  }));
  ASSERT_TRUE(changed) << "no partial results while playing";

  const auto waited = stopAndWaitForRawText();
  std::printf("stop to raw text: %.0f ms\n",
              std::chrono::duration<double, std::milli>(waited).count());
  EXPECT_FALSE(logged(kTimeout));
  for (const auto& line : console.lines()) {
    if (line.rfind(kDelivering, 0) != 0) std::printf("%s\n", line.c_str());
  }
  const std::string text = delivered();
  std::printf("final: %s\n", text.c_str());
  EXPECT_TRUE(text.ends_with("go forward ten meters")) << text;
  const double wer = static_cast<double>(wordErrors(reference, text)) /
                     static_cast<double>(words(reference).size());
  EXPECT_LT(wer, 0.5) << "the final is not the whole dictation";
}

}  // namespace
}  // namespace quorvel::testing
