// The files of the application folder: what a failed write, an unreadable file and a process
// killed at any moment leave behind, for each store that keeps one.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <random>
#include <thread>

#include "fakes/failing_file_system.h"
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

// Every store that keeps a file, on one home and file system.
struct Stores {
  Stores(const TempHome& home, FileSystem& files)
      : polisher(home, files, http, console), history(home, files), usage(home, files, calendar) {}

  FixedCalendar calendar{"2026-12-06"};
  FakeHttpClient http;
  RecordingConsole console;
  DeepSeekPolisher polisher;
  HistoryStore history;
  UsageStore usage;
};

TEST(StoreFiles, a_failed_write_keeps_the_old_file_and_an_unreadable_one_is_kept_aside_first) {
  // Each store's save, and what the saved file then holds.
  const std::map<std::string, std::pair<std::function<void(Stores&)>, std::string>> stores = {
      {"history.json", {[](Stores& s) { s.history.save("[\"new\"]"); }, "[\"new\"]"}},
      {"usage.json", {[](Stores& s) { s.usage.recordSession(3); }, "\"total_sessions\": 2"}},
      {"config.json",
       {[](Stores& s) { s.polisher.updateConfig("theme", "dark"); }, "\"theme\": \"dark\""}},
  };
  struct Row {
    std::string file;
    std::optional<std::string> old;
    std::string then;
    bool failWrites = false, failMoveAside = false;
  };
  const Row rows[] = {
      {"history.json", std::nullopt, "saved"},
      {"history.json", "[\"old\"]", "kept", true},
      {"usage.json", std::nullopt, "saved"},
      {"usage.json", R"({"total_chars": 5})", "kept", true},
      {"usage.json", "{\"total_chars\": 99999, ", "saved, old aside"},
      {"config.json", R"({"deepseek_api_key": "sk-1"})", "kept", true},
      {"config.json", "{\"deepseek_api_key\": \"sk-precious\",", "saved, old aside"},
      {"config.json", "{broken", "kept", false, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.file + " " + row.old.value_or("(none)"));
    TempHome home;
    FailingFileSystem files{localFileSystem()};
    files.failWrites = row.failWrites;
    files.failMoveAside = row.failMoveAside;
    Stores s{home, files};
    if (row.old) home.put(row.file, *row.old);
    const auto& [save, saved] = stores.at(row.file);
    save(s);
    save(s);  // a second save finds a readable file: nothing more is set aside
    auto text = home.get(row.file).value_or("(none)");
    std::string found = text == row.old ? "kept" : text.find(saved) == text.npos ? text : "saved";
    for (const auto& [name, bytes] : home.startingWith(row.file + ".unreadable-")) {
      found += bytes == row.old ? ", old aside" : ", " + bytes + " aside";
    }
    EXPECT_EQ(found, row.then);
    EXPECT_TRUE(row.then == "kept" || home.mode(home.file(row.file)) == 0600u);
    EXPECT_TRUE(row.old || home.mode(home.appFolder()) == 0700u);
  }
}

// Long enough that a write is more than one block; starts with its step.
std::string historyText(int64_t step) {
  return std::to_string(step) +
         json(std::vector<std::string>(40, std::string(120, static_cast<char>('a' + step % 26))))
             .dump();
}

// The writer, in a forked child until it is killed: each step saves the history, counts a
// session and changes a setting, then reports the step as done on `report`.
[[noreturn]] void writeForever(const TempHome& home, int report) {
  Stores s{home, localFileSystem()};
  for (;;) {
    int64_t step = s.usage.load().value("total_sessions", int64_t{0}) + 1;
    s.history.save(historyText(step));
    s.usage.recordSession(10);
    s.polisher.updateConfig("kill_test_step", step);
    if (::write(report, &step, sizeof step) != sizeof step) ::_exit(1);
  }
}

// Hundreds of SIGKILLs at random moments: after each, every file reads whole, no step reported
// done is lost, nothing is set aside as unreadable and the user's key beside the setting stays.
TEST(StoreKillConsistency, every_file_reads_whole_as_the_old_or_the_new_content_after_each_kill) {
  constexpr int kKills = 500;
  TempHome home;
  home.put("config.json", R"({"deepseek_api_key": "sk-keep"})");
  std::mt19937 random(20261207);
  int64_t reported = 0, sessions = 0;
  int midStep = 0;
  for (int kill = 0; kill < kKills; ++kill) {
    SCOPED_TRACE("kill " + std::to_string(kill));
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) writeForever(home, fds[1]);
    ::close(fds[1]);
    auto readReport = [&] { return ::read(fds[0], &reported, sizeof reported) > 0; };
    // The moment of the kill is the test's random input: a few finished steps, then a delay
    // shorter than one step, so that most kills land inside a write.
    for (int steps = std::uniform_int_distribution(0, 3)(random); steps > 0; --steps) {
      ASSERT_TRUE(readReport()) << "the writer stopped by itself";
    }
    std::this_thread::sleep_for(
        std::chrono::microseconds(std::uniform_int_distribution(0, 1500)(random)));
    ASSERT_EQ(::kill(child, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_EQ(WIFSIGNALED(status) ? WTERMSIG(status) : -1, SIGKILL) << "status " << status;
    while (readReport()) {
    }
    ::close(fds[0]);

    auto usage = json::parse(home.get("usage.json").value_or("{}"), nullptr, false);
    auto config = json::parse(home.get("config.json").value_or(""), nullptr, false);
    auto history = home.get("history.json").value_or(historyText(0));
    ASSERT_TRUE(usage.is_object() && config.is_object());
    int64_t done = usage.value("total_sessions", int64_t{0});
    EXPECT_EQ(usage.value("total_chars", int64_t{0}), done * 10);  // a whole record
    EXPECT_EQ(config["deepseek_api_key"], "sk-keep");
    int64_t historyStep = std::stoll(history), configStep = config.value("kill_test_step", 0);
    ASSERT_EQ(history, historyText(historyStep));
    // A step writes history, usage and config in turn: each is the next one's step or one on.
    ASSERT_TRUE(reported <= configStep && configStep <= done && done <= configStep + 1 &&
                done <= historyStep && historyStep <= done + 1 && sessions <= done)
        << reported << " " << configStep << " " << done << " " << historyStep;
    midStep += historyStep != configStep;
    sessions = done;
    ASSERT_TRUE(home.startingWith("config.json.unreadable").empty() &&
                home.startingWith("usage.json.unreadable").empty());
  }
  EXPECT_GT(sessions, kKills / 4);  // the writer got far
  EXPECT_GT(midStep, 0);            // and was killed between its writes
  // A write cut short leaves only its hidden temporary file behind, never more than one a kill.
  EXPECT_LE(home.startingWith(".").size(), static_cast<size_t>(kKills));
}

}  // namespace
}  // namespace quorvel
