#include <functional>
#include <thread>

#include "speech/engine_harness.h"

namespace quorvel::testing {
namespace {

using Strings = std::vector<std::string>;
using ::testing::Contains;
using ::testing::IsEmpty;
using ::testing::Not;

class FinalResultDelivery : public EngineHarness {
 protected:
  // Records a session whose final text is `text`, stops it in `mode` and lets delivery run.
  std::shared_ptr<FakeRecognitionTask> deliver(const std::string& text, const std::string& mode) {
    auto task = recording();
    task->partial(text);
    settle();
    clearRecords();
    stopFromPage(mode);
    task->final(text);
    settle();
    return task;
  }

  std::string sentUserContent(size_t index) const {
    auto body = nlohmann::json::parse(http.sent().at(index).body.value());
    return body["messages"][1]["content"].get<std::string>();
  }
};

TEST_F(FinalResultDelivery, trims_the_text_polishes_it_and_counts_the_raw_characters) {
  deliver("  hello \n", "Extract");
  EXPECT_EQ(app->calls, (Strings{"badge off", "tooltip Quorvel"}));
  EXPECT_EQ(webView->scripts, (Strings{speechEvent("  hello \\n"), rawCall("hello", "Extract")}));
  EXPECT_THAT(lines(), Contains("[AudioEngine] delivering final: hello"));
  ASSERT_EQ(http.pending(), 1u);
  EXPECT_EQ(sentUserContent(0), "hello");

  std::thread worker([&] { polishReply("Hello."); });  // the HTTP client's own thread
  worker.join();
  // No file work on the HTTP worker: the session is counted on the main queue, then the page
  // gets the result and the fresh figures.
  EXPECT_TRUE(usageRecord().empty());
  webView->clear();
  settle();
  EXPECT_EQ(usageRecord().value("total_chars", 0), 5);
  EXPECT_EQ(usageRecord().value("total_sessions", 0), 1);
  EXPECT_EQ(webView->scripts, (Strings{resultCall("hello", "Hello.", "Extract"), usageCall()}));
  EXPECT_EQ(webView->withCompletion, Strings{resultCall("hello", "Hello.", "Extract")});
}

TEST_F(FinalResultDelivery, escapes_apostrophes_line_ends_and_carriage_returns_in_page_calls) {
  deliver("it's a\r\nnew line", "Extract");
  EXPECT_THAT(webView->scripts, Contains(rawCall("it\\'s a\\nnew line", "Extract")));
  EXPECT_THAT(lines(), Contains("[AudioEngine] delivering final: it's a\r\nnew line"));
  polishReply("It's new.");
  webView->clear();
  settle();
  EXPECT_EQ(webView->scripts.front(), resultCall("it\\'s a\\nnew line", "It\\'s new.", "Extract"));
}

TEST_F(FinalResultDelivery, a_mode_without_prompt_answers_at_once_with_the_raw_text) {
  deliver("plain words", "");
  EXPECT_EQ(http.sent().size(), 0u);
  EXPECT_EQ(usageRecord().value("total_sessions", 0), 1);
  // The raw call still reaches the page first, though polishing finished inside delivery.
  EXPECT_EQ(webView->scripts, (Strings{speechEvent("plain words"), rawCall("plain words", ""),
                                       resultCall("plain words", "plain words", ""), usageCall()}));
}

TEST_F(FinalResultDelivery, nothing_said_resets_the_page_and_counts_nothing) {
  for (const std::string& said : {std::string(), std::string(" \n \r\n\t")}) {
    auto task = recording();
    task->final(said);
    settle();
    clearRecords();
    stopFromPage("Extract");
    queue.advance(3.0);
    EXPECT_EQ(webView->scripts, Strings{noSpeechResetScript()});
    EXPECT_THAT(lines(), Contains("[AudioEngine] no speech detected, resetting UI"));
    EXPECT_EQ(app->calls, (Strings{"badge off", "tooltip Quorvel"}));
    // The session is released: its task is heard no more.
    task->lateResult("echo", true);
    settle();
    EXPECT_THAT(webView->scripts, Not(Contains(speechEvent("echo"))));
  }
  EXPECT_EQ(http.sent().size(), 0u);
  EXPECT_TRUE(usageRecord().empty());
}

TEST_F(FinalResultDelivery, counts_a_joined_emoji_as_one_character) {
  const std::string family =
      "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7";
  deliver(family, "Extract");
  polishReply("family");
  settle();
  EXPECT_EQ(usageRecord().value("total_chars", 0), 1);
}

TEST_F(FinalResultDelivery, a_failed_polish_shows_the_raw_text_says_why_and_still_counts) {
  HttpResult timedOut{"timed out", std::nullopt, std::nullopt};
  timedOut.failure = HttpFailure::Timeout;
  struct Case {
    std::string reason;
    std::function<void()> beforeDelivery, afterDelivery;
  };
  const std::vector<Case> cases = {
      {"no connection", {}, [&] { http.fail(0, "Could not connect"); }},
      {"the service did not answer in time", {}, [&] { http.answer(0, timedOut); }},
      {"the reply could not be used", {}, [&] { http.reply(0, 500, R"({"error":"busy"})"); }},
      {"config.json cannot be read", [&] { home.put("config.json", R"({"theme": "dark",})"); }, {}},
  };
  int sessions = 0;
  for (const auto& c : cases) {
    if (c.beforeDelivery) c.beforeDelivery();
    deliver("keep this", "Extract");
    if (c.afterDelivery) c.afterDelivery();
    settle();
    EXPECT_THAT(webView->scripts,
                Contains(resultCall("keep this", "keep this", "Extract", c.reason)));
    EXPECT_EQ(usageRecord().value("total_sessions", 0), ++sessions) << c.reason;
  }
}

TEST_F(FinalResultDelivery, a_page_without_update_result_logs_the_evaluation_error) {
  deliver("words", "Extract");
  webView->failWith = "ReferenceError: Can't find variable: updateResult";
  polishReply("Words.");
  settle();
  EXPECT_THAT(lines(), Contains("[AudioEngine] JS eval error: ReferenceError: Can't find "
                                "variable: updateResult"));
}

TEST_F(FinalResultDelivery, without_a_web_view_polishing_and_counting_still_happen) {
  auto task = recording();
  engine->setWebView({});
  task->partial("unseen");
  settle();
  stopFromPage("Extract");
  queue.advance(3.0);
  ASSERT_EQ(http.pending(), 1u);
  polishReply("Unseen.");
  settle();
  EXPECT_EQ(usageRecord().value("total_sessions", 0), 1);
  EXPECT_THAT(webView->scripts, IsEmpty());
}

TEST_F(FinalResultDelivery, a_completion_after_the_controller_is_gone_records_and_shows_nothing) {
  deliver("gone soon", "Extract");
  engine.reset();
  webView->clear();
  polishReply("Gone.");
  settle();
  EXPECT_TRUE(usageRecord().empty());
  EXPECT_THAT(webView->scripts, IsEmpty());
}

TEST_F(FinalResultDelivery, the_release_after_polishing_leaves_a_newer_session_alone) {
  auto delivered = deliver("first", "Extract");
  auto newer = recording();  // polishing of "first" still in flight
  polishReply("First.");
  settle();
  EXPECT_TRUE(microphone.push());
  EXPECT_EQ(newer->request->buffers.load(), 1u);
  webView->clear();
  newer->partial("second");
  delivered->lateResult("first again", true);
  settle();
  EXPECT_EQ(webView->scripts, Strings{speechEvent("second")});
  stopFromPage("Extract");
  newer->final("second");
  settle();
  EXPECT_THAT(webView->scripts, Contains(rawCall("second", "Extract")));
}

TEST_F(FinalResultDelivery, the_delivered_session_is_released_once_polishing_is_done) {
  auto delivered = deliver("done", "Extract");
  delivered->lateResult("still held", false);
  settle();
  EXPECT_THAT(webView->scripts, Contains(speechEvent("still held")));
  polishReply("Done.");
  settle();
  webView->clear();
  delivered->lateResult("after release", false);
  settle();
  EXPECT_THAT(webView->scripts, IsEmpty());
}

TEST_F(FinalResultDelivery, errors_and_transcripts_reach_the_page_escaped) {
  engine->sendJSError("can't \\ start\nnow");
  engine->sendTextToFrontend("a 'quoted'\r\nline");
  EXPECT_THAT(webView->scripts, IsEmpty());  // both go through the main queue
  settle();
  EXPECT_EQ(webView->scripts,
            (Strings{"console.error('[Native] can\\'t \\\\ start\\nnow'); alert('can\\'t \\\\ "
                     "start\\nnow');",
                     speechEvent("a \\'quoted\\'\\nline")}));
}

}  // namespace
}  // namespace quorvel::testing
