#include <thread>

#include "speech/engine_harness.h"

namespace quorvel::testing {
namespace {

using Strings = std::vector<std::string>;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Not;

class RecordingSession : public EngineHarness {};

// --- Permissions -----------------------------------------------------------------------------

TEST_F(RecordingSession, starts_before_the_request_returns_when_both_permissions_are_granted) {
  startFromPage();
  EXPECT_TRUE(engine->isRecording());
  EXPECT_EQ(permissions.speechRequests, 0);
  EXPECT_EQ(microphone.log, (Strings{"stop", "removeTap 0", "removeTap 0", "installTap 0 4096",
                                     "prepare", "start"}));
  EXPECT_THAT(lines(), ElementsAre("[AudioEngine] recording started"));
  ASSERT_EQ(english->requests.size(), 1u);
  EXPECT_TRUE(english->requests[0]->shouldReportPartialResults);
  EXPECT_TRUE(english->requests[0]->addsPunctuation);
  EXPECT_THAT(app->calls, IsEmpty());  // the tray changes on a later turn
  settle();
  EXPECT_EQ(app->calls, (Strings{"badge on", "tooltip Recording..."}));
  EXPECT_THAT(webView->scripts, IsEmpty());
}

TEST_F(RecordingSession, first_use_prompts_for_speech_then_microphone_behind_a_closed_popover) {
  permissions.speech = SpeechAuthorization::NotDetermined;
  permissions.microphone = MicrophoneAuthorization::NotDetermined;
  permissions.answerOn = AnswerOn::OtherThread;
  startFromPage();
  EXPECT_FALSE(engine->isRecording());
  permissions.joinThreads();
  settle();  // closes the popover, then takes the speech answer and asks for the microphone
  permissions.joinThreads();
  settle();
  EXPECT_EQ(permissions.prompts, (Strings{"speech", "microphone"}));
  EXPECT_TRUE(engine->isRecording());
  // Recording has started by the time the popover comes back.
  EXPECT_EQ(app->calls,
            (Strings{"closePopover", "showPopover", "badge on", "tooltip Recording..."}));
  EXPECT_TRUE(microphone.isRunning());
  EXPECT_THAT(webView->scripts, IsEmpty());
}

TEST_F(RecordingSession, refusals_at_the_prompts_show_the_reason_and_reopen_the_popover) {
  struct Case {
    bool grantSpeech, grantMicrophone;
    std::string message;
    Strings prompts;
  };
  for (const Case& c :
       {Case{false, true, "Speech recognition permission denied", {"speech"}},
        Case{true, false, "Microphone permission denied", {"speech", "microphone"}}}) {
    SCOPED_TRACE(c.message);
    FakePermissionProvider asked;
    asked.speech = SpeechAuthorization::NotDetermined;
    asked.microphone = MicrophoneAuthorization::NotDetermined;
    asked.userGrantsSpeech = c.grantSpeech;
    asked.userGrantsMicrophone = c.grantMicrophone;
    auto local = std::make_shared<AudioEngine>(AudioEngineServices{
        queue, recognizers, asked, microphone, polisher, history, usage, console});
    local->setWebView(webView);
    local->setAppDelegate(app);
    clearRecords();
    local->userContentControllerDidReceive({{"action", "start_recording"}});
    settle();
    EXPECT_EQ(asked.prompts, c.prompts);
    EXPECT_FALSE(local->isRecording());
    EXPECT_FALSE(local->isWaitingForFinal());
    EXPECT_EQ(app->calls, (Strings{"closePopover", "showPopover"}));
    EXPECT_EQ(webView->scripts, Strings{errorCall(c.message)});
    EXPECT_THAT(microphone.log, IsEmpty());
  }
}

TEST_F(RecordingSession, an_earlier_refusal_asks_nothing_and_leaves_the_popover_alone) {
  struct Case {
    SpeechAuthorization speech;
    MicrophoneAuthorization microphone;
    std::string message;
  };
  for (const Case& c : {
           Case{SpeechAuthorization::Denied, MicrophoneAuthorization::Authorized,
                "Speech recognition permission denied"},
           Case{SpeechAuthorization::Restricted, MicrophoneAuthorization::Authorized,
                "Speech recognition permission denied"},
           Case{SpeechAuthorization::Authorized, MicrophoneAuthorization::Denied,
                "Microphone permission denied"},
           Case{SpeechAuthorization::Authorized, MicrophoneAuthorization::Restricted,
                "Microphone permission denied"},
       }) {
    SCOPED_TRACE(c.message);
    permissions.speech = c.speech;
    permissions.microphone = c.microphone;
    clearRecords();
    startFromPage();
    settle();
    EXPECT_THAT(permissions.prompts, IsEmpty());
    EXPECT_FALSE(engine->isRecording());
    EXPECT_THAT(app->calls, IsEmpty());
    EXPECT_EQ(webView->scripts, Strings{errorCall(c.message)});
  }
}

TEST_F(RecordingSession, answers_arriving_after_the_controller_is_gone_change_nothing) {
  permissions.speech = SpeechAuthorization::NotDetermined;
  permissions.microphone = MicrophoneAuthorization::NotDetermined;
  permissions.answerOn = AnswerOn::Manually;
  startFromPage();
  settle();
  EXPECT_EQ(app->calls, Strings{"closePopover"});
  engine.reset();
  permissions.answerPending();
  settle();
  EXPECT_EQ(app->calls, Strings{"closePopover"});
  EXPECT_THAT(webView->scripts, IsEmpty());
  EXPECT_EQ(permissions.microphoneRequests, 0);
  EXPECT_THAT(microphone.log, IsEmpty());
}

// --- The state table --------------------------------------------------------------------------

TEST_F(RecordingSession, results_while_recording_reach_the_page_and_the_session_goes_on) {
  auto task = recording();
  task->partial("hello");
  task->partial("hello it's");
  task->fail("network hiccup");
  settle();
  EXPECT_EQ(webView->scripts, (Strings{speechEvent("hello"), speechEvent("hello it\\'s")}));
  EXPECT_THAT(lines(), ElementsAre("[AudioEngine] recognition error: network hiccup"));
  EXPECT_TRUE(engine->isRecording());
  EXPECT_TRUE(microphone.isRunning());
  EXPECT_THAT(app->calls, IsEmpty());
}

TEST_F(RecordingSession, buffers_reach_the_current_request_only_while_recording) {
  auto task = recording();
  EXPECT_TRUE(microphone.push());
  std::thread capture([&] { microphone.push(); });  // the capture thread
  capture.join();
  EXPECT_EQ(task->request->buffers.load(), 2u);
  EXPECT_EQ(task->request->frames.load(), 8192u);
  stopFromPage("Extract");
  EXPECT_FALSE(microphone.push());
  EXPECT_EQ(task->request->buffers.load(), 2u);
}

TEST_F(RecordingSession, a_tap_outliving_the_controller_drops_its_buffers) {
  auto task = recording();
  engine.reset();
  EXPECT_TRUE(microphone.push());
  EXPECT_EQ(task->request->buffers.load(), 0u);
}

TEST_F(RecordingSession, stop_ends_the_audio_and_waits_for_the_final_result) {
  auto task = recording();
  stopFromPage("Extract");
  EXPECT_FALSE(engine->isRecording());
  EXPECT_TRUE(engine->isWaitingForFinal());
  EXPECT_EQ(microphone.log, (Strings{"stop", "removeTap 0"}));
  EXPECT_EQ(task->request->endAudioCalls, 1);
  EXPECT_THAT(lines(), ElementsAre("[AudioEngine] recording stopped, waiting for final result..."));
  task->partial("go forward");
  task->final("go forward ten meters");
  settle();
  EXPECT_FALSE(engine->isWaitingForFinal());
  EXPECT_THAT(webView->scripts, Contains(rawCall("go forward ten meters", "Extract")));
  EXPECT_THAT(lines(), Contains("[AudioEngine] delivering final: go forward ten meters"));
  EXPECT_EQ(app->calls, (Strings{"badge off", "tooltip Quorvel"}));
}

TEST_F(RecordingSession, an_error_after_the_stop_delivers_the_latest_transcription) {
  auto task = recording();
  task->partial("turn left");
  settle();
  stopFromPage("Extract");
  task->fail("no final");
  settle();
  EXPECT_FALSE(engine->isWaitingForFinal());
  EXPECT_THAT(lines(), Contains("[AudioEngine] recognition error: no final"));
  EXPECT_THAT(webView->scripts, Contains(rawCall("turn left", "Extract")));
  EXPECT_EQ(http.pending(), 1u);
}

TEST_F(RecordingSession, without_a_final_result_the_time_out_delivers_three_seconds_after_stop) {
  auto task = recording();
  task->partial("almost there");
  settle();
  stopFromPage("Extract");
  queue.advance(2.9);
  EXPECT_TRUE(engine->isWaitingForFinal());
  queue.advance(0.1);
  EXPECT_FALSE(engine->isWaitingForFinal());
  EXPECT_THAT(lines(), Contains("[AudioEngine] timeout waiting for final, using current text"));
  EXPECT_THAT(webView->scripts, Contains(rawCall("almost there", "Extract")));
  // The later triggers of the same stop find nothing to do.
  task->final("almost there indeed");
  queue.advance(5.0);
  EXPECT_EQ(http.pending(), 1u);
}

TEST_F(RecordingSession, a_final_result_before_the_stop_is_kept_and_delivered_by_the_time_out) {
  auto task = recording();
  task->final("short note");
  settle();
  EXPECT_TRUE(engine->isRecording());
  EXPECT_EQ(http.pending(), 0u);
  stopFromPage("Extract");
  queue.advance(2.9);
  EXPECT_EQ(http.pending(), 0u);
  queue.advance(0.1);
  EXPECT_THAT(webView->scripts, Contains(rawCall("short note", "Extract")));
  EXPECT_EQ(http.pending(), 1u);
}

TEST_F(RecordingSession, a_start_while_recording_cancels_the_task_and_drops_its_text) {
  auto first = recording();
  first->partial("discarded words");
  settle();
  startFromPage();
  EXPECT_TRUE(first->cancelled);
  auto second = lastTask();
  ASSERT_NE(second, first);
  stopFromPage("Extract");
  queue.advance(3.0);
  EXPECT_THAT(lines(), Contains("[AudioEngine] no speech detected, resetting UI"));
  EXPECT_THAT(webView->scripts, Not(Contains(rawCall("discarded words", "Extract"))));
}

// --- Start failures ---------------------------------------------------------------------------

TEST_F(RecordingSession, no_recogniser_for_the_locale_leaves_recording_flags_without_audio) {
  polisher.updateConfig("speech_locale", "xx-XX");
  engine = makeEngine();
  ASSERT_EQ(engine->currentRecognizer(), nullptr);
  clearRecords();
  startFromPage();
  settle();
  EXPECT_TRUE(engine->isRecording());
  EXPECT_EQ(app->calls, (Strings{"badge on", "tooltip Recording..."}));
  EXPECT_EQ(webView->scripts, Strings{errorCall("Speech recognizer not available")});
  EXPECT_EQ(microphone.log, (Strings{"stop", "removeTap 0"}));
  EXPECT_THAT(lines(), IsEmpty());
  // The page's stop ends it the ordinary way: nothing said, so the page is reset.
  clearRecords();
  stopFromPage("Extract");
  queue.advance(3.0);
  EXPECT_FALSE(engine->isRecording());
  EXPECT_EQ(webView->scripts, Strings{noSpeechResetScript()});
  EXPECT_EQ(app->calls, (Strings{"badge off", "tooltip Quorvel"}));
}

TEST_F(RecordingSession, an_unavailable_recogniser_holds_a_request_but_starts_no_task) {
  english->available = false;
  startFromPage();
  settle();
  EXPECT_TRUE(engine->isRecording());
  EXPECT_EQ(english->requests.size(), 1u);
  EXPECT_THAT(english->tasks, IsEmpty());
  EXPECT_FALSE(microphone.hasTap());
  EXPECT_FALSE(microphone.isRunning());
  EXPECT_EQ(webView->scripts, Strings{errorCall("Speech recognizer not available")});
}

TEST_F(RecordingSession, an_audio_engine_that_fails_to_start_leaves_task_and_tap_in_place) {
  microphone.startFailure = "no source";
  startFromPage();
  settle();
  EXPECT_TRUE(engine->isRecording());
  EXPECT_THAT(lines(), ElementsAre("[AudioEngine] engine start failed: no source"));
  EXPECT_EQ(webView->scripts, Strings{errorCall("Failed to start audio engine")});
  EXPECT_EQ(english->tasks.size(), 1u);
  EXPECT_TRUE(microphone.hasTap());
  EXPECT_FALSE(microphone.isRunning());
  // The next start replaces the tap instead of piling a second one onto the bus.
  microphone.startFailure.reset();
  startFromPage();
  EXPECT_EQ(microphone.refusedTaps, 0);
  EXPECT_TRUE(microphone.isRunning());
}

// --- Faults the controller guards against -----------------------------------------------------

TEST_F(RecordingSession, a_time_out_from_an_earlier_stop_does_not_cut_a_later_wait_short) {
  auto first = recording();
  stopFromPage("Extract");  // t = 0, its time-out due at 3
  first->final("first session");
  settle();  // delivered at once
  queue.advance(1.0);
  auto second = recording();  // t = 1
  queue.advance(1.0);
  stopFromPage("Extract");  // t = 2, its time-out due at 5
  queue.advance(1.5);       // t = 3.5: the first time-out has fired
  EXPECT_TRUE(engine->isWaitingForFinal());
  second->partial("second session words");
  queue.advance(1.0);  // t = 4.5
  EXPECT_TRUE(engine->isWaitingForFinal());
  second->final("second session words, final");
  settle();
  EXPECT_FALSE(engine->isWaitingForFinal());
  EXPECT_THAT(webView->scripts, Contains(rawCall("second session words, final", "Extract")));
  EXPECT_THAT(lines(),
              Not(Contains("[AudioEngine] timeout waiting for final, using current text")));
}

TEST_F(RecordingSession, two_stops_in_a_row_wait_for_the_second_stops_own_time_out) {
  auto task = recording();
  task->partial("words");
  settle();
  stopFromPage("Extract");
  queue.advance(1.0);
  stopFromPage("Extract");
  EXPECT_EQ(task->request->endAudioCalls, 2);
  queue.advance(2.5);  // the first stop's time-out has passed
  EXPECT_TRUE(engine->isWaitingForFinal());
  queue.advance(0.5);
  EXPECT_FALSE(engine->isWaitingForFinal());
  EXPECT_THAT(webView->scripts, Contains(rawCall("words", "Extract")));
}

TEST_F(RecordingSession, late_results_of_a_replaced_task_never_touch_the_new_session) {
  auto old = recording();
  old->partial("old words");
  settle();
  auto fresh = recording();
  ASSERT_TRUE(old->cancelled);
  old->lateResult("stale final", true);
  old->lateError("stale error");
  fresh->partial("fresh words");
  settle();
  EXPECT_EQ(webView->scripts, Strings{speechEvent("fresh words")});
  EXPECT_THAT(lines(), IsEmpty());
  stopFromPage("Extract");
  old->lateError("stale error after stop");
  settle();
  EXPECT_TRUE(engine->isWaitingForFinal());  // a stranger's error does not deliver
  queue.advance(3.0);
  EXPECT_THAT(webView->scripts, Contains(rawCall("fresh words", "Extract")));
}

TEST_F(RecordingSession, a_stop_without_a_session_neither_redelivers_nor_counts_again) {
  auto task = recording();
  task->partial("hello there");
  settle();
  stopFromPage("Extract");
  task->final("hello there");
  settle();
  polishReply("Hello there.");
  settle();
  ASSERT_EQ(usageRecord().value("total_sessions", 0), 1);
  clearRecords();

  stopFromPage("Extract");
  EXPECT_TRUE(engine->isWaitingForFinal());
  EXPECT_THAT(microphone.log, IsEmpty());  // a running edit capture would keep its audio
  task->lateResult("hello there", true);   // the delivered task may still speak
  queue.advance(3.0);
  EXPECT_FALSE(engine->isWaitingForFinal());
  EXPECT_EQ(webView->scripts, Strings{noSpeechResetScript()});
  EXPECT_EQ(http.pending(), 0u);
  EXPECT_EQ(http.sent().size(), 1u);
  EXPECT_EQ(usageRecord().value("total_sessions", 0), 1);
  EXPECT_EQ(app->calls, (Strings{"badge off", "tooltip Quorvel"}));
}

TEST_F(RecordingSession, a_stop_before_any_session_resets_the_page_after_the_wait) {
  stopFromPage("Extract");
  queue.advance(2.9);
  EXPECT_THAT(webView->scripts, IsEmpty());
  queue.advance(0.1);
  EXPECT_EQ(webView->scripts, Strings{noSpeechResetScript()});
  EXPECT_THAT(lines(), ElementsAre("[AudioEngine] recording stopped, waiting for final result...",
                                   "[AudioEngine] timeout waiting for final, using current text",
                                   "[AudioEngine] no speech detected, resetting UI"));
}

TEST_F(RecordingSession, a_time_out_after_the_controller_is_gone_does_nothing) {
  auto task = recording();
  task->partial("words");
  settle();
  stopFromPage("Extract");
  engine.reset();
  console.clear();
  queue.advance(3.0);
  EXPECT_THAT(lines(), IsEmpty());
  EXPECT_EQ(http.pending(), 0u);
}

}  // namespace
}  // namespace quorvel::testing
