#include "platform/linux/desktop/glib_main_queue.h"

#include <glib.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quorvel {
namespace {

using Clock = std::chrono::steady_clock;

// Turns the default main context until `done` or the bound; true if done.
template <typename Done>
bool spinUntil(Done done, double seconds = 5.0) {
  auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
  guint tick = g_timeout_add(
      5, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
  while (!done() && Clock::now() < deadline) g_main_context_iteration(nullptr, TRUE);
  g_source_remove(tick);
  return done();
}

// Sets `flag` from a plain GLib timer `ms` from now, outside the queue under test.
void raiseAfter(guint ms, bool& flag) {
  g_timeout_add(
      ms,
      [](gpointer f) -> gboolean {
        *static_cast<bool*>(f) = true;
        return G_SOURCE_REMOVE;
      },
      &flag);
}

TEST(GLibMainQueue, runs_work_later_on_the_loop_in_submission_order) {
  GLibMainQueue queue;
  std::vector<int> ran;
  queue.async([&] { ran.push_back(1); });
  queue.async([&] {
    ran.push_back(2);
    queue.async([&] { ran.push_back(4); });
  });
  queue.async([&] { ran.push_back(3); });
  EXPECT_TRUE(ran.empty());
  ASSERT_TRUE(spinUntil([&] { return ran.size() == 4; }));
  EXPECT_EQ(ran, (std::vector<int>{1, 2, 3, 4}));
}

TEST(GLibMainQueue, delayed_work_waits_its_time_and_keeps_order_among_equals) {
  GLibMainQueue queue;
  std::vector<std::string> ran;
  auto start = Clock::now();
  double firstAt = 0;
  queue.asyncAfter(0.06, [&] {
    ran.push_back("a");
    firstAt = std::chrono::duration<double>(Clock::now() - start).count();
  });
  queue.asyncAfter(0.06, [&] { ran.push_back("b"); });
  queue.asyncAfter(0.0, [&] { ran.push_back("now"); });
  queue.asyncAfter(-1.0, [&] { ran.push_back("negative counts as now"); });
  ASSERT_TRUE(spinUntil([&] { return ran.size() == 4; }));
  EXPECT_EQ(ran, (std::vector<std::string>{"now", "negative counts as now", "a", "b"}));
  EXPECT_GE(firstAt, 0.06);
}

TEST(GLibMainQueue, work_from_other_threads_runs_on_the_loop_thread_in_each_threads_order) {
  GLibMainQueue queue;
  std::mutex mutex;
  std::vector<std::pair<int, int>> ran;
  std::atomic<bool> offLoop{false};
  auto loopThread = std::this_thread::get_id();
  std::vector<std::thread> senders;
  for (int t = 0; t < 4; ++t) {
    senders.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i) {
        queue.async([&, t, i] {
          if (std::this_thread::get_id() != loopThread) offLoop = true;
          std::lock_guard lock(mutex);
          ran.emplace_back(t, i);
        });
      }
    });
  }
  for (auto& s : senders) s.join();
  ASSERT_TRUE(spinUntil([&] {
    std::lock_guard lock(mutex);
    return ran.size() == 800;
  }));
  EXPECT_FALSE(offLoop);
  std::vector<int> last(4, -1);
  for (auto [t, i] : ran) {
    EXPECT_EQ(i, last[t] + 1);
    last[t] = i;
  }
}

TEST(GLibMainQueue, work_that_keeps_requeueing_itself_does_not_starve_the_loop) {
  GLibMainQueue queue;
  bool stop = false;
  int rounds = 0;
  std::function<void()> again = [&] {
    ++rounds;
    if (!stop) queue.async(again);
  };
  queue.async(again);
  bool timerFired = false;
  raiseAfter(20, timerFired);
  EXPECT_TRUE(spinUntil([&] { return timerFired; }));
  EXPECT_GT(rounds, 1);
  stop = true;
}

TEST(GLibMainQueue, work_left_when_the_queue_goes_is_dropped_not_run) {
  bool ran = false;
  {
    GLibMainQueue queue;
    queue.async([&] { ran = true; });
    queue.asyncAfter(0.01, [&] { ran = true; });
  }
  bool settled = false;
  raiseAfter(30, settled);
  ASSERT_TRUE(spinUntil([&] { return settled; }));
  EXPECT_FALSE(ran);
}

}  // namespace
}  // namespace quorvel
