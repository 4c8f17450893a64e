#include "platform/linux/desktop/glib_main_queue.h"

#include <atomic>
#include <mutex>
#include <thread>

#include "platform/linux/desktop/desktop_session.h"

namespace quorvel {
namespace {

using testing::runUntil;
using Clock = std::chrono::steady_clock;

TEST(GLibMainQueue, runs_work_later_on_the_loop_by_due_time_then_submission_order) {
  GLibMainQueue queue;
  std::vector<std::string> ran;
  const auto start = Clock::now();
  Clock::duration lateAfter{};
  queue.asyncAfter(0.06, [&] {
    ran.push_back("late");
    lateAfter = Clock::now() - start;
  });
  queue.asyncAfter(0.06, [&] { ran.push_back("late 2"); });
  queue.async([&] {
    ran.push_back("now");
    queue.async([&] { ran.push_back("queued by work"); });
  });
  queue.asyncAfter(-1.0, [&] { ran.push_back("negative counts as now"); });
  EXPECT_TRUE(ran.empty());
  ASSERT_TRUE(runUntil([&] { return ran.size() == 5; }));
  EXPECT_EQ(ran, (std::vector<std::string>{"now", "negative counts as now", "queued by work",
                                           "late", "late 2"}));
  EXPECT_GE(lateAfter, std::chrono::milliseconds(60));
}

TEST(GLibMainQueue, work_from_other_threads_runs_on_the_loop_thread_in_each_threads_order) {
  GLibMainQueue queue;
  std::mutex mutex;
  std::vector<std::pair<int, int>> ran;
  std::atomic<bool> offLoop{false};
  const auto loopThread = std::this_thread::get_id();
  std::vector<std::thread> senders;
  for (int t = 0; t < 4; ++t) {
    senders.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i) {
        queue.async([&, t, i] {
          offLoop = offLoop || std::this_thread::get_id() != loopThread;
          std::lock_guard lock(mutex);
          ran.emplace_back(t, i);
        });
      }
    });
  }
  for (auto& s : senders) s.join();
  ASSERT_TRUE(runUntil([&] {
    std::lock_guard lock(mutex);
    return ran.size() == 800;
  }));
  EXPECT_FALSE(offLoop);
  std::vector<int> last(4, -1);
  for (auto [t, i] : ran) EXPECT_EQ(i, std::exchange(last[t], i) + 1);
}

TEST(GLibMainQueue, requeueing_work_does_not_starve_the_loop_and_a_gone_queue_runs_nothing) {
  bool stop = false, ranAfterGone = false, timerFired = false;
  {
    GLibMainQueue queue;
    int rounds = 0;
    std::function<void()> again = [&] {
      if (++rounds && !stop) queue.async(again);
    };
    queue.async(again);
    g_timeout_add(
        20, [](gpointer f) -> gboolean { return *static_cast<bool*>(f) = true, G_SOURCE_REMOVE; },
        &timerFired);
    EXPECT_TRUE(runUntil([&] { return timerFired; }));
    EXPECT_GT(rounds, 1);
    stop = true;
    queue.async([&] { ranAfterGone = true; });
    queue.asyncAfter(0.01, [&] { ranAfterGone = true; });
  }
  timerFired = false;
  g_timeout_add(
      30, [](gpointer f) -> gboolean { return *static_cast<bool*>(f) = true, G_SOURCE_REMOVE; },
      &timerFired);
  ASSERT_TRUE(runUntil([&] { return timerFired; }));
  EXPECT_FALSE(ranAfterGone);
}

}  // namespace
}  // namespace quorvel
