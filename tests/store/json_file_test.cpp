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
#include "polish/deepseek_polisher.h"
#include "store/history_store.h"
#include "store/usage_store.h"

namespace quorvel {
namespace {

using namespace quorvel::testing;
using json = nlohmann::json;
constexpr int kKills = 500;

// Long enough that a write is more than one block.
std::string historyText(int64_t step) {
  return std::to_string(step) +
         json(std::vector<std::string>(40, std::string(120, static_cast<char>('a' + step % 26))))
             .dump();
}

// The writer: runs in the forked child until it is killed. Each finished write is reported
// as one line "<store> <value>" on `report`.
[[noreturn]] void writeForever(const TempHome& home, int report) {
  FixedCalendar calendar{"2026-12-06"};
  FakeHttpClient http;
  RecordingConsole console;
  DeepSeekPolisher polisher{home, localFileSystem(), http, console};
  HistoryStore history{home, localFileSystem()};
  UsageStore usage{home, localFileSystem(), calendar};
  auto tell = [report](const char* store, int64_t value) {
    std::string line = std::string(store) + " " + std::to_string(value) + "\n";
    if (::write(report, line.data(), line.size()) < 0) ::_exit(1);
  };
  for (;;) {
    int64_t step = std::stoll(polisher.readConfig().value("kill_test_step", std::string("0"))) + 1;
    history.save(historyText(step));
    tell("history", step);
    usage.recordSession(10);
    tell("usage", usage.load()["total_sessions"].get<int64_t>());
    polisher.updateConfig("kill_test_step", std::to_string(step));
    tell("config", step);
  }
}

TEST(StoreKillConsistency, every_file_reads_whole_as_the_old_or_the_new_content_after_each_kill) {
  TempHome home;
  home.put("config.json", R"({"deepseek_api_key": "sk-keep", "theme": "dark"})");
  std::mt19937 random(20261207);
  std::map<std::string, int64_t> reported;  // the last finished write of each store
  int unreportedWrites = 0;
  // The file holds the last reported value or the next one, which becomes the last.
  auto lastOrNext = [&](const char* store, int64_t found) {
    ASSERT_TRUE(found == reported[store] || found == reported[store] + 1) << store << " " << found;
    unreportedWrites += found != reported[store];
    reported[store] = found;
  };

  for (int kill = 0; kill < kKills; ++kill) {
    SCOPED_TRACE("kill " + std::to_string(kill));
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) writeForever(home, fds[1]);
    ::close(fds[1]);
    FILE* reports = ::fdopen(fds[0], "r");
    auto readReport = [&] {
      char store[16];
      long long value = 0;
      if (std::fscanf(reports, "%15s %lld", store, &value) != 2) return false;
      reported[store] = value;
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

    if (auto text = home.get("history.json")) {
      lastOrNext("history", reported["history"] + (*text != historyText(reported["history"])));
      ASSERT_EQ(*text, historyText(reported["history"]));
    }
    if (auto text = home.get("usage.json")) {  // a whole record: every counter agrees
      json usage = json::parse(*text, nullptr, false);
      ASSERT_TRUE(usage.is_object()) << *text;
      int64_t sessions = usage["total_sessions"].get<int64_t>();
      lastOrNext("usage", sessions);
      EXPECT_EQ(usage["total_chars"], sessions * 10);
      EXPECT_EQ(usage["daily_stats"]["2026-12-06"]["sessions"], sessions);
    }
    json config = json::parse(home.get("config.json").value_or(""), nullptr, false);
    ASSERT_TRUE(config.is_object());
    EXPECT_EQ(config["deepseek_api_key"], "sk-keep");  // the user's keys beside the setting
    EXPECT_EQ(config["theme"], "dark");
    if (config.contains("kill_test_step")) {
      lastOrNext("config", std::stoll(config["kill_test_step"].get<std::string>()));
    }
    ASSERT_EQ(home.startingWith("config.json.unreadable").size() +
                  home.startingWith("usage.json.unreadable").size(),
              0u);
  }
  // The writer got far enough to have been killed in every kind of write.
  EXPECT_GT(reported["config"], kKills / 4);
  EXPECT_GT(unreportedWrites, 0);
  // A write cut short leaves only its hidden temporary file behind, never more than one a kill.
  EXPECT_LE(home.startingWith(".").size(), static_cast<size_t>(kKills));
}

}  // namespace
}  // namespace quorvel
