#include "store/usage_store.h"

#include <gtest/gtest.h>

#include <limits>
#include <thread>
#include <vector>

#include "fakes/failing_file_system.h"
#include "fakes/fixed_calendar.h"
#include "fakes/temp_home.h"

namespace quorvel {
namespace {

using namespace quorvel::testing;
using json = nlohmann::json;
constexpr int64_t kMax = std::numeric_limits<int64_t>::max();

class UsageStoreTest : public ::testing::Test {
 protected:
  json stored() { return json::parse(home.get("usage.json").value_or("null")); }
  void put(const json& record) { home.put("usage.json", record.dump()); }
  static json day(int64_t chars, int64_t sessions) {
    return {{"chars", chars}, {"sessions", sessions}};
  }

  TempHome home;
  FixedCalendar calendar{"2026-03-05"};
  FailingFileSystem files{localFileSystem()};
  UsageStore store{home, files, calendar};
};

TEST_F(UsageStoreTest, counts_sessions_per_day_month_and_in_total_in_a_private_file) {
  store.recordSession(12);
  store.recordSession(8);
  EXPECT_EQ(stored(), json({{"month_start", "2026-03-01"},
                            {"chars_used", 20},
                            {"total_chars", 20},
                            {"total_sessions", 2},
                            {"daily_stats", {{"2026-03-05", day(20, 2)}}}}));
  EXPECT_NE(home.get("usage.json")->find("\n  \"chars_used\": 20"), std::string::npos);
  EXPECT_EQ(home.mode(home.appFolder()), 0700u);
  EXPECT_EQ(home.mode(home.file("usage.json")), 0600u);
  calendar.set("2026-04-01");
  store.recordSession(5);
  EXPECT_EQ(stored(),
            json({{"month_start", "2026-04-01"},
                  {"chars_used", 5},
                  {"total_chars", 25},
                  {"total_sessions", 3},
                  {"daily_stats", {{"2026-03-05", day(20, 2)}, {"2026-04-01", day(5, 1)}}}}));
}

TEST_F(UsageStoreTest, odd_counters_restart_or_count_as_zero_and_full_ones_stay_at_the_maximum) {
  const std::pair<json, json> rows[] = {
      {{{"chars_used", 100}, {"total_chars", 100}, {"total_sessions", 4}, {"theme_seen", true}},
       {{"month_start", "2026-03-01"},
        {"chars_used", 3},
        {"total_chars", 103},
        {"total_sessions", 5},
        {"theme_seen", true},
        {"daily_stats", {{"2026-03-05", day(3, 1)}}}}},
      {{{"month_start", "2026-03-01"},
        {"chars_used", "40"},
        {"total_chars", 2.5},
        {"total_sessions", nullptr},
        {"daily_stats", {{"2026-03-05", {{"sessions", 2}}}}}},
       {{"month_start", "2026-03-01"},
        {"chars_used", 3},
        {"total_chars", 3},
        {"total_sessions", 1},
        {"daily_stats", {{"2026-03-05", day(3, 3)}}}}},
      {{{"month_start", "2026-03-01"},
        {"chars_used", kMax - 1},
        {"total_chars", json::parse("18446744073709551615")},
        {"total_sessions", kMax},
        {"daily_stats", {{"2026-03-05", day(kMax, kMax - 1)}}}},
       {{"month_start", "2026-03-01"},
        {"chars_used", kMax},
        {"total_chars", kMax},
        {"total_sessions", kMax},
        {"daily_stats", {{"2026-03-05", day(kMax, kMax)}}}}},
  };
  for (const auto& [before, after] : rows) {
    put(before);
    store.recordSession(3);
    EXPECT_EQ(stored(), after) << before;
  }
  EXPECT_TRUE(home.startingWith("usage.json.unreadable-").empty());
}

TEST_F(UsageStoreTest, unreadable_file_or_day_table_is_set_aside_before_it_is_replaced) {
  home.put("usage.json", "{\"total_chars\": 99999, ");
  store.recordSession(4);
  EXPECT_EQ(stored()["total_chars"], 4);
  auto aside = home.startingWith("usage.json.unreadable-");
  ASSERT_EQ(aside.size(), 1u);
  EXPECT_EQ(aside.begin()->second, "{\"total_chars\": 99999, ");
  store.recordSession(1);
  EXPECT_EQ(home.startingWith("usage.json.unreadable-").size(), 1u);
  put({{"month_start", "2026-03-01"},
       {"total_chars", 70},
       {"daily_stats", {{"2026-03-01", {{"chars", "seven"}, {"sessions", 1}}}}}});
  store.recordSession(1);
  EXPECT_EQ(stored()["total_chars"], 71);
  EXPECT_EQ(stored()["daily_stats"], json({{"2026-03-05", day(1, 1)}}));
  EXPECT_EQ(home.startingWith("usage.json.unreadable-").size(), 2u);
}

TEST_F(UsageStoreTest,
       interrupted_write_keeps_the_previous_counts_and_broken_files_read_as_nothing) {
  store.recordSession(12);
  files.failWrites = true;
  EXPECT_EQ(store.recordSession(8).error, "No space left on device");
  EXPECT_EQ(store.load()["total_chars"], 12);
  for (const char* text : {"", "[1,2]", "{\"x\":\"\xff\"}"}) {
    home.put("usage.json", text);
    EXPECT_EQ(store.load(), json::object()) << text;
    EXPECT_EQ(store.loadRaw(),
              std::string(text) == "[1,2]" ? std::optional<std::string>(text) : std::nullopt);
  }
}

TEST_F(UsageStoreTest, sessions_recorded_from_many_threads_are_all_counted) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([this] {
      for (int i = 0; i < 10; ++i) store.recordSession(2);
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(stored()["daily_stats"]["2026-03-05"], day(160, 80));
  EXPECT_EQ(stored()["total_sessions"], 80);
}

}  // namespace
}  // namespace quorvel
