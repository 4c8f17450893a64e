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

  TempHome home;
  FixedCalendar calendar{"2026-03-05"};
  UsageStore store{home, localFileSystem(), calendar};
};

TEST_F(UsageStoreTest, first_session_starts_the_month_the_totals_and_the_day) {
  store.recordSession(12);
  EXPECT_EQ(stored(), json({{"month_start", "2026-03-01"},
                            {"chars_used", 12},
                            {"total_chars", 12},
                            {"total_sessions", 1},
                            {"daily_stats", {{"2026-03-05", {{"chars", 12}, {"sessions", 1}}}}}}));
  EXPECT_NE(home.get("usage.json")->find("\n  \"chars_used\": 12"), std::string::npos);
  EXPECT_EQ(home.mode(home.appSupport()), 0700u);
  EXPECT_EQ(home.mode(home.file("usage.json")), 0600u);
}

TEST_F(UsageStoreTest, second_session_of_the_day_adds_to_every_counter) {
  store.recordSession(12);
  store.recordSession(8);
  auto record = stored();
  EXPECT_EQ(record["chars_used"], 20);
  EXPECT_EQ(record["total_chars"], 20);
  EXPECT_EQ(record["total_sessions"], 2);
  EXPECT_EQ(record["daily_stats"], json({{"2026-03-05", {{"chars", 20}, {"sessions", 2}}}}));
}

TEST_F(UsageStoreTest, new_month_restarts_chars_used_and_keeps_totals_and_earlier_days) {
  store.recordSession(12);
  calendar.set("2026-03-31");
  store.recordSession(8);
  calendar.set("2026-04-01");
  store.recordSession(5);
  auto record = stored();
  EXPECT_EQ(record["month_start"], "2026-04-01");
  EXPECT_EQ(record["chars_used"], 5);
  EXPECT_EQ(record["total_chars"], 25);
  EXPECT_EQ(record["total_sessions"], 3);
  EXPECT_EQ(record["daily_stats"].size(), 3u);
  EXPECT_EQ(record["daily_stats"]["2026-03-31"], json({{"chars", 8}, {"sessions", 1}}));
}

TEST_F(UsageStoreTest, missing_month_start_restarts_chars_used_but_not_the_totals) {
  put({{"chars_used", 100}, {"total_chars", 100}, {"total_sessions", 4}, {"theme_seen", true}});
  store.recordSession(3);
  auto record = stored();
  EXPECT_EQ(record["month_start"], "2026-03-01");
  EXPECT_EQ(record["chars_used"], 3);
  EXPECT_EQ(record["total_chars"], 103);
  EXPECT_EQ(record["total_sessions"], 5);
  EXPECT_EQ(record["theme_seen"], true);
}

TEST_F(UsageStoreTest, counters_that_are_not_integers_count_as_zero_and_become_integers) {
  put({{"month_start", "2026-03-01"},
       {"chars_used", "40"},
       {"total_chars", 2.5},
       {"total_sessions", nullptr},
       {"daily_stats", {{"2026-03-05", {{"sessions", 2}}}}}});
  store.recordSession(0);
  auto record = stored();
  EXPECT_EQ(record["chars_used"], 0);
  EXPECT_TRUE(record["chars_used"].is_number_integer());
  EXPECT_EQ(record["total_chars"], 0);
  EXPECT_TRUE(record["total_chars"].is_number_integer());
  EXPECT_EQ(record["total_sessions"], 1);
  EXPECT_EQ(record["daily_stats"]["2026-03-05"], json({{"chars", 0}, {"sessions", 3}}));
}

TEST_F(UsageStoreTest, counters_stop_at_the_largest_64_bit_value) {
  put({{"month_start", "2026-03-01"},
       {"chars_used", kMax - 1},
       {"total_chars", json::parse("18446744073709551615")},
       {"total_sessions", kMax},
       {"daily_stats", {{"2026-03-05", {{"chars", kMax}, {"sessions", kMax - 1}}}}}});
  store.recordSession(10);
  auto record = stored();
  EXPECT_EQ(record["chars_used"], kMax);
  EXPECT_EQ(record["total_chars"], kMax);
  EXPECT_EQ(record["total_sessions"], kMax);
  EXPECT_EQ(record["daily_stats"]["2026-03-05"], json({{"chars", kMax}, {"sessions", kMax}}));
  store.recordSession(kMax);
  EXPECT_EQ(stored()["total_chars"], kMax);
}

