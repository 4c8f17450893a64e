// The stores against a process that dies at any moment: a forked writer saves the history,
// counts a session and changes a setting, over and over, through the real file system, and is
// killed with SIGKILL at a random moment, hundreds of times. After every kill each file reads
// whole and holds either what the writer last reported writing or the write it was in the
// middle of; nothing is ever set aside as unreadable, and no other key of config.json is lost.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <thread>

#include "fakes/fake_http_client.h"
#include "fakes/fixed_calendar.h"
#include "fakes/recording_console.h"
#include "fakes/temp_home.h"
#include "platform/file_system.h"
#include "polish/deepseek_polisher.h"
#include "store/history_store.h"
#include "store/usage_store.h"

namespace quorvel {
namespace {

using namespace quorvel::testing;
using json = nlohmann::json;

constexpr int kKills = 500;
constexpr int64_t kCharsPerSession = 10;

// Long enough that a write is more than one block.
std::string historyText(int64_t step) {
  json entries = json::array();
  for (int i = 0; i < 40; ++i) {
    entries.push_back({{"raw", "entry " + std::to_string(i) + " of step " + std::to_string(step)},
                       {"polished", std::string(120, static_cast<char>('a' + step % 26))}});
  }
  return entries.dump();
}

int64_t numberIn(const std::optional<std::string>& text, const char* key) {
  auto parsed = json::parse(text.value_or("{}"), nullptr, false);
  auto found = parsed.is_object() ? parsed.find(key) : parsed.end();
  if (found == parsed.end()) return 0;
  if (found->is_string()) return std::stoll(found->get<std::string>());
  return found->get<int64_t>();
}

// The writer: runs in the forked child until it is killed. Each finished write is reported
// as one line "<store> <value>" on `report`.
[[noreturn]] void writeForever(const TempHome& home, int report) {
  FileSystem& files = localFileSystem();
  FixedCalendar calendar{"2026-12-06"};
  FakeHttpClient http;
  RecordingConsole console;
  DeepSeekPolisher polisher{home, files, http, console};
  HistoryStore history{home, files};
  UsageStore usage{home, files, calendar};
  auto tell = [report](const char* store, int64_t value) {
    std::string line = std::string(store) + " " + std::to_string(value) + "\n";
    if (::write(report, line.data(), line.size()) < 0) ::_exit(1);
  };
  for (;;) {
    int64_t step = numberIn(files.readFile(polisher.configFile()), "kill_test_step") + 1;
    history.save(historyText(step));
    tell("history", step);
    usage.recordSession(kCharsPerSession);
    tell("usage", numberIn(files.readFile(usage.usageFile()), "total_sessions"));
    polisher.updateConfig("kill_test_step", std::to_string(step));
    tell("config", step);
  }
}

TEST(StoreKillConsistency, every_file_reads_whole_as_the_old_or_the_new_content_after_each_kill) {
  TempHome home;
  home.put("config.json", R"({"deepseek_api_key": "sk-keep", "theme": "dark"})");
  std::mt19937 random(20261207);
  std::map<std::string, int64_t> reported = {{"history", 0}, {"usage", 0}, {"config", 0}};
  int unreportedWrites = 0;

  for (int kill = 0; kill < kKills; ++kill) {
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ::close(pipeFds[0]);
      writeForever(home, pipeFds[1]);
    }
    ::close(pipeFds[1]);
    FILE* reports = ::fdopen(pipeFds[0], "r");
    ASSERT_NE(reports, nullptr);
    char line[128];
    auto readReport = [&] {
      if (std::fgets(line, sizeof line, reports) == nullptr) return false;
      char store[16];
      long long value = 0;
      if (std::sscanf(line, "%15s %lld", store, &value) == 2) reported[store] = value;
      return true;
    };
    // The moment of the kill is the test's random input: a few finished writes, then a delay
    // shorter than one write, so that most kills land inside a write.
    for (int wait = std::uniform_int_distribution<int>(0, 3)(random); wait > 0; --wait) {
      ASSERT_TRUE(readReport()) << "the writer stopped by itself";
    }
    std::this_thread::sleep_for(
        std::chrono::microseconds(std::uniform_int_distribution<int>(0, 1500)(random)));
    ASSERT_EQ(::kill(child, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "status " << status;
    while (readReport()) {
    }
    std::fclose(reports);

    SCOPED_TRACE("kill " + std::to_string(kill));
    // History: the last reported text or the next step's.
    auto historyBytes = home.get("history.json");
    if (reported["history"] == 0 && !historyBytes) continue;
    ASSERT_TRUE(historyBytes);
    bool historyIsLast = *historyBytes == historyText(reported["history"]);
    bool historyIsNext = *historyBytes == historyText(reported["history"] + 1);
    ASSERT_TRUE(historyIsLast || historyIsNext);
    if (historyIsNext) reported["history"] += 1;

    // Usage: a whole record, each counter telling the same number of sessions.
    auto usageBytes = home.get("usage.json");
    if (usageBytes) {
      json usage = json::parse(*usageBytes, nullptr, false);
      ASSERT_TRUE(usage.is_object()) << *usageBytes;
      int64_t sessions = usage["total_sessions"].get<int64_t>();
      ASSERT_TRUE(sessions == reported["usage"] || sessions == reported["usage"] + 1);
      EXPECT_EQ(usage["total_chars"], sessions * kCharsPerSession);
      EXPECT_EQ(usage["chars_used"], sessions * kCharsPerSession);
      EXPECT_EQ(usage["daily_stats"]["2026-12-06"]["sessions"], sessions);
      unreportedWrites += sessions != reported["usage"];
      reported["usage"] = sessions;
    }

    // Config: the user's keys are kept beside the setting being written.
    json config = json::parse(home.get("config.json").value_or(""), nullptr, false);
    ASSERT_TRUE(config.is_object());
    EXPECT_EQ(config["deepseek_api_key"], "sk-keep");
    EXPECT_EQ(config["theme"], "dark");
    int64_t step = config.contains("kill_test_step")
                       ? std::stoll(config["kill_test_step"].get<std::string>())
                       : 0;
    ASSERT_TRUE(step == reported["config"] || step == reported["config"] + 1);
    reported["config"] = step;

    ASSERT_EQ(home.countStartingWith("config.json.unreadable"), 0);
    ASSERT_EQ(home.countStartingWith("usage.json.unreadable"), 0);
  }
  // The writer got far enough to have been killed in every kind of write.
  EXPECT_GT(reported["config"], kKills / 4);
  EXPECT_GT(unreportedWrites, 0);

  // A write cut short leaves only its hidden temporary file behind, never more than one a kill.
  int leftovers = 0;
  for (const auto& entry : std::filesystem::directory_iterator(home.appSupport())) {
    leftovers += entry.path().filename().string().rfind('.', 0) == 0;
  }
  EXPECT_LE(leftovers, kKills);
  std::printf("kills: %d, steps written: %lld, sessions counted: %lld, temporary files left: %d\n",
              kKills, static_cast<long long>(reported["config"]),
              static_cast<long long>(reported["usage"]), leftovers);
}

}  // namespace
}  // namespace quorvel
