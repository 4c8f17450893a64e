// The bridge shim in WebKitGTK: what each entry posts through the "pywebview" handler and what
// the usage entries answer.
#include <gtest/gtest.h>

#include <string>

#include "web/harness.h"
#include "web/page_calls.h"

namespace quorvel::test {
namespace {

using nlohmann::json;

class BridgeShim : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(page.loadBlank()); }

  // Runs a call and returns exactly the messages it posted.
  std::vector<json> postedBy(const std::string& call) {
    page.clearMessages();
    ScriptOutcome outcome = page.evaluate(call + "; undefined");
    EXPECT_TRUE(outcome.ok) << call << ": " << outcome.error;
    page.settle();
    return page.messages();
  }

  PageHarness page;
};

TEST_F(BridgeShim, each_posting_entry_posts_exactly_its_members) {
  const auto api = [](const std::string& call) { return "window.pywebview.api." + call; };
  EXPECT_EQ(postedBy(api("start_recording()")),
            std::vector<json>{json({{"action", "start_recording"}})});
  EXPECT_EQ(postedBy(api("stop_recording('Extract')")),
            std::vector<json>{json({{"action", "stop_recording"}, {"mode", "Extract"}})});
  EXPECT_EQ(postedBy(api("process_with_ai('hi')")),
            std::vector<json>{json({{"action", "process_with_ai"}, {"text", "hi"}})});
  EXPECT_EQ(postedBy(api("save_history('[{\"raw\":\"a\"}]')")),
            std::vector<json>{json({{"action", "save_history"}, {"data", "[{\"raw\":\"a\"}]"}})});
  EXPECT_EQ(postedBy(api("start_edit_recording()")),
            std::vector<json>{json({{"action", "start_edit_recording"}})});
  EXPECT_EQ(postedBy(api("stop_edit_recording()")),
            std::vector<json>{json({{"action", "stop_edit_recording"}})});
  EXPECT_EQ(postedBy(api("retry_polish('r', '')")),
            std::vector<json>{json({{"action", "retry_polish"}, {"raw", "r"}, {"mode", ""}})});
  EXPECT_EQ(postedBy(api("llm_edit('t', 'make it short')")),
            std::vector<json>{json({{"action", "llm_edit"},
                                    {"text", "t"},
                                    {"instruction", "make it short"},
                                    {"request_id", 1}})});
}

TEST_F(BridgeShim, stop_recording_without_a_mode_posts_the_empty_mode) {
  const json empty = json({{"action", "stop_recording"}, {"mode", ""}});
  EXPECT_EQ(postedBy("window.pywebview.api.stop_recording()"), std::vector<json>{empty});
  EXPECT_EQ(postedBy("window.pywebview.api.stop_recording(null)"), std::vector<json>{empty});
}

TEST_F(BridgeShim, entries_without_a_route_post_nothing_and_answer_their_callbacks) {
  EXPECT_TRUE(postedBy("var api = window.pywebview.api; api.update_mask(1); "
                       "api.update_status_icon(1); api.hide_panel(); api.set_fre_seen(); "
                       "api.set_ui_language('zh'); api.get_api_key(); api.save_api_key('k')")
                  .empty());
  EXPECT_EQ(page.value("var got; window.pywebview.api.get_api_key(function (v) { got = v; }); got"),
            "");
  EXPECT_EQ(page.value("var got; window.pywebview.api.save_api_key('sk', function (v) { got = v; "
                       "}); got"),
            "{\"ok\":true}");
}

