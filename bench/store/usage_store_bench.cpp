// recordSession on a usage.json that holds ten years of daily entries (3650 days): one whole
// read, parse, update, pretty-print and atomic write (with fsync) per session.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/calendar.h"
#include "platform/file_system.h"
#include "platform/home_directory.h"
#include "store/usage_store.h"

namespace {

class FixedDay final : public quorvel::Calendar {
 public:
  std::string today() const override { return "2036-01-02"; }
};

std::string dayName(int index) {
  // Twelve months of 30-odd days per year are enough to make distinct keys of the real form.
  int year = 2026 + index / 365, dayOfYear = index % 365;
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", year, dayOfYear / 31 + 1, dayOfYear % 31 + 1);
  return text;
}

void BM_RecordSessionOnTenYears(benchmark::State& state) {
  std::string pattern = (std::filesystem::temp_directory_path() / "quorvel-bench-XXXXXX").string();
  std::string root = ::mkdtemp(pattern.data());
  quorvel::FixedHomeDirectory home(root);
  FixedDay calendar;
  quorvel::UsageStore store(home, quorvel::localFileSystem(), calendar);

  nlohmann::json days = nlohmann::json::object();
  for (int i = 0; i < 3650; ++i) days[dayName(i)] = {{"chars", 120 + i % 500}, {"sessions", 3}};
  quorvel::localFileSystem().createDirectories(home.appFolder(), 0700);
  quorvel::localFileSystem().writeFileAtomically(store.usageFile(),
                                                 nlohmann::json({{"month_start", "2036-01-01"},
                                                                 {"chars_used", 1000},
                                                                 {"total_chars", 4000000},
                                                                 {"total_sessions", 11000},
                                                                 {"daily_stats", days}})
                                                     .dump(2),
                                                 0600);
  state.counters["file_bytes"] = static_cast<double>(store.loadRaw()->size());

  for (auto _ : state) store.recordSession(42);

  state.counters["days"] = static_cast<double>(store.load()["daily_stats"].size());
  std::filesystem::remove_all(root);
}
BENCHMARK(BM_RecordSessionOnTenYears)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
