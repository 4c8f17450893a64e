// The real quorvel program as a child of the test (the one built beside it, or another given
// by path): its own temporary HOME (whose .config holds its settings), the test probe switched
// on, its standard output and error collected, and its end observed on the main loop.
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

#include "linux_desktop/desktop_session.h"

namespace quorvel::testing {

class QuorvelProcess {
 public:
  explicit QuorvelProcess(std::string home,
                          std::string program = std::string(QUORVEL_BINARY_DIR) + "/quorvel")
      : home_(std::move(home)), program_(std::move(program)) {}
  ~QuorvelProcess() {
    if (running()) {
      kill(pid_, SIGKILL);
      runUntil([this] { return !running(); }, 5.0);
    }
    if (watch_) g_source_remove(watch_);
  }
  QuorvelProcess(const QuorvelProcess&) = delete;
  QuorvelProcess& operator=(const QuorvelProcess&) = delete;

  // `env`: variables set for the program on top of the test's own.
  bool start(const std::vector<std::pair<std::string, std::string>>& env = {}) {
    gchar* argv[] = {const_cast<gchar*>(program_.c_str()), nullptr};
    gchar** envp = g_get_environ();
    envp = g_environ_setenv(envp, "HOME", home_.c_str(), TRUE);
    envp = g_environ_unsetenv(envp, "XDG_CONFIG_HOME");
    envp = g_environ_setenv(envp, "QUORVEL_TEST_PROBE", "1", TRUE);
    // The menu's rows are checked as a panel other than GNOME's shows them.
    envp = g_environ_unsetenv(envp, "XDG_CURRENT_DESKTOP");
    for (const auto& [name, value] : env)
      envp = g_environ_setenv(envp, name.c_str(), value.c_str(), TRUE);
    // Standard output and standard error in one pipe, in the order they were written.
    int pipe[2];
    if (!g_unix_open_pipe(pipe, FD_CLOEXEC, nullptr)) {
      g_strfreev(envp);
      return false;
    }
    const gint out = pipe[0];
    started_ = std::chrono::steady_clock::now();
    bool ok = g_spawn_async_with_pipes_and_fds(
        nullptr, argv, envp, G_SPAWN_DO_NOT_REAP_CHILD, nullptr, nullptr, -1, pipe[1], pipe[1],
        nullptr, nullptr, 0, &pid_, nullptr, nullptr, nullptr, nullptr);
    g_strfreev(envp);
    close(pipe[1]);
    if (!ok) {
      close(out);
      return false;
    }
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
    GIOChannel* channel = g_io_channel_unix_new(out);
    g_io_channel_set_close_on_unref(channel, TRUE);
    g_io_channel_set_flags(channel, G_IO_FLAG_NONBLOCK, nullptr);
    g_io_channel_set_encoding(channel, nullptr, nullptr);
    watch_ = g_io_add_watch(
        channel, GIOCondition(G_IO_IN | G_IO_HUP | G_IO_ERR),
        [](GIOChannel* source, GIOCondition, gpointer self) -> gboolean {
          auto* p = static_cast<QuorvelProcess*>(self);
          char buffer[4096];
          gsize got = 0;
          GIOStatus status = g_io_channel_read_chars(source, buffer, sizeof buffer, &got, nullptr);
          p->output_.append(buffer, got);
          if (status == G_IO_STATUS_EOF || status == G_IO_STATUS_ERROR) {
            p->watch_ = 0;
            return G_SOURCE_REMOVE;
          }
          return G_SOURCE_CONTINUE;
        },
        this);
    g_io_channel_unref(channel);
    return true;
  }

  bool running() const { return running_; }
  int pid() const { return pid_; }
  int exitStatus() const { return status_; }
  const std::string& output() const { return output_; }
  std::chrono::steady_clock::time_point startedAt() const { return started_; }
  bool waitForOutput(const std::string& text, double seconds = 10.0) {
    return runUntil([&] { return output_.find(text) != std::string::npos; }, seconds);
  }
  bool waitForExit(double seconds = 10.0) {
    return runUntil([this] { return !running_; }, seconds);
  }

 private:
  std::string home_;
  std::string program_;
  GPid pid_ = 0;
  bool running_ = false;
  int status_ = -1;
  guint watch_ = 0;
  std::string output_;
  std::chrono::steady_clock::time_point started_;
};

}  // namespace quorvel::testing
