// The stored locale read at launch, and what the controller holds.
#include "speech/engine_harness.h"

ENGINE_SCENES(
    AudioEngineState,
    {"a_stored_locale_is_read_back_exactly_and_picks_its_recogniser_or_none",
     "stored en-US | recognizer en-US 0 | support ja-JP | config {\"speech_locale\": \"ja-JP\"} | "
     "stored ja-JP | new | recognizer ja-JP 0 | config {\"speech_locale\": \"\"} | stored | new | "
     "start | page alert('Speech recognizer not available')"},
    {"a_stored_choice_that_is_not_a_string_reads_as_en_us",
     "config {\"speech_locale\": 42} | stored en-US | config {\"speech_locale\": null} | stored "
     "en-US | config {\"speech_locale\": [\"ja-JP\"]} | stored en-US | config [\"ja-JP\"] | stored "
     "en-US | config {not json | stored en-US"});

namespace quorvel::testing {

class AudioEngineHolds : public EngineScript {};

TEST_F(AudioEngineHolds, the_web_view_and_tray_weakly) {
  recognizers.support("en-US");
  engine = makeEngine();
  std::weak_ptr<FakeScriptEvaluator> watchedView = webView;
  std::weak_ptr<FakeAppController> watchedApp = app;
  webView.reset();
  app.reset();
  EXPECT_TRUE(watchedView.expired());
  EXPECT_TRUE(watchedApp.expired());
  send({{"action", "start_recording"}});
  queue.runUntilIdle();
  engine->toggleRecordingFromHotkey();
  EXPECT_TRUE(engine->isRecording());
}

}  // namespace quorvel::testing
