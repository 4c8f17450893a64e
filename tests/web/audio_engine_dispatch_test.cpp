#include "speech/engine_harness.h"

namespace quorvel::testing {
namespace {

using Strings = std::vector<std::string>;
using ::testing::Contains;
using ::testing::IsEmpty;

std::string editAnswer(const std::string& member, const std::string& test) {
  return "if(window._llmEditResolve" + test + ") { window._llmEditResolve(JSON.stringify({" +
         member + "'})); window._llmEditResolve = null; }";
}
std::string editResult(const std::string& escaped, const std::string& test = "") {
  return editAnswer("result: '" + escaped, test);
}
std::string editError(const std::string& escaped) {
  return editAnswer("error: '" + escaped, "");
}

class MessageDispatch : public EngineHarness {
 protected:
  // Records "hi" as a final result, then stops with the message and lets the wait run out.
  void stopWith(const nlohmann::json& message) {
    auto task = recording();
    task->final("hi");
    settle();
    send(message);
    queue.advance(3.0);
  }
};

TEST_F(MessageDispatch, stop_recording_takes_the_mode_or_extract) {
  stopWith({{"action", "stop_recording"}});
  EXPECT_THAT(webView->scripts, Contains(rawCall("hi", "Extract")));
  EXPECT_EQ(http.pending(), 1u);
  stopWith({{"action", "stop_recording"}, {"mode", 7}});
  EXPECT_THAT(webView->scripts, Contains(rawCall("hi", "Extract")));
  // The empty string that the page's bridge sends is passed on: it has no prompt.
  stopWith({{"action", "stop_recording"}, {"mode", ""}});
  EXPECT_THAT(webView->scripts, Contains(resultCall("hi", "hi", "")));
  EXPECT_EQ(http.sent().size(), 2u);
}

TEST_F(MessageDispatch, start_recording_asks_for_permissions_and_starts) {
  permissions.speech = SpeechAuthorization::Denied;
  startFromPage();
  settle();
  EXPECT_EQ(webView->scripts, Strings{errorCall("Speech recognition permission denied")});
  permissions.speech = SpeechAuthorization::Authorized;
  startFromPage();
  EXPECT_TRUE(engine->isRecording());
}

TEST_F(MessageDispatch, save_history_stores_only_string_data_exactly_as_sent) {
  send({{"action", "save_history"}, {"data", nlohmann::json::array()}});
  send({{"action", "save_history"}});
  EXPECT_EQ(history.load(), std::nullopt);
  send({{"action", "save_history"}, {"data", " [{\"raw\":\"it's\"}] "}});
  EXPECT_EQ(history.load(), " [{\"raw\":\"it's\"}] ");
  // A full disk: the stored history stays, the console names the file, the page is told.
  disk.failWrites = true;
  send({{"action", "save_history"}, {"data", "[]"}});
  settle();
  EXPECT_EQ(history.load(), " [{\"raw\":\"it's\"}] ");
  EXPECT_EQ(lines(), Strings{"[AudioEngine] could not save " + history.historyFile() +
                             ": No space left on device"});
  EXPECT_EQ(webView->scripts, Strings{page::historyNotSaved()});
}

TEST_F(MessageDispatch, messages_without_a_string_action_are_ignored_silently) {
  send({{"action", 5}});
  send({{"mode", "Extract"}});
  send(nlohmann::json::array({"start_recording"}));
  send("start_recording");
  send({{"action", "Start_Recording"}});
  send({{"action", "process_with_ai"}, {"text", "x"}});
  settle();
  EXPECT_EQ(lines(), (Strings{"[AudioEngine] unhandled action: Start_Recording",
                              "[AudioEngine] unhandled action: process_with_ai"}));
  EXPECT_FALSE(engine->isRecording());
  EXPECT_THAT(webView->scripts, IsEmpty());
}

TEST_F(MessageDispatch, retry_polish_answers_with_both_texts_intact_and_counts_nothing) {
  send({{"action", "retry_polish"}, {"raw", "it's\nfine"}, {"mode", "Extract"}});
  ASSERT_EQ(http.pending(), 1u);
  auto body = nlohmann::json::parse(http.sent()[0].body.value());
  EXPECT_EQ(body["messages"][1]["content"], "it's\nfine");
  polishReply("It's fine.");
  EXPECT_THAT(webView->scripts, IsEmpty());  // the page call waits for the main queue
  settle();
  EXPECT_EQ(webView->scripts, Strings{resultCall("it\\'s\\nfine", "It\\'s fine.", "Extract")});
  EXPECT_TRUE(usageRecord().empty());
}

TEST_F(MessageDispatch, retry_polish_defaults_and_failures_fall_back_to_the_raw_text) {
  send({{"action", "retry_polish"}, {"raw", "as is"}, {"mode", ""}});
  settle();
  EXPECT_EQ(http.sent().size(), 0u);
  EXPECT_EQ(webView->scripts, Strings{resultCall("as is", "as is", "")});
  webView->clear();
  send({{"action", "retry_polish"}, {"raw", 3}});  // raw "" and mode "Extract"
  http.fail(0, "offline");
  settle();
  EXPECT_EQ(webView->scripts, Strings{resultCall("", "", "Extract", "no connection")});
  webView->clear();
  send({{"action", "retry_polish"}, {"raw", "late"}, {"mode", "Extract"}});
  engine.reset();
  polishReply("Late.");
  settle();
  EXPECT_THAT(webView->scripts, IsEmpty());
}

TEST_F(MessageDispatch, llm_edit_logs_fifty_characters_and_resolves_with_the_result) {
  std::string longText;
  for (int i = 0; i < 200; ++i) longText += "e\xCC\x81";  // 200 accented letters
  std::string first50;
  for (int i = 0; i < 50; ++i) first50 += "e\xCC\x81";
  send({{"action", "llm_edit"}, {"text", longText}, {"instruction", "shorter, please"}});
  send({{"action", "llm_edit"}, {"text", "ten chars!"}, {"instruction", ""}});
  EXPECT_EQ(lines()[0],
            "[AudioEngine] llm_edit: text=" + first50 + "... instruction=shorter, please");
  EXPECT_THAT(lines(), Contains("[AudioEngine] llm_edit: text=ten chars!... instruction="));
  auto body = nlohmann::json::parse(http.sent()[1].body.value());
  EXPECT_EQ(body["messages"][1]["content"], "Text:\nten chars!\n\nInstruction: ");

  http.reply(0, 200, nlohmann::json{{"choices", {{{"message", {{"content", longText}}}}}}}.dump());
  EXPECT_THAT(webView->scripts, IsEmpty());  // hops to the main queue first
  settle();
  EXPECT_THAT(lines(), Contains("[AudioEngine] llm_edit success: " + first50 + "..."));
  EXPECT_EQ(webView->scripts, Strings{editResult(longText)});
}

TEST_F(MessageDispatch, llm_edit_failures_resolve_with_a_readable_error) {
  send({{"action", "llm_edit"}, {"text", "t"}, {"instruction", "i"}});
  http.fail(0, "couldn't connect\\to server\n");
  settle();
  EXPECT_THAT(lines(), Contains("[AudioEngine] llm_edit error: couldn't connect\\to server\n"));
  // The console keeps the whole description; the page gets the few words of why.
  EXPECT_EQ(webView->scripts, Strings{editError("no connection")});

  webView->clear();
  send({{"action", "llm_edit"}});
  http.reply(0, 200, R"({"choices": []})");
  settle();
  EXPECT_THAT(lines(), Contains("[AudioEngine] llm_edit error: Edit failed"));
  EXPECT_EQ(webView->scripts, Strings{editError("the reply could not be used")});
}

TEST_F(MessageDispatch, an_edit_answer_resolves_only_the_request_that_asked_for_it) {
  send({{"action", "llm_edit"}, {"text", "a"}, {"instruction", "i"}, {"request_id", 1}});
  send({{"action", "llm_edit"}, {"text", "b"}, {"instruction", "i"}, {"request_id", 2}});
  polishReply("for one");
  polishReply("for two");
  settle();
  EXPECT_EQ(webView->scripts, (Strings{editResult("for one", " && window._llmEditRequest === 1"),
                                       editResult("for two", " && window._llmEditRequest === 2")}));
}

TEST_F(MessageDispatch, an_edit_answer_after_the_controller_is_gone_is_only_logged) {
  send({{"action", "llm_edit"}, {"text", "t"}, {"instruction", "i"}});
  engine.reset();
  polishReply("edited");
  settle();
  EXPECT_THAT(lines(), Contains("[AudioEngine] llm_edit success: edited..."));
  EXPECT_THAT(webView->scripts, IsEmpty());
}

}  // namespace
}  // namespace quorvel::testing
