#include <algorithm>
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
  ASSERT_EQ(english()->requests.size(), 1u);
  EXPECT_TRUE(english()->requests[0]->shouldReportPartialResults);
  EXPECT_TRUE(english()->requests[0]->addsPunctuation);
  // The capture's answer and the tray change come on later turns.
  EXPECT_THAT(lines(), IsEmpty());
  EXPECT_THAT(app->calls, IsEmpty());
  settle();
  EXPECT_THAT(lines(), ElementsAre("[AudioEngine] recording started"));
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
  task->final("hello it's");  // a final before the stop ends nothing
  settle();
  EXPECT_EQ(webView->scripts, (Strings{speechEvent("hello"), speechEvent("hello it\\'s"),
                                       speechEvent("hello it\\'s")}));
  EXPECT_THAT(lines(), IsEmpty());
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

// A start that fails undoes itself: the page, which switched to recording on its own, is put
// back at rest, and the tray never shows a recording that is not happening.
TEST_F(RecordingSession, a_failed_start_leaves_no_badge_and_puts_the_page_back_at_rest) {
  enum class Fault { NoRecogniser, UnavailableRecogniser, AudioStart };
  struct Case {
    Fault fault;
    std::string message;
    Strings lines;
  };
  for (const Case& c : {
           Case{Fault::NoRecogniser, "Speech recognizer not available", {}},
           Case{Fault::UnavailableRecogniser, "Speech recognizer not available", {}},
           Case{Fault::AudioStart,
                "Failed to start audio engine",
                {"[AudioEngine] engine start failed: no source"}},
       }) {
    SCOPED_TRACE(c.message);
    polisher.updateConfig("speech_locale", c.fault == Fault::NoRecogniser ? "xx-XX" : "en-US");
    engine = makeEngine();
    if (c.fault == Fault::UnavailableRecogniser) english()->available = false;
    if (c.fault == Fault::AudioStart) microphone.startFailure = "no source";
    clearRecords();
    startFromPage();
    settle();
    EXPECT_FALSE(engine->isRecording());
    EXPECT_THAT(app->calls, Not(Contains("badge on")));
    EXPECT_THAT(app->calls, Not(Contains("tooltip Recording...")));
    EXPECT_EQ(webView->scripts, (Strings{errorCall(c.message), page::recordingAbandoned()}));
    EXPECT_EQ(lines(), c.lines);
    EXPECT_FALSE(microphone.hasTap());
    EXPECT_FALSE(microphone.isRunning());
    // F6 now finds nothing recording and simply toggles the page, which is at rest.
    engine->toggleRecordingFromHotkey();
    EXPECT_EQ(webView->scripts.back(), "toggleState();");
    microphone.startFailure.reset();
  }
  // A working start after the failures installs one tap and shows the badge once capture runs.
  microphone.holdStartAnswer = true;
  clearRecords();
  startFromPage();
  settle();
  EXPECT_EQ(microphone.refusedTaps, 0);
  EXPECT_THAT(app->calls, IsEmpty()) << "badge before the capture had started";
  microphone.answerStart();
  settle();
  EXPECT_EQ(app->calls, (Strings{"badge on", "tooltip Recording..."}));
  EXPECT_THAT(lines(), ElementsAre("[AudioEngine] recording started"));
}

TEST_F(RecordingSession, a_stop_before_the_capture_has_started_never_shows_the_badge) {
  microphone.holdStartAnswer = true;
  startFromPage();
  settle();
  stopFromPage("Extract");
  microphone.answerStart();  // the answer of a capture already given up
  queue.advance(3.0);
  EXPECT_THAT(app->calls, Not(Contains("badge on")));
  EXPECT_THAT(lines(), Not(Contains("[AudioEngine] recording started")));
}

