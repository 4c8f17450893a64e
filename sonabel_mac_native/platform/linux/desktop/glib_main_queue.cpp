// GLibMainQueue: one ordered list of tasks, woken by GLib sources attached to the default main
// context (attaching is thread-safe and wakes the loop). Each source holds the list, not the
// queue, so a source that fires after the queue is gone finds an empty, closed list. A source
// firing with nothing due is harmless; one firing early re-arms for the earliest task.
#include "platform/linux/desktop/glib_main_queue.h"

#include <glib.h>

#include <cmath>
#include <cstdint>
#include <map>
#include <mutex>
#include <utility>

namespace quorvel {

struct GLibMainQueue::Core : std::enable_shared_from_this<GLibMainQueue::Core> {
  std::mutex mutex;
  std::map<std::pair<int64_t, uint64_t>, Task> tasks;
  uint64_t next = 0;
  bool closed = false;

  void add(int64_t due, Task task) {
    {
      std::lock_guard lock(mutex);
      if (closed) return;
      tasks.emplace(std::make_pair(due, next++), std::move(task));
    }
    wakeAt(due);
  }

  void wakeAt(int64_t dueMicros) {
    int64_t wait = dueMicros - g_get_monotonic_time();
    guint ms = wait <= 0 ? 0 : static_cast<guint>((wait + 999) / 1000);
    GSource* source = ms == 0 ? g_idle_source_new() : g_timeout_source_new(ms);
    g_source_set_priority(source, G_PRIORITY_DEFAULT);
    g_source_set_callback(
        source,
        [](gpointer data) -> gboolean {
          (*static_cast<std::shared_ptr<Core>*>(data))->runDue();
          return G_SOURCE_REMOVE;
        },
        new std::shared_ptr<Core>(shared_from_this()),
        [](gpointer data) { delete static_cast<std::shared_ptr<Core>*>(data); });
    g_source_attach(source, g_main_context_default());
    g_source_unref(source);
  }

  void runDue() {
    // Work queued while this pass runs has its own source, so a task that keeps queueing more
    // cannot starve the rest of the loop.
    uint64_t limit;
    {
      std::lock_guard lock(mutex);
      limit = next;
    }
    for (;;) {
      Task task;
      int64_t notYetDue = -1;
      {
        std::lock_guard lock(mutex);
        if (tasks.empty()) return;
        auto it = tasks.begin();
        if (it->first.second >= limit) return;
        if (it->first.first > g_get_monotonic_time()) {
          notYetDue = it->first.first;
        } else {
          task = std::move(it->second);
          tasks.erase(it);
        }
      }
      if (notYetDue >= 0) {
        wakeAt(notYetDue);
        return;
      }
      task();
    }
  }
};

GLibMainQueue::GLibMainQueue() : core_(std::make_shared<Core>()) {}

GLibMainQueue::~GLibMainQueue() {
  std::map<std::pair<int64_t, uint64_t>, Task> dropped;
  std::lock_guard lock(core_->mutex);
  core_->closed = true;
  dropped.swap(core_->tasks);
}

void GLibMainQueue::async(Task task) {
  asyncAfter(0.0, std::move(task));
}

void GLibMainQueue::asyncAfter(double seconds, Task task) {
  if (!(seconds > 0.0)) seconds = 0.0;
  int64_t due = g_get_monotonic_time() + static_cast<int64_t>(std::ceil(seconds * 1e6));
  core_->add(due, std::move(task));
}

}  // namespace quorvel
