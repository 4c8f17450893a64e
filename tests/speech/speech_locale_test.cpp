#include "speech/engine_harness.h"

namespace quorvel::testing {
namespace {

using Strings = std::vector<std::string>;
using ::testing::IsEmpty;

class SpeechLocale : public EngineHarness {};

TEST_F(SpeechLocale, a_chosen_locale_is_stored_and_used_by_the_next_launch) {
  recognizers.support("ja-JP");
  polisher.updateConfig("theme", "dark");
  engine->setSpeechLocale("ja-JP");
  EXPECT_EQ(localeOf(engine->currentRecognizer()), "ja-JP");
  auto config = polisher.readConfig();
  EXPECT_EQ(config["speech_locale"], "ja-JP");
  EXPECT_EQ(config["theme"], "dark");  // the other settings survive
  EXPECT_EQ(AudioEngine::loadSpeechLocale(polisher), "ja-JP");
  EXPECT_EQ(localeOf(makeEngine()->currentRecognizer()), "ja-JP");
}

// The menu drops the engine's only reference to the English recogniser; the session's own
// keeps it, and with it the task, alive until the final is delivered.
TEST_F(SpeechLocale, a_change_during_a_session_applies_from_the_next_start) {
  recognizers.support("ja-JP");
  auto task = recording();
  engine->setSpeechLocale("ja-JP");
  EXPECT_FALSE(task->cancelled);
  EXPECT_FALSE(task->recognizerGone);
  task->partial("still english");
  settle();
  EXPECT_EQ(webView->scripts, Strings{speechEvent("still english")});
  EXPECT_TRUE(engine->isRecording());
  stopFromPage("Extract");
  task->final("still english at the end");
  settle();
  EXPECT_THAT(webView->scripts,
              ::testing::Contains(rawCall("still english at the end", "Extract")));
  EXPECT_FALSE(engine->isWaitingForFinal());
  startFromPage();
  auto japanese = recognizers.latest("ja-JP");
  ASSERT_TRUE(japanese);
  ASSERT_EQ(japanese->tasks.size(), 1u);
}

TEST_F(SpeechLocale, an_unsupported_locale_is_kept_and_every_start_says_so) {
  engine->setSpeechLocale("xx-XX");
  EXPECT_EQ(engine->currentRecognizer(), nullptr);
  EXPECT_EQ(AudioEngine::loadSpeechLocale(polisher), "xx-XX");
  startFromPage();
  settle();
  EXPECT_EQ(webView->scripts.front(), errorCall("Speech recognizer not available"));
  EXPECT_EQ(makeEngine()->currentRecognizer(), nullptr);
}

TEST_F(SpeechLocale, hot_key_asks_the_page_to_toggle_at_once) {
  engine->toggleRecordingFromHotkey();
  EXPECT_EQ(webView->scripts, Strings{"toggleState();"});  // not queued
  recording();
  engine->toggleRecordingFromHotkey();
  EXPECT_EQ(webView->scripts, Strings{"if(state==='recording') toggleState();"});
  EXPECT_TRUE(engine->isRecording());  // only the page's own request stops the session
  stopFromPage("Extract");
  webView->clear();
  engine->toggleRecordingFromHotkey();  // waiting for the final text counts as not recording
  EXPECT_EQ(webView->scripts, Strings{"toggleState();"});
  EXPECT_EQ(queue.pending(), 1u);  // just the time-out
}

TEST_F(SpeechLocale, hot_key_without_a_web_view_does_nothing) {
  engine->setWebView({});
  engine->toggleRecordingFromHotkey();
  settle();
  EXPECT_THAT(webView->scripts, IsEmpty());
  EXPECT_FALSE(engine->isRecording());
}

}  // namespace
}  // namespace quorvel::testing
