// The bridge shim in WebKitGTK. The entries the page calls are driven through the page itself
// (tests/resources/ui_test.cpp); here: what the other entries post and answer, and which edit
// request a late answer settles.
#include <gtest/gtest.h>

#include "web/harness.h"
#include "web/page_calls.h"

namespace quorvel::testing {
namespace {

using nlohmann::json;

class BridgeShim : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(page.load(false));
    page.value(
        "window.api = window.pywebview.api; window.answer = function (f) { var got; f(function "
        "(v) { got = v; }); return got; }; 0");
  }
  PageHarness page;
};

TEST_F(BridgeShim, entries_the_page_does_not_call_post_and_answer_as_agreed) {
  const json zero = {{"total_chars", 0},
                     {"total_sessions", 0},
                     {"minutes_saved", 0},
                     {"monthly_chars", 0},
                     {"daily_stats", json::object()}};
  const json days = {{"2026-12-06", {{"chars", 40}}}};
  const struct {
    std::string usage, call;  // usage: the injected usage text, empty for none
    json answer;
    std::vector<json> posted;
  } rows[] = {
      {"", "api.stop_recording(null)", nullptr, {{{"action", "stop_recording"}, {"mode", ""}}}},
      {"", "api.process_with_ai('hi')", nullptr, {{{"action", "process_with_ai"}, {"text", "hi"}}}},
      {"",
       "[api.update_mask(1), api.update_status_icon(1), api.hide_panel(), api.set_fre_seen(), "
       "api.set_ui_language('zh')].length",
       5,
       {}},
      {"", "answer(api.get_api_key)", "", {}},
      {"", "answer(cb => api.save_api_key('k', cb))", R"({"ok":true})", {}},
      {"", "answer(api.get_usage)", R"({"chars_used":0})", {}},
      {"{\n \"chars_used\": 3\n}", "JSON.parse(api.get_usage())", {{"chars_used", 3}}, {}},
      {"", "JSON.parse(answer(api.get_dashboard_data))", zero, {}},
      {"not json", "JSON.parse(api.get_dashboard_data())", zero, {}},
      {"null", "JSON.parse(api.get_dashboard_data())", zero, {}},
      {"{\"total_chars\": 123}", "JSON.parse(api.get_dashboard_data()).minutes_saved", 0.6, {}},
      {R"({"total_chars": 0, "chars_used": 500, "total_sessions": 9, "daily_stats": )" +
           days.dump() + "}",
       "JSON.parse(api.get_dashboard_data())",
       {{"total_chars", 500},
        {"total_sessions", 9},
        {"minutes_saved", 2.5},
        {"monthly_chars", 500},
        {"daily_stats", days}},
       {}},
  };
  for (const auto& row : rows) {
    page.value(row.usage.empty() ? "window._nativeUsageData = undefined; 0"
                                 : page::injectUsageData(row.usage) + " 0");
    page.messages.clear();
    EXPECT_EQ(page.value(row.call), row.answer) << row.call;
    page.settle();
    EXPECT_EQ(page.messages, row.posted) << row.call;
  }
}

TEST_F(BridgeShim, an_edit_answer_settles_only_the_request_that_asked_for_it) {
  page.value(
      "window.got = []; api.llm_edit('a', 'i').then(v => got.push('first ' + v)); "
      "api.llm_edit('b', 'i').then(v => got.push('second ' + v)); 0");
  page.value(page::resolveLlmEditResult("old", 1));  // the older request's late answer
  page.value(page::resolveLlmEditResult("new", 2));
  page.value(page::resolveLlmEditResult("again", 2));  // nothing pending any more: no effect
  ASSERT_TRUE(runUntil([&] { return page.value("got.length") == 1; }));
  page.settle();
  EXPECT_EQ(page.value("got"), json::array({"second {\"result\":\"new\"}"}));
}

}  // namespace
}  // namespace quorvel::testing
