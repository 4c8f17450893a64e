// The real quorvel program as a child of the test (the tests' own build of it, which has the
// test probe, or another given by path): its own temporary HOME (whose .config holds its
// settings), the test probe switched on, its standard output and error collected, and its end
// observed on the main loop.
#pragma once

#include <gio/gio.h>
#include <glib-unix.h>
#include <glib/gstdio.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "platform/linux/desktop/desktop_session.h"

namespace quorvel::testing {

class QuorvelProcess {
 public:
  explicit QuorvelProcess(std::string home,
                          std::string program = std::string(QUORVEL_BINARY_DIR) + "/quorvel_probed")
      : home_(std::move(home)), program_(std::move(program)) {}
  ~QuorvelProcess() {
    if (running()) {
      kill(pid_, SIGKILL);
      runUntil([this] { return !running(); }, 5.0);
    }
    if (watch_) g_source_remove(watch_);
    if (errorWatch_) g_source_remove(errorWatch_);
  }
  QuorvelProcess(const QuorvelProcess&) = delete;
  QuorvelProcess& operator=(const QuorvelProcess&) = delete;

  // Starts the program with `args` after its name and `env` over the test's environment.
  bool start(const std::vector<std::string>& args = {},
             const std::vector<std::pair<std::string, std::string>>& env = {}) {
    std::vector<std::string> words{program_};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<gchar*> argv;
    for (auto& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    gchar** environment = g_get_environ();
    environment = g_environ_setenv(environment, "HOME", home_.c_str(), TRUE);
    environment = g_environ_unsetenv(environment, "XDG_CONFIG_HOME");
    environment = g_environ_setenv(environment, "QUORVEL_TEST_PROBE", "1", TRUE);
    // The menu's rows are checked as a panel other than GNOME's shows them.
    environment = g_environ_unsetenv(environment, "XDG_CURRENT_DESKTOP");
    for (const auto& [name, value] : env) {
      environment = g_environ_setenv(environment, name.c_str(), value.c_str(), TRUE);
    }
    gint out = -1;
    gint err = -1;
    started_ = std::chrono::steady_clock::now();
    bool ok = g_spawn_async_with_pipes(nullptr, argv.data(), environment, G_SPAWN_DO_NOT_REAP_CHILD,
                                       nullptr, nullptr, &pid_, nullptr, &out, &err, nullptr);
    g_strfreev(environment);
    if (!ok) return false;
    running_ = true;
    g_child_watch_add(
        pid_,
        [](GPid pid, gint status, gpointer self) {
          auto* p = static_cast<QuorvelProcess*>(self);
          p->running_ = false;
          p->status_ = status;
          g_spawn_close_pid(pid);
        },
        this);
    watch_ = collect(out, &output_);
    errorWatch_ = collect(err, &errors_, &output_);
    return true;
  }

  bool running() const { return running_; }
  int pid() const { return pid_; }
  int exitStatus() const { return status_; }
  // Standard output with standard error mixed in as it arrives.
  const std::string& output() const { return output_; }
  // Standard error alone (GLib and GTK warnings and criticals).
  const std::string& errors() const { return errors_; }
  std::chrono::steady_clock::time_point startedAt() const { return started_; }
  bool waitForOutput(const std::string& text, double seconds = 10.0) {
    return runUntil([&] { return output_.find(text) != std::string::npos; }, seconds);
  }
  bool waitForExit(double seconds = 10.0) {
    return runUntil([this] { return !running_; }, seconds);
  }

 private:
  struct Sink {
    QuorvelProcess* self;
    std::string* text;
    std::string* also;
  };
  // Appends what arrives on `fd` to `text` on the main loop, until its end.
  guint collect(gint fd, std::string* text, std::string* also = nullptr) {
    GIOChannel* channel = g_io_channel_unix_new(fd);
    g_io_channel_set_close_on_unref(channel, TRUE);
    g_io_channel_set_flags(channel, G_IO_FLAG_NONBLOCK, nullptr);
    g_io_channel_set_encoding(channel, nullptr, nullptr);
    guint id = g_io_add_watch_full(
        channel, G_PRIORITY_DEFAULT, GIOCondition(G_IO_IN | G_IO_HUP | G_IO_ERR),
        [](GIOChannel* source, GIOCondition, gpointer data) -> gboolean {
          auto* sink = static_cast<Sink*>(data);
          char buffer[4096];
          gsize got = 0;
          GIOStatus status = g_io_channel_read_chars(source, buffer, sizeof buffer, &got, nullptr);
          sink->text->append(buffer, got);
          if (sink->also) sink->also->append(buffer, got);
          if (status == G_IO_STATUS_EOF || status == G_IO_STATUS_ERROR) {
            (sink->text == &sink->self->output_ ? sink->self->watch_ : sink->self->errorWatch_) = 0;
            return G_SOURCE_REMOVE;
          }
          return G_SOURCE_CONTINUE;
        },
        new Sink{this, text, also}, [](gpointer data) { delete static_cast<Sink*>(data); });
    g_io_channel_unref(channel);
    return id;
  }

  std::string home_;
  std::string program_;
  GPid pid_ = 0;
  bool running_ = false;
  int status_ = -1;
  guint watch_ = 0;
  guint errorWatch_ = 0;
  std::string output_;
  std::string errors_;
  std::chrono::steady_clock::time_point started_;
};

}  // namespace quorvel::testing
