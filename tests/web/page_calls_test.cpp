// The page calls built natively and the bridge shim, both evaluated in WebKitGTK (in the product
// page, whose functions the round trip replaces with stand-ins that keep what they are given).
#include "web/page_calls.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "web/harness.h"

namespace quorvel::testing {
namespace {

using nlohmann::json;
using namespace std::literals;

// Pieces that break a careless literal, between bars: quotes, escapes, line ends and
// separators, NUL and controls, script look-alikes, and characters of several code points.
const std::string kPieces =
    "'|\"|`|\\|\\'|\\\\|\n|\r|\r\n|\t|\u2028|\u2029|\\n|\\u0041|\\x41|${x}|</script>|<img src=x "
    "onerror=alert(1)>|');window.owned=1;//|'}));|\0|\x01|\x1f|\x7F|\uFEFF|\U0001F468\u200D"
    "\U0001F469|e\u0301|\u4F60|a| |{}|/*"s;

std::string randomText(std::mt19937& rng) {
  std::vector<std::string> pieces;
  std::istringstream in(kPieces);
  for (std::string piece; std::getline(in, piece, '|');) pieces.push_back(piece);
  std::string text;
  for (int n = rng() % 13; n > 0; --n) text += pieces[rng() % pieces.size()];
  return text;
}

// The text as the page gets it: carriage returns are the one character the escaping drops (a
// one-line field drops line feeds as well).
std::string shown(std::string text, std::string_view dropped = "\r") {
  std::erase_if(text, [&](char c) { return dropped.find(c) != dropped.npos; });
  return text;
}

// Every text comes back as it went in, with only its carriage returns gone; JSON texts come back
// whole.
TEST(PageCallsInWebKit, thousands_of_random_texts_round_trip_through_every_text_call) {
  PageHarness page;
  ASSERT_TRUE(page.load());
  page.value(
      "window.got = []; for (const f of ['updateResult', 'showRawAndStartPolish', 'setLanguage', "
      "'updateUsage', 'alert']) window[f] = (...a) => got.push(...a); window.keep = v => "
      "got.push(JSON.parse(v)); window.renderHistory = () => got.push(history); "
      "addEventListener('speech_result', e => got.push(e.detail))");
  std::mt19937 rng(20261206);
  for (int batch = 0; batch < 10; ++batch) {
    std::string script;
    json expected = json::array();
    auto call = [&](const std::string& js, json delivered) {
      script += js + ";\n";
      expected.push_back(std::move(delivered));
    };
    for (int i = 0; i < 100; ++i) {
      const std::string a = randomText(rng), b = randomText(rng), c = randomText(rng);
      const json history = json::array({{{"raw", a}, {"time", i}}}), usage = {{"note", b}};
      call(page::speechResultEvent(a), shown(a));
      script += page::updateResult(a, b, c, c) + page::showRawAndStartPolish(b, c);
      expected.insert(expected.end(), {shown(a), shown(b), shown(c), shown(c), shown(b), shown(c)});
      call(page::setLanguage(a), shown(a));
      call("_llmEditResolve = keep;" + page::resolveLlmEditResult(c), {{"result", shown(c)}});
      call("_llmEditResolve = keep;" + page::resolveLlmEditError(b), {{"error", shown(b)}});
      call("_editRecordResolve = keep;" + page::resolveEditRecord(json({{"text", a}}).dump()),
           {{"text", a}});
      call(page::setEditInstruction(b) + "got.push(editInstruction.value)", shown(b, "\r\n"));
      call(page::injectHistory(history.dump(2)), history);
      call(page::refreshUsage(usage.dump(4)), usage);
      call(page::nativeError(c), shown(c));
    }
    ASSERT_EQ(page.value(script + "got.splice(0)"), expected) << "batch " << batch;
  }
  EXPECT_EQ(page.value("window.owned === undefined"), true);
}

// The entries the page's record button, history and retry call are driven through the page
// itself (tests/resources/ui_test.cpp); here: what the others post and answer.
TEST(PageCallsInWebKit, the_bridge_shim_answers_and_posts_as_agreed) {
  PageHarness page;
  ASSERT_TRUE(page.load());
  const std::string zero = R"({"total_chars": 0, "total_sessions": 0, "minutes_saved": 0,
                               "monthly_chars": 0, "daily_stats": {}})";
  const struct {
    std::string usage, call, answer;  // usage: the injected usage text, if any
  } rows[] = {
      {"", "shim.stop_recording(null)", "null"},
      {"", "shim.process_with_ai('hi')", "null"},
      {"",
       "['update_mask', 'update_status_icon', 'hide_panel', 'set_fre_seen', 'set_ui_language']"
       ".map(f => shim[f](1))",
       "[null, null, null, null, null]"},
      {"", "answer(shim.get_api_key)", R"("")"},
      {"", "answer(cb => shim.save_api_key('k', cb))", R"("{\"ok\":true}")"},
      {"", "answer(shim.get_usage)", R"("{\"chars_used\":0}")"},
      {"{\n \"chars_used\": 3\n}", "JSON.parse(shim.get_usage())", R"({"chars_used": 3})"},
      {"", "JSON.parse(answer(shim.get_dashboard_data))", zero},
      {"not json", "JSON.parse(shim.get_dashboard_data())", zero},
      {R"({"total_chars": 0, "chars_used": 123, "total_sessions": 9, "daily_stats": {"d": 1}})",
       "JSON.parse(shim.get_dashboard_data())",
       R"({"total_chars": 123, "total_sessions": 9, "minutes_saved": 0.6, "monthly_chars": 123,
           "daily_stats": {"d": 1}})"},
  };
  page.value(
      "window.shim = pywebview.api; window.answer = f => { let v; f(a => v = a); return v; }");
  for (const auto& row : rows) {
    page.value(row.usage.empty() ? "window._nativeUsageData = undefined"
                                 : page::injectUsageData(row.usage));
    EXPECT_EQ(page.value(row.call), json::parse(row.answer)) << row.call;
  }
  // Of these entries only the first two post. An edit answer settles only the request of its
  // id; the spoken instruction's promise is waiting before its request goes out.
  page.value(
      "window.got = []; for (const t of ['a', 'b']) shim.llm_edit(t, 'i').then(v => "
      "got.push(t + v)); shim.start_edit_recording(); shim.stop_edit_recording().then(v "
      "=> got.push(v));" +
      page::resolveLlmEditResult("old", 1) + page::resolveLlmEditResult("new", 2) +
      page::resolveLlmEditResult("again", 2) + page::resolveEditRecord("{}"));
  EXPECT_EQ(page.value("got"), json::array({"b{\"result\":\"new\"}", "{}"}));
  EXPECT_EQ(json(page.messages), json::parse(R"([{"action": "stop_recording", "mode": ""},
      {"action": "process_with_ai", "text": "hi"},
      {"action": "llm_edit", "text": "a", "instruction": "i", "request_id": 1},
      {"action": "llm_edit", "text": "b", "instruction": "i", "request_id": 2},
      {"action": "start_edit_recording"}, {"action": "stop_edit_recording"}])"));
}

}  // namespace
}  // namespace quorvel::testing
