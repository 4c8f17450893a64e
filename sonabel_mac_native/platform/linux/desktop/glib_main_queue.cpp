// GLibMainQueue: one ordered list of tasks, woken by GLib timeout sources attached to the
// default main context (attaching is thread-safe and wakes the loop). A source firing with
// nothing due is harmless; one firing early re-arms itself for the earliest task.
#include "platform/linux/desktop/glib_main_queue.h"

#include <glib.h>

#include <cmath>

namespace quorvel {

namespace {

gboolean runDueTasks(gpointer data) {
  static_cast<GLibMainQueue*>(data)->runDue();
  return G_SOURCE_REMOVE;
}

}  // namespace

void GLibMainQueue::async(Task task) {
  asyncAfter(0.0, std::move(task));
}

void GLibMainQueue::asyncAfter(double seconds, Task task) {
  if (!(seconds > 0.0)) seconds = 0.0;
  int64_t due = g_get_monotonic_time() + static_cast<int64_t>(std::ceil(seconds * 1e6));
  {
    std::lock_guard lock(mutex_);
    tasks_.emplace(std::make_pair(due, next_++), std::move(task));
  }
  wakeAt(due);
}

void GLibMainQueue::wakeAt(int64_t dueMicros) {
  int64_t wait = dueMicros - g_get_monotonic_time();
  guint ms = wait <= 0 ? 0 : static_cast<guint>((wait + 999) / 1000);
  GSource* source = ms == 0 ? g_idle_source_new() : g_timeout_source_new(ms);
  g_source_set_priority(source, G_PRIORITY_DEFAULT);
  g_source_set_callback(source, runDueTasks, this, nullptr);
  g_source_attach(source, g_main_context_default());
  g_source_unref(source);
}

void GLibMainQueue::runDue() {
  // Work queued while this pass runs has its own source, so a task that keeps queueing more
  // cannot starve the rest of the loop.
  uint64_t limit;
  {
    std::lock_guard lock(mutex_);
    limit = next_;
  }
  for (;;) {
    Task task;
    int64_t nextDue = -1;
    {
      std::lock_guard lock(mutex_);
      if (tasks_.empty()) return;
      auto it = tasks_.begin();
      if (it->first.second >= limit) return;
      if (it->first.first > g_get_monotonic_time()) {
        nextDue = it->first.first;
      } else {
        task = std::move(it->second);
        tasks_.erase(it);
      }
    }
    if (nextDue >= 0) {
      wakeAt(nextDue);
      return;
    }
    task();
  }
}

}  // namespace quorvel
