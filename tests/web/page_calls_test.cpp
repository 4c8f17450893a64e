// Page calls built natively and evaluated in WebKitGTK: every text comes back as it went in, with
// only its carriage returns gone, whatever quotes, escapes and separators it holds.
#include "web/page_calls.h"

#include <gtest/gtest.h>

#include <random>

#include "web/harness.h"

namespace quorvel::testing {
namespace {

using nlohmann::json;

// Pieces chosen to break a careless literal: quotes, escapes, line ends and separators, NUL and
// controls, script look-alikes, and multi-code-point characters.
const std::vector<std::string> kPieces = {"'",
                                          "\"",
                                          "`",
                                          "\\",
                                          "\\'",
                                          "\\\\",
                                          "\n",
                                          "\r",
                                          "\r\n",
                                          "\t",
                                          "\xE2\x80\xA8",
                                          "\xE2\x80\xA9",
                                          "\\n",
                                          "\\u0041",
                                          "\\x41",
                                          "${x}",
                                          "</script>",
                                          "<img src=x onerror=alert(1)>",
                                          "');window.owned=1;//",
                                          "'}));",
                                          std::string("\0", 1),
                                          "\x01",
                                          "\x1f",
                                          "\x7F",
                                          "\xEF\xBB\xBF",
                                          "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9",
                                          "e\xCC\x81",
                                          "\xE4\xBD\xA0",
                                          "a",
                                          " ",
                                          "{}",
                                          "/*"};

std::string randomText(std::mt19937& rng) {
  std::string text;
  for (int n = rng() % 13; n > 0; --n) text += kPieces[rng() % kPieces.size()];
  return text;
}

std::string shown(std::string text) {
  std::erase(text, '\r');  // the one character the escaping drops
  return text;
}

class PageCallsInWebKit : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(page.load(false));
    // Stand-ins for the page's functions, so each call's values land in one array.
    page.value(
        "window.got = []; addEventListener('speech_result', e => got.push(e.detail)); "
        "window.updateResult = (...a) => got.push(a); window.showRawAndStartPolish = "
        "(...a) => got.push(a); window.setLanguage = c => got.push(c); window.keep = v => "
        "got.push(JSON.parse(v)); window.renderHistory = () => got.push(history); "
        "window.updateUsage = u => got.push(u); let history = null; document.body.innerHTML = "
        "'<textarea id=editInstruction></textarea>'; 0");
  }
  // Evaluates the calls as one script and returns what they delivered.
  json run(const std::string& script) {
    const ScriptOutcome outcome = page.evaluate(script + "\n;0");
    EXPECT_TRUE(outcome.ok) << outcome.error;
    return page.value("got.splice(0)");
  }
  PageHarness page;
};

TEST_F(PageCallsInWebKit, thousands_of_random_texts_round_trip_through_every_text_call) {
  std::mt19937 rng(20261206);
  for (int batch = 0; batch < 10; ++batch) {
    std::string script;
    json expected = json::array();
    for (int i = 0; i < 200; ++i) {
      const std::string a = randomText(rng), b = randomText(rng), c = randomText(rng);
      script += page::speechResultEvent(a) + ";\n" + page::updateResult(a, b, c, c) + "\n" +
                page::showRawAndStartPolish(b, c) + "\n" + page::setLanguage(a) + ";\n" +
                "window._llmEditResolve = keep; " + page::resolveLlmEditResult(c) + "\n" +
                "window._llmEditResolve = keep; " + page::resolveLlmEditError(b) + "\n" +
                "window._editRecordResolve = keep; " +
                page::resolveEditRecord(json({{"text", a}}).dump()) + "\n" +
                page::setEditInstruction(b) + " got.push(editInstruction.value);\n";
      expected.push_back(shown(a));
      expected.push_back({shown(a), shown(b), shown(c), shown(c)});
      expected.push_back({shown(b), shown(c)});
      expected.push_back(shown(a));
      expected.push_back({{"result", shown(c)}});
      expected.push_back({{"error", shown(b)}});
      expected.push_back({{"text", a}});
      expected.push_back(shown(b));
    }
    ASSERT_EQ(run(script), expected) << "batch " << batch;
  }
  EXPECT_TRUE(page.value("window.owned === undefined"));
}

TEST_F(PageCallsInWebKit, history_usage_and_error_reports_arrive_intact) {
  std::mt19937 rng(7);
  json entries = json::array();
  for (int i = 0; i < 300; ++i) entries.push_back({{"raw", randomText(rng)}, {"time", i}});
  EXPECT_EQ(run(page::injectHistory(entries.dump(2))), json::array({entries}));
  const json usage = {{"total_chars", 12}, {"note", randomText(rng) + "'\\\n"}};
  EXPECT_EQ(run(page::refreshUsage(usage.dump(4))), json::array({usage}));

  EXPECT_TRUE(page.evaluate(page::nativeError("Mic can't start:\r\n\\dev\\audio")).ok);
  ASSERT_TRUE(runUntil([&] { return !page.alerts.empty(); }));
  EXPECT_EQ(page.alerts, std::vector<std::string>{"Mic can't start:\n\\dev\\audio"});
}

}  // namespace
}  // namespace quorvel::testing
