// The stores against a process that dies at any moment: a forked writer saves the history,
// counts a session and changes a setting, step after step, through the real file system, and
// is killed with SIGKILL at a random moment, hundreds of times.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <random>
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

// Long enough that a write is more than one block; starts with its step.
std::string historyText(int64_t step) {
  return std::to_string(step) +
         json(std::vector(40, std::string(120, static_cast<char>('a' + step % 26)))).dump();
}

// The writer, in a forked child until it is killed: each step saves the history, counts a
// session and changes a setting, then reports the step as done on `report`.
[[noreturn]] void writeForever(const TempHome& home, int report) {
  FixedCalendar calendar{"2026-12-06"};
  FakeHttpClient http;
  RecordingConsole console;
  DeepSeekPolisher polisher{home, localFileSystem(), http, console};
  HistoryStore history{home, localFileSystem()};
  UsageStore usage{home, localFileSystem(), calendar};
  for (;;) {
    int64_t step = usage.load().value("total_sessions", int64_t{0}) + 1;
    history.save(historyText(step));
    usage.recordSession(10);
    polisher.updateConfig("kill_test_step", step);
    if (::write(report, &step, sizeof step) != sizeof step) ::_exit(1);
  }
}

// After each kill every file reads whole, no step reported done is lost or undone, and the
// user's key beside the setting stays (so nothing was set aside as unreadable).
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
    for (int steps = std::uniform_int_distribution(0, 3)(random); steps > 0; --steps)
      ASSERT_TRUE(readReport()) << "the writer stopped by itself";
    std::this_thread::sleep_for(
        std::chrono::microseconds(std::uniform_int_distribution(0, 1500)(random)));
    ASSERT_EQ(::kill(child, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_EQ(WIFSIGNALED(status) ? WTERMSIG(status) : -1, SIGKILL) << "status " << status;
    while (readReport()) continue;
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
  }
  EXPECT_GT(sessions, kKills / 4);  // the writer got far
  EXPECT_GT(midStep, 0);            // and was killed between its writes
  for (const char* name : {"history.json", "usage.json", "config.json"}) {
    EXPECT_EQ(home.mode(home.file(name)), 0600u) << name;  // the user's key and texts
  }
}

}  // namespace
}  // namespace quorvel
