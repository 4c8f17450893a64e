#include "store/usage_store.h"

#include <gtest/gtest.h>

#include <limits>
#include <tuple>

#include "fakes/fixed_calendar.h"
#include "fakes/temp_home.h"

namespace quorvel {
namespace {

using json = nlohmann::json;
constexpr int64_t kMax = std::numeric_limits<int64_t>::max();

json day(int64_t chars, int64_t sessions) {
  return {{"chars", chars}, {"sessions", sessions}};
}

json record(const char* month, int64_t used, json total, int64_t sessions, const json& days) {
  return {{"month_start", month},
          {"chars_used", used},
          {"total_chars", total},
          {"total_sessions", sessions},
          {"daily_stats", days}};
}

TEST(UsageStore, counts_a_session_into_its_day_its_month_and_the_totals) {
  // usage.json before and after a session of 3 characters on 2026-03-05; copies set aside.
  const std::tuple<json, json, size_t> rows[] = {
      // A new month: its count starts over; the totals and earlier days stay.
      {record("2026-02-01", 50, 50, 2, {{"2026-02-27", day(50, 2)}}),
       record("2026-03-01", 3, 53, 3, {{"2026-02-27", day(50, 2)}, {"2026-03-05", day(3, 1)}}), 0},
      // The same day: full counters stay at the largest value instead of wrapping.
      {record("2026-03-01", kMax - 1, json::parse("18446744073709551615"), kMax,
              {{"2026-03-05", day(kMax, kMax - 1)}}),
       record("2026-03-01", kMax, kMax, kMax, {{"2026-03-05", day(kMax, kMax)}}), 0},
      // An unreadable day table is kept aside and starts over; the totals stay.
      {{{"month_start", "2026-03-01"},
        {"total_chars", 70},
        {"daily_stats", {{"2026-03-01", {{"chars", "seven"}}}}}},
       record("2026-03-01", 3, 73, 1, {{"2026-03-05", day(3, 1)}}),
       1},
  };
  testing::FixedCalendar calendar{"2026-03-05"};
  for (const auto& [before, after, setAside] : rows) {
    testing::TempHome home;
    UsageStore store{home, localFileSystem(), calendar};
    home.put("usage.json", before.dump());
    store.recordSession(3);
    EXPECT_EQ(store.load(), after) << before;
    EXPECT_EQ(home.startingWith("usage.json.unreadable-").size(), setAside);
  }
}

}  // namespace
}  // namespace quorvel
