#include "speech/engine_harness.h"

namespace quorvel::testing {
namespace {

using Strings = std::vector<std::string>;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

std::string resolved(const std::string& escapedJson) {
  return "if(window._editRecordResolve) { window._editRecordResolve('" + escapedJson +
         "'); window._editRecordResolve = null; }";
}
std::string instruction(const std::string& escaped) {
  return "document.getElementById('editInstruction').value = '" + escaped + "';";
}

class EditCapture : public EngineHarness {
 protected:
  void startEdit() { send({{"action", "start_edit_recording"}}); }
  void stopEdit() { send({{"action", "stop_edit_recording"}}); }
  std::shared_ptr<FakeRecognitionTask> capturing() {
    startEdit();
    settle();
    clearRecords();
    return lastTask();
  }
};

TEST_F(EditCapture, partial_results_rewrite_the_field_and_the_final_is_sent_as_soon_as_it_comes) {
  auto task = capturing();
  EXPECT_TRUE(task->request->shouldReportPartialResults);
  EXPECT_TRUE(task->request->addsPunctuation);
  EXPECT_TRUE(microphone.push());
  EXPECT_EQ(task->request->buffers.load(), 1u);
  task->partial("make it");
  task->partial("make it shorter");
  task->fail("ignored");
  settle();
  EXPECT_EQ(webView->scripts, (Strings{instruction("make it"), instruction("make it shorter")}));
  EXPECT_THAT(lines(), IsEmpty());
  webView->clear();
  stopEdit();
  EXPECT_EQ(microphone.log, (Strings{"stop", "removeTap 0"}));
  EXPECT_EQ(task->request->endAudioCalls, 1);
  queue.advance(1.0);
  task->final("make it shorter, please");
  settle();  // not kept waiting for the rest of the 1.5 s
  EXPECT_EQ(webView->scripts, (Strings{instruction("make it shorter, please"),
                                       resolved(R"({"text":"make it shorter, please"})")}));
  EXPECT_FALSE(task->cancelled);  // released, not cancelled
  queue.advance(1.0);
  EXPECT_EQ(webView->scripts.size(), 2u) << "the bound sent the instruction a second time";
}

TEST_F(EditCapture, a_stop_without_a_new_start_resends_the_last_instruction) {
  stopEdit();
  queue.advance(1.5);
  EXPECT_EQ(webView->scripts, Strings{resolved(R"({"error":"No speech detected"})")});
  auto task = capturing();
  task->partial("bullet points");
  settle();
  stopEdit();
  queue.advance(1.5);
  webView->clear();
  stopEdit();
  queue.advance(1.5);
  EXPECT_EQ(webView->scripts, Strings{resolved(R"({"text":"bullet points"})")});
}

TEST_F(EditCapture, spaces_are_an_instruction_and_quotes_reach_the_promise_intact) {
  auto task = capturing();
  task->partial("   ");
  settle();
  stopEdit();
  queue.advance(1.5);
  EXPECT_EQ(webView->scripts.back(), resolved(R"({"text":"   "})"));
  task = capturing();
  task->partial("use it's and C:\\path \"quoted\"");
  settle();
  EXPECT_EQ(webView->scripts, Strings{instruction("use it\\'s and C:\\\\path \"quoted\"")});
  stopEdit();
  queue.advance(1.5);
  // JSON escapes the backslash and the double quotes; the page call then escapes backslashes
  // and apostrophes once more.
  EXPECT_EQ(webView->scripts.back(),
            resolved(R"({"text":"use it\'s and C:\\\\path \\"quoted\\""})"));
}

TEST_F(EditCapture, an_instruction_that_is_not_utf8_resolves_nothing) {
  auto task = capturing();
  task->partial("bad \xFF byte");
  settle();
  webView->clear();
  stopEdit();
  queue.advance(1.5);
  EXPECT_THAT(webView->scripts, IsEmpty());
}

TEST_F(EditCapture, an_unavailable_recogniser_answers_at_once_and_keeps_the_last_instruction) {
  auto task = capturing();
  task->partial("keep me");
  settle();
  stopEdit();
  queue.advance(1.5);
  english()->available = false;
  webView->clear();
  startEdit();
  settle();
  EXPECT_EQ(webView->scripts, Strings{resolved(R"({"error":"Speech recognizer not available"})")});
  stopEdit();
  queue.advance(1.5);
  EXPECT_EQ(webView->scripts.back(), resolved(R"({"text":"keep me"})"));
}

TEST_F(EditCapture, a_failed_start_reports_and_the_next_start_replaces_its_tap) {
  microphone.startFailure = "device busy";
  startEdit();
  settle();
  EXPECT_THAT(lines(), ElementsAre("[AudioEngine] edit engine start failed: device busy"));
  EXPECT_EQ(webView->scripts, Strings{resolved(R"({"error":"Failed to start audio"})")});
  EXPECT_TRUE(microphone.hasTap());
  startEdit();  // the engine is not running, yet the old tap must go first
  EXPECT_EQ(microphone.refusedTaps, 0);
  microphone.startFailure.reset();
  console.clear();
  auto task = capturing();
  EXPECT_EQ(microphone.refusedTaps, 0);
  EXPECT_THAT(microphone.log, IsEmpty());
  EXPECT_TRUE(microphone.push());
  EXPECT_EQ(task->request->buffers.load(), 1u);
  stopEdit();
  queue.advance(1.5);
  EXPECT_EQ(webView->scripts.back(), resolved(R"({"error":"No speech detected"})"));
}

TEST_F(EditCapture, one_capture_at_a_time_and_a_refused_start_leaves_the_running_one_alone) {
  auto dictation = recording();
  startEdit();
  stopEdit();  // the page's stop of the refused capture
  settle();
  EXPECT_THAT(lines(), Contains("[AudioEngine] edit recording not started: a dictation is "
                                "recording"));
  EXPECT_THAT(microphone.log, IsEmpty());
  EXPECT_TRUE(microphone.push());
  EXPECT_EQ(dictation->request->buffers.load(), 1u);
  stopFromPage("Extract");
  dictation->final("dictated");
  settle();

  auto edit = capturing();
  startFromPage();
  settle();
  EXPECT_THAT(lines(), ElementsAre("[AudioEngine] recording not started: an edit instruction is "
                                   "being captured"));
  EXPECT_FALSE(engine->isRecording());
  EXPECT_TRUE(microphone.push());
  EXPECT_EQ(edit->request->buffers.load(), 1u);
}

TEST_F(EditCapture, a_capture_started_during_the_hand_over_keeps_its_own_request) {
  auto first = capturing();
  first->partial("first");
  settle();
  stopEdit();
  queue.advance(0.5);
  auto second = capturing();
  EXPECT_TRUE(first->cancelled);
  queue.advance(1.0);  // the first stop's hand-over: the new capture has no text yet
  EXPECT_EQ(webView->scripts, Strings{resolved(R"({"error":"No speech detected"})")});
  EXPECT_TRUE(microphone.push());
  EXPECT_EQ(second->request->buffers.load(), 1u);
  second->partial("second");
  settle();
  stopEdit();
  queue.advance(1.5);
  EXPECT_EQ(webView->scripts.back(), resolved(R"({"text":"second"})"));
}

TEST_F(EditCapture, a_hand_over_after_the_controller_is_gone_sends_nothing) {
  auto task = capturing();
  task->partial("words");
  settle();
  stopEdit();
  engine.reset();
  webView->clear();
  queue.advance(1.5);
  EXPECT_THAT(webView->scripts, IsEmpty());
}

}  // namespace
}  // namespace quorvel::testing