TEST_F(UsageStoreTest, unreadable_file_is_set_aside_before_it_is_replaced) {
  home.put("usage.json", "{\"total_chars\": 99999, ");
  store.recordSession(4);
  EXPECT_EQ(stored()["total_chars"], 4);
  ASSERT_EQ(home.countStartingWith("usage.json.unreadable-"), 1);
  EXPECT_EQ(home.getStartingWith("usage.json.unreadable-"), "{\"total_chars\": 99999, ");
  store.recordSession(1);
  EXPECT_EQ(home.countStartingWith("usage.json.unreadable-"), 1);
}

TEST_F(UsageStoreTest, day_table_of_another_shape_is_set_aside_and_restarted) {
  const json record = {{"month_start", "2026-03-01"},
                       {"chars_used", 7},
                       {"total_chars", 70},
                       {"total_sessions", 7},
                       {"daily_stats", {{"2026-03-01", {{"chars", "seven"}, {"sessions", 1}}}}}};
  put(record);
  store.recordSession(1);
  auto now = stored();
  EXPECT_EQ(now["total_chars"], 71);
  EXPECT_EQ(now["daily_stats"], json({{"2026-03-05", {{"chars", 1}, {"sessions", 1}}}}));
  EXPECT_EQ(home.countStartingWith("usage.json.unreadable-"), 1);
}

TEST_F(UsageStoreTest, interrupted_write_keeps_the_previous_counts) {
  FailingFileSystem files(localFileSystem());
  UsageStore failing(home, files, calendar);
  failing.recordSession(12);
  std::string before = *home.get("usage.json");
  files.failWrites = true;
  EXPECT_EQ(failing.recordSession(8).error, "No space left on device");
  EXPECT_EQ(home.get("usage.json"), before);
  EXPECT_EQ(failing.load()["total_chars"], 12);
}

TEST_F(UsageStoreTest, raw_text_and_record_read_missing_empty_and_broken_files_as_nothing) {
  EXPECT_FALSE(store.loadRaw());
  EXPECT_EQ(store.load(), json::object());
  home.put("usage.json", "");
  EXPECT_FALSE(store.loadRaw());
  EXPECT_EQ(store.load(), json::object());
  home.put("usage.json", "[1,2]");
  EXPECT_EQ(store.loadRaw(), "[1,2]");
  EXPECT_EQ(store.load(), json::object());
  home.put("usage.json", "{\"x\":\"\xff\"}");
  EXPECT_FALSE(store.loadRaw());
  EXPECT_EQ(store.load(), json::object());
}

TEST_F(UsageStoreTest, save_writes_the_whole_record_and_keeps_an_unreadable_file) {
  home.put("usage.json", "garbage");
  store.save({{"total_chars", 5}, {"extra", {1, 2}}});
  EXPECT_EQ(store.load(), json({{"total_chars", 5}, {"extra", {1, 2}}}));
  EXPECT_EQ(store.loadRaw(), home.get("usage.json"));
  EXPECT_EQ(home.countStartingWith("usage.json.unreadable-"), 1);
}

TEST_F(UsageStoreTest, sessions_recorded_from_many_threads_are_all_counted) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([this] {
      for (int i = 0; i < 10; ++i) store.recordSession(2);
    });
  }
  for (auto& thread : threads) thread.join();
  auto record = stored();
  EXPECT_EQ(record["total_sessions"], 80);
  EXPECT_EQ(record["total_chars"], 160);
  EXPECT_EQ(record["daily_stats"]["2026-03-05"]["sessions"], 80);
}

}  // namespace
}  // namespace quorvel
