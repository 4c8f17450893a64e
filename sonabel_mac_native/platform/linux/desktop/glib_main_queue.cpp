// GLibMainQueue: one ordered list of tasks and one GLib source, made with the queue on the loop's
// thread and attached to the default main context. Posting from any thread moves the source's
// ready time (thread-safe, and it wakes the loop); no GLib object is made on a posting thread, so
// nothing GLib allocates there is freed on the loop. The source holds the list, not the queue,
// so a dispatch still running when the queue goes finds an empty, closed list.
#include "platform/linux/desktop/glib_main_queue.h"

#include <glib.h>

#include <cmath>
#include <cstdint>
#include <map>
#include <mutex>
#include <utility>

namespace quorvel {

struct GLibMainQueue::Core {
  std::mutex mutex;
  std::map<std::pair<int64_t, uint64_t>, Task> tasks;
  uint64_t next = 0;
  bool closed = false;
  GSource* source = nullptr;
  int64_t armedFor = -1;  // the source's ready time; -1 while nothing is queued

  void add(int64_t due, Task task) {
    std::lock_guard lock(mutex);
    if (closed) return;
    tasks.emplace(std::make_pair(due, next++), std::move(task));
    if (armedFor < 0 || due < armedFor) arm(due);
  }

  void arm(int64_t due) {
    armedFor = due;
    g_source_set_ready_time(source, due);
  }

  void runDue() {
    // Work queued while this pass runs waits for the next pass, so a task that keeps queueing
    // more cannot starve the rest of the loop.
    uint64_t limit;
    {
      std::lock_guard lock(mutex);
      limit = next;
    }
    for (;;) {
      Task task;
      {
        std::lock_guard lock(mutex);
        auto it = tasks.begin();
        if (it == tasks.end() || it->first.second >= limit ||
            it->first.first > g_get_monotonic_time()) {
          if (!closed) arm(it == tasks.end() ? -1 : it->first.first);
          return;
        }
        task = std::move(it->second);
        tasks.erase(it);
      }
      task();
    }
  }
};

namespace {

gboolean dispatchQueue(GSource*, GSourceFunc callback, gpointer data) {
  return callback(data);
}

GSourceFuncs queueSourceFuncs = {nullptr, nullptr, dispatchQueue, nullptr, nullptr, nullptr};

}  // namespace

GLibMainQueue::GLibMainQueue() : core_(std::make_shared<Core>()) {
  core_->source = g_source_new(&queueSourceFuncs, sizeof(GSource));
  g_source_set_priority(core_->source, G_PRIORITY_DEFAULT);
  g_source_set_callback(
      core_->source,
      [](gpointer data) -> gboolean {
        (*static_cast<std::shared_ptr<Core>*>(data))->runDue();
        return G_SOURCE_CONTINUE;
      },
      new std::shared_ptr<Core>(core_),
      [](gpointer data) { delete static_cast<std::shared_ptr<Core>*>(data); });
  g_source_attach(core_->source, g_main_context_default());
}

GLibMainQueue::~GLibMainQueue() {
  std::map<std::pair<int64_t, uint64_t>, Task> dropped;
  GSource* source;
  {
    std::lock_guard lock(core_->mutex);
    core_->closed = true;
    dropped.swap(core_->tasks);
    source = core_->source;
  }
  g_source_destroy(source);
  g_source_unref(source);
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
