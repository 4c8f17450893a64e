#include "platform/linux/desktop/glib_main_queue.h"

#include <thread>

#include "platform/linux/desktop/desktop_session.h"

namespace quorvel {
using testing::runUntil;
using Clock = std::chrono::steady_clock;

// Work from this thread by due time, then submission order, none before its delay; work from
// another thread, sent while the loop runs, in that thread's order; all of it on the loop.
TEST(GLibMainQueue, runs_work_on_the_loop_by_due_time_then_submission_order) {
  GLibMainQueue queue;
  const struct {
    double delay;
    const char* name;
  } work[] = {{0.06, "late"}, {0.06, "late 2"}, {0.03, "soon"}, {0, "now"}, {-1, "negative"}};
  const auto loop = std::this_thread::get_id();
  std::vector<std::string> ran;
  std::vector<int> fromThread;
  const auto start = Clock::now();
  for (const auto& w : work) {
    queue.asyncAfter(w.delay, [&, w] {
      EXPECT_GE(Clock::now() - start, std::chrono::duration<double>(w.delay)) << w.name;
      ran.push_back(w.name);
    });
  }
  std::thread sender([&] {
    for (int i = 0; i < 500; ++i) {
      queue.async([&, i] {
        EXPECT_EQ(std::this_thread::get_id(), loop);
        fromThread.push_back(i);
      });
    }
  });
  EXPECT_TRUE(ran.empty());
  EXPECT_TRUE(runUntil([&] { return ran.size() == 5 && fromThread.size() == 500; }));
  sender.join();
  EXPECT_EQ(ran, (std::vector<std::string>{"now", "negative", "soon", "late", "late 2"}));
  for (size_t i = 0; i < fromThread.size(); ++i) EXPECT_EQ(fromThread[i], static_cast<int>(i));
}

// Work that keeps queueing more waits for the next pass each time, so the loop's other sources
// of the same priority (a timer here; input and D-Bus alike) still run in between.
TEST(GLibMainQueue, work_queued_by_running_work_lets_the_loop_turn_first) {
  GLibMainQueue queue;
  int passes = 0;
  bool timerRan = false;
  std::function<void()> again = [&] {
    if (++passes < 10000) queue.async(again);
  };
  queue.async(again);
  g_timeout_add(
      0,
      [](gpointer ran) -> gboolean {
        *static_cast<bool*>(ran) = true;
        return G_SOURCE_REMOVE;
      },
      &timerRan);
  EXPECT_TRUE(runUntil([&] { return timerRan; }));
  EXPECT_LT(passes, 10);
}

}  // namespace quorvel
