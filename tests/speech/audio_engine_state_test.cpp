#include "speech/engine_harness.h"

namespace quorvel::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class ControllerState : public EngineHarness {
 protected:
  void writeConfig(const std::string& text) { home.put("config.json", text); }
};

TEST_F(ControllerState, without_a_stored_choice_the_recogniser_is_for_en_us) {
  EXPECT_EQ(AudioEngine::loadSpeechLocale(polisher), "en-US");
  EXPECT_EQ(engine->currentRecognizer(), english().get());
  EXPECT_FALSE(engine->isRecording());
  EXPECT_FALSE(engine->isWaitingForFinal());
}

TEST_F(ControllerState, a_stored_locale_is_read_back_exactly_and_picks_its_recogniser_or_none) {
  recognizers.support("ja-JP");
  writeConfig(R"({"speech_locale": "ja-JP", "theme": "dark"})");
  EXPECT_EQ(AudioEngine::loadSpeechLocale(polisher), "ja-JP");
  EXPECT_EQ(localeOf(makeEngine()->currentRecognizer()), "ja-JP");

  writeConfig(R"({"speech_locale": ""})");
  EXPECT_EQ(AudioEngine::loadSpeechLocale(polisher), "");
  EXPECT_EQ(makeEngine()->currentRecognizer(), nullptr);
  EXPECT_EQ(recognizers.asked.back(), "");

  writeConfig(R"({"speech_locale": "tlh-KX"})");
  EXPECT_EQ(makeEngine()->currentRecognizer(), nullptr);
}

TEST_F(ControllerState, a_stored_choice_that_is_not_a_string_reads_as_en_us) {
  for (const char* text : {R"({"speech_locale": 42})", R"({"speech_locale": null})",
                           R"({"speech_locale": ["ja-JP"]})", R"(["ja-JP"])", "{not json"}) {
    SCOPED_TRACE(text);
    writeConfig(text);
    EXPECT_EQ(AudioEngine::loadSpeechLocale(polisher), "en-US");
    EXPECT_EQ(localeOf(makeEngine()->currentRecognizer()), "en-US");
  }
}

TEST_F(ControllerState, every_step_through_a_missing_web_view_or_controller_is_skipped) {
  engine->setWebView({});
  engine->setAppDelegate({});
  auto task = recording();
  ASSERT_TRUE(engine->isRecording());
  task->partial("nobody listens");
  engine->sendJSError("unseen");
  settle();
  stopFromPage("");
  queue.advance(3.0);
  EXPECT_FALSE(engine->isWaitingForFinal());
  EXPECT_EQ(usageRecord().value("total_sessions", 0), 1);
  EXPECT_THAT(webView->scripts, IsEmpty());
  EXPECT_THAT(app->calls, IsEmpty());
}

TEST_F(ControllerState, the_web_view_and_controller_are_held_weakly) {
  std::weak_ptr<FakeScriptEvaluator> watchedView = webView;
  std::weak_ptr<FakeAppController> watchedApp = app;
  webView.reset();
  app.reset();
  EXPECT_TRUE(watchedView.expired());
  EXPECT_TRUE(watchedApp.expired());
  startFromPage();
  settle();
  engine->toggleRecordingFromHotkey();
  EXPECT_TRUE(engine->isRecording());
}

TEST_F(ControllerState, callbacks_kept_by_the_platform_do_not_keep_the_controller_alive) {
  auto task = recording();
  task->partial("words");
  stopFromPage("Extract");
  std::weak_ptr<AudioEngine> watched = engine;
  engine.reset();
  EXPECT_TRUE(watched.expired());
  console.clear();
  queue.advance(10.0);  // the result and the time-out find it gone
  EXPECT_THAT(lines(), IsEmpty());
  EXPECT_THAT(webView->scripts, ElementsAre());
}

}  // namespace
}  // namespace quorvel::testing