TEST_F(BridgeShim, promises_store_their_resolver_before_posting_and_native_answers_settle_them) {
  page.value(
      "window.got = null; window.pywebview.api.llm_edit('t', 'i').then(function (v) { "
      "window.got = v; }); typeof window._llmEditResolve");
  EXPECT_EQ(page.value("typeof window._llmEditResolve"), "function");
  page.value(page::resolveLlmEditError("can't reach \\ host\nnow"));
  ASSERT_TRUE(page.waitFor([&] { return !page.value("window.got").is_null(); }));
  EXPECT_EQ(json::parse(page.value("window.got").get<std::string>()),
            json({{"error", "can't reach \\ host\nnow"}}));
  EXPECT_TRUE(page.value("window._llmEditResolve").is_null());

  page.value(
      "window.got = null; window.pywebview.api.stop_edit_recording().then(function (v) { "
      "window.got = v; }); 0");
  page.value(page::resolveEditRecord(json({{"text", "it's a \\ path"}}).dump()));
  ASSERT_TRUE(page.waitFor([&] { return !page.value("window.got").is_null(); }));
  EXPECT_EQ(json::parse(page.value("window.got").get<std::string>()),
            json({{"text", "it's a \\ path"}}));
  EXPECT_TRUE(page.value("window._editRecordResolve").is_null());
  // An answer with no pending promise does nothing.
  EXPECT_TRUE(page.evaluate(page::resolveLlmEditResult("late")).ok);
}

TEST_F(BridgeShim, an_edit_answer_settles_only_the_request_that_asked_for_it) {
  page.value(
      "window.got = []; var api = window.pywebview.api; "
      "api.llm_edit('a', 'i').then(function (v) { got.push('first ' + v); }); "
      "api.llm_edit('b', 'i').then(function (v) { got.push('second ' + v); }); 0");
  page.value(page::resolveLlmEditResult("old", 1));  // the older request's late answer
  page.value(page::resolveLlmEditResult("new", 2));
  ASSERT_TRUE(page.waitFor([&] { return page.value("got.length").get<int>() > 0; }));
  page.settle();
  EXPECT_EQ(page.value("got"), json::array({"second {\"result\":\"new\"}"}));
}

class DashboardData : public BridgeShim {
 protected:
  json dashboardFor(const std::string& usageText) {
    page.value(page::injectUsageData(usageText));
    return json::parse(page.value("window.pywebview.api.get_dashboard_data()").get<std::string>());
  }
};

TEST_F(DashboardData, answers_all_zero_before_usage_is_injected) {
  EXPECT_EQ(page.value("window.pywebview.api.get_dashboard_data()"),
            "{\"total_chars\":0,\"total_sessions\":0,\"minutes_saved\":0,\"monthly_chars\":0,"
            "\"daily_stats\":{}}");
  EXPECT_EQ(page.value("var got; window.pywebview.api.get_usage(function (v) { got = v; }); got"),
            "{\"chars_used\":0}");
}

TEST_F(DashboardData, computes_minutes_saved_and_falls_back_to_the_month) {
  EXPECT_EQ(dashboardFor("{\"total_chars\": 1000}")["minutes_saved"], 5);
  EXPECT_EQ(dashboardFor("{\"total_chars\": 123}")["minutes_saved"], 0.6);
  const json fromMonth = dashboardFor("{\"total_chars\": 0, \"chars_used\": 500}");
  EXPECT_EQ(fromMonth["total_chars"], 500);
  EXPECT_EQ(fromMonth["monthly_chars"], 500);
  EXPECT_EQ(dashboardFor("{\"chars_used\": 500}")["total_chars"], 500);
}

TEST_F(DashboardData, passes_sessions_and_days_through_in_member_order) {
  const std::string pretty =
      "{\n  \"chars_used\" : 40,\n  \"daily_stats\" : {\n    \"2026-12-06\" : {\n"
      "      \"chars\" : 40,\n      \"sessions\" : 2\n    }\n  },\n  \"total_chars\" : 400,\n"
      "  \"total_sessions\" : 9\n}";
  page.value(page::injectUsageData(pretty));
  EXPECT_EQ(page.value("window.pywebview.api.get_dashboard_data()"),
            "{\"total_chars\":400,\"total_sessions\":9,\"minutes_saved\":2,\"monthly_chars\":40,"
            "\"daily_stats\":{\"2026-12-06\":{\"chars\":40,\"sessions\":2}}}");
  EXPECT_EQ(json::parse(page.value("window.pywebview.api.get_usage()").get<std::string>()),
            json::parse(pretty));
}

TEST_F(DashboardData, unreadable_usage_answers_all_zero_instead_of_throwing) {
  EXPECT_EQ(dashboardFor("not json")["total_chars"], 0);
  EXPECT_EQ(dashboardFor("null")["daily_stats"], json::object());
}

}  // namespace
}  // namespace quorvel::test
