// Page calls built natively and evaluated in WebKitGTK: every text comes back as it went in, with
// only its carriage returns gone, whatever quotes, escapes and separators it holds.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "web/harness.h"
#include "web/page_calls.h"

namespace quorvel::test {
namespace {

using nlohmann::json;

// Pieces chosen to break a careless literal: quotes, escapes, line ends and separators, script
// look-alikes, and multi-code-point characters.
const std::vector<std::string> kPieces = {
    "'", "\"", "`", "\\", "\\'", "\\\\", "\n", "\r", "\r\n", "\t", "\xE2\x80\xA8", "\xE2\x80\xA9",
    "\\n", "\\u0041", "\\x41", "\\u{1F600}", "${x}", "</script>", "<img src=x onerror=alert(1)>",
    "');alert(1);//", "'}));", "\x01", "\x7F", "\xC2\xA0", "\xEF\xBB\xBF", "\xE2\x80\x8B",
    // family: man, woman, girl joined by ZWJ; rainbow flag; e + two combining marks
    "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7",
    "\xF0\x9F\x8F\xB3\xEF\xB8\x8F\xE2\x80\x8D\xF0\x9F\x8C\x88", "e\xCC\x81\xCC\xA3",
    "\xE4\xBD\xA0\xE5\xA5\xBD", "a", "b c", " ", "{", "}", "[", "]", "/", "*", "//", "/*"};

std::string randomText(std::mt19937& rng) {
  std::uniform_int_distribution<int> length(0, 12);
  std::uniform_int_distribution<size_t> pick(0, kPieces.size() - 1);
  std::string text;
  for (int n = length(rng); n > 0; --n) text += kPieces[pick(rng)];
  return text;
}

std::string withoutCarriageReturns(std::string text) {
  std::erase(text, '\r');
  return text;
}

class PageCallsInWebKit : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(page.loadBlank());
    // Stand-ins for the page's functions, so each call's values land in one array.
    page.value(
        "window.got = []; window.addEventListener('speech_result', function (e) { "
        "got.push(e.detail); }); function updateResult(r, p, m) { got.push(r, p, m); } "
        "function showRawAndStartPolish(r, m) { got.push(r, m); } let history = null; "
        "function renderHistory() { got.push(history); } window.keep = function (v) { "
        "got.push(JSON.parse(v)); }; document.body.appendChild(document.createElement('input'))"
        ".id = 'editInstruction'; 0");
  }

  // Evaluates the calls as one script and returns what they delivered.
  json run(const std::string& script) {
    page.value("got = []; 0");
    ScriptOutcome outcome = page.evaluate(script + "\n;0");
    EXPECT_TRUE(outcome.ok) << outcome.error;
    return json::parse(page.value("JSON.stringify(got)").get<std::string>());
  }

  PageHarness page;
};

TEST_F(PageCallsInWebKit, thousands_of_random_texts_round_trip_through_every_text_call) {
  std::mt19937 rng(20261206);
  constexpr int kBatches = 12;
  constexpr int kPerBatch = 250;
  for (int batch = 0; batch < kBatches; ++batch) {
    std::string script;
    json expected = json::array();
    for (int i = 0; i < kPerBatch; ++i) {
      const std::string a = randomText(rng), b = randomText(rng), c = randomText(rng);
      script += page::speechResultEvent(a) + ";\n";
      script += page::updateResult(a, b, c) + "\n";
      script += page::showRawAndStartPolish(b, c) + "\n";
      script += "window._llmEditResolve = keep; " + page::resolveLlmEditResult(c) + "\n";
      script += "window._editRecordResolve = keep; " +
                page::resolveEditRecord(json({{"text", a}}).dump()) + "\n";
      for (const std::string& s : {a, a, b, c, b, c}) expected.push_back(withoutCarriageReturns(s));
      expected.push_back({{"result", withoutCarriageReturns(c)}});
      expected.push_back({{"text", a}});
    }
    const json got = run(script);
    ASSERT_EQ(got.size(), expected.size()) << "batch " << batch;
    for (size_t i = 0; i < got.size(); ++i) {
      ASSERT_EQ(got[i], expected[i]) << "batch " << batch << " value " << i;
    }
  }
}

TEST_F(PageCallsInWebKit, history_usage_and_error_texts_round_trip_as_json) {
  std::mt19937 rng(7);
  json entries = json::array();
  for (int i = 0; i < 400; ++i) {
    entries.push_back({{"raw", randomText(rng)},
                       {"polished", randomText(rng)},
                       {"mode", "Extract"},
                       {"time", 1765000000000 + i}});
  }
  EXPECT_EQ(run(page::injectHistory(entries.dump(2))), json::array({entries}));

  json usage = {{"total_chars", 12}, {"note", randomText(rng) + "'\\\n"}};
  run(page::injectUsageData(usage.dump(4)));
  EXPECT_EQ(json::parse(page.value("window._nativeUsageData").get<std::string>()), usage);

  for (int i = 0; i < 200; ++i) {
    const std::string error = randomText(rng);
    EXPECT_EQ(run("window._llmEditResolve = keep; " + page::resolveLlmEditError(error)),
              json::array({{{"error", withoutCarriageReturns(error)}}}));
  }
}

TEST_F(PageCallsInWebKit, instruction_and_error_report_arrive_intact) {
  EXPECT_TRUE(page.evaluate(page::setEditInstruction("make it 'formal' \\ \xE2\x80\xA8 ok")).ok);
  EXPECT_EQ(page.value("document.getElementById('editInstruction').value"),
            "make it 'formal' \\ \xE2\x80\xA8 ok");
  EXPECT_TRUE(page.evaluate(page::nativeError("Mic can't start:\r\n\\dev\\audio")).ok);
  ASSERT_TRUE(page.waitFor([&] { return !page.alerts().empty(); }));
  EXPECT_EQ(page.alerts().back(), "Mic can't start:\n\\dev\\audio");
}

TEST_F(PageCallsInWebKit, a_mode_holding_script_stays_a_string) {
  const std::string hostile = "x'); window.owned = 1; ('";
  EXPECT_EQ(run(page::updateResult("r", "p", hostile)), json::array({"r", "p", hostile}));
  EXPECT_EQ(run(page::showRawAndStartPolish("r", hostile + "\n")),
            json::array({"r", hostile + "\n"}));
  EXPECT_TRUE(page.value("window.owned === undefined").get<bool>());
}

}  // namespace
}  // namespace quorvel::test