// Failures that end a dictation midway are shown at once; the text recognised until then is
// still delivered, and with none the page goes back to rest instead of "no speech".
TEST_F(RecordingSession, a_recognition_error_or_lost_capture_ends_the_session_visibly) {
  enum class Fault { RecognitionError, CaptureLost };
  struct Case {
    Fault fault;
    std::string heard;
    std::string message;
    std::string line;
  };
  for (const Case& c : {
           Case{Fault::RecognitionError, "so far", "Audio was lost",
                "[AudioEngine] recognition error: Audio was lost"},
           Case{Fault::RecognitionError, "", "Speech model could not be loaded",
                "[AudioEngine] recognition error: Speech model could not be loaded"},
           Case{Fault::CaptureLost, "so far", "Recording stopped: server gone",
                "[AudioEngine] audio capture lost: server gone"},
           Case{Fault::CaptureLost, "", "Recording stopped: server gone",
                "[AudioEngine] audio capture lost: server gone"},
       }) {
    SCOPED_TRACE(c.line + " / heard '" + c.heard + "'");
    auto task = recording();
    if (!c.heard.empty()) task->partial(c.heard);
    settle();
    clearRecords();
    if (c.fault == Fault::RecognitionError) {
      task->fail(c.message);
    } else {
      microphone.loseCapture("server gone");
    }
    settle();
    EXPECT_FALSE(engine->isRecording());
    EXPECT_FALSE(microphone.isRunning());
    EXPECT_THAT(lines(), Contains(c.line));
    ASSERT_FALSE(webView->scripts.empty());
    EXPECT_EQ(webView->scripts[0], errorCall(c.message));
    if (c.fault == Fault::CaptureLost) {
      EXPECT_EQ(task->request->endAudioCalls, 1);
      task->final(c.heard);  // the recogniser finishes the audio it got
      settle();
    }
    EXPECT_FALSE(engine->isWaitingForFinal());
    EXPECT_EQ(webView->scripts.back(),
              c.heard.empty() ? page::recordingAbandoned() : rawCall(c.heard, "Extract"));
    EXPECT_THAT(lines(), Not(Contains("[AudioEngine] no speech detected, resetting UI")));
    EXPECT_EQ(app->calls.front(), "badge off");
    queue.advance(3.0);
    while (http.pending() > 0) http.fail(0, "offline");
    settle();
  }
}

// The final's bound counts from when the recogniser has caught up with the audio; catching up
// is allowed while the backlog shrinks, for ten seconds at most.
TEST_F(RecordingSession, the_final_wait_counts_its_bound_from_when_the_recogniser_caught_up) {
  struct Case {
    std::string name;
    std::vector<double> backlogEveryQuarter;  // what the task reports at 0, 0.25, 0.5, ... s
    double finalAt;                           // seconds after the stop, or -1 for none
    bool timedOut;
    double deliveredAt;
  };
  for (const Case& c : {
           Case{"caught up at the stop, no final", {0}, -1, true, 3.0},
           Case{"caught up at the stop, final at once", {0}, 0.1, false, 0.1},
           Case{"catching up for 2 s, final 1 s later",
                {2, 1.5, 1, 0.5, 0.25, 0.1, 0.05, 0.01, 0},
                3.0,
                false,
                3.0},
           Case{"catching up for 2 s, no final",
                {2, 1.5, 1, 0.5, 0.25, 0.1, 0.05, 0.01, 0},
                -1,
                true,
                5.0},
           Case{"stalled", {2}, -1, true, 3.0},
       }) {
    SCOPED_TRACE(c.name);
    auto task = recording();
    task->partial("partial");
    settle();
    task->backlog = c.backlogEveryQuarter[0];
    stopFromPage("Extract");
    clearRecords();
    double now = 0;
    bool finalSent = false;
    while (engine->isWaitingForFinal() && now < 20) {
      const size_t step = static_cast<size_t>(now / 0.25 + 0.5);
      task->backlog = c.backlogEveryQuarter[std::min(step, c.backlogEveryQuarter.size() - 1)];
      if (!finalSent && c.finalAt >= 0 && now + 1e-9 >= c.finalAt) {
        task->final("the whole text");
        finalSent = true;
      }
      queue.advance(0.05);
      now += 0.05;
    }
    EXPECT_NEAR(now, c.deliveredAt + 0.05, 0.06);
    const Strings logged = lines();
    EXPECT_EQ(std::count(logged.begin(), logged.end(),
                         "[AudioEngine] timeout waiting for final, using current text"),
              c.timedOut ? 1 : 0);
    EXPECT_THAT(webView->scripts,
                Contains(rawCall(c.timedOut ? "partial" : "the whole text", "Extract")));
    while (http.pending() > 0) http.fail(0, "offline");
    settle();
  }
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
