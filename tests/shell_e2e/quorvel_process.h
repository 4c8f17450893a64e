// Child processes of the end-to-end tests. QuorvelProcess: the real quorvel program (the tests'
// own build of it, which has the test probe, or another given by path) with its own temporary
// HOME (whose .config holds its settings), the test probe switched on, its output collected and
// its end observed on the main loop. spawnWith/stopProcess: a helper program (a compositor, a
// panel), stopped by its pid. capture: a program's output; with it, what the bus and the X
// display show.
#pragma once

#include <gio/gio.h>
#include <gio/gunixinputstream.h>
#include <glib-unix.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "platform/linux/desktop/desktop_session.h"

namespace quorvel::testing {

using Env = std::vector<std::pair<std::string, std::string>>;

inline std::vector<gchar*> argvOf(const std::vector<std::string>& args) {
  std::vector<gchar*> argv;
  for (const auto& a : args) argv.push_back(const_cast<gchar*>(a.c_str()));
  argv.push_back(nullptr);
  return argv;
}

inline gchar** environmentWith(const Env& env) {
  gchar** environment = g_get_environ();
  for (const auto& [name, value] : env) {
    environment = g_environ_setenv(environment, name.c_str(), value.c_str(), TRUE);
  }
  return environment;
}

// Starts `args` with `env` over the test's environment, output discarded; 0 when it could not.
inline GPid spawnWith(const std::vector<std::string>& args, const Env& env = {}) {
  auto argv = argvOf(args);
  gchar** environment = environmentWith(env);
  GPid pid = 0;
  const bool ok =
      g_spawn_async(nullptr, argv.data(), environment,
                    GSpawnFlags(G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD |
                                G_SPAWN_STDOUT_TO_DEV_NULL | G_SPAWN_STDERR_TO_DEV_NULL),
                    nullptr, nullptr, &pid, nullptr);
  g_strfreev(environment);
  return ok ? pid : 0;
}

inline void stopProcess(GPid& pid) {
  if (pid == 0) return;
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
  g_spawn_close_pid(pid);
  pid = 0;
}

// Runs a program to its end and returns its standard output ("" when it failed).
inline std::string capture(const std::vector<std::string>& args) {
  auto argv = argvOf(args);
  gchar* out = nullptr;
  gint status = 0;
  const bool ran = g_spawn_sync(nullptr, argv.data(), nullptr,
                                GSpawnFlags(G_SPAWN_SEARCH_PATH | G_SPAWN_STDERR_TO_DEV_NULL),
                                nullptr, nullptr, &out, nullptr, &status, nullptr);
  std::string text = ran && out && g_spawn_check_wait_status(status, nullptr) ? out : "";
  g_free(out);
  return text;
}

inline bool nameOwned(const char* name) {
  return capture({"gdbus", "call", "--session", "--dest", "org.freedesktop.DBus", "--object-path",
                  "/org/freedesktop/DBus", "--method", "org.freedesktop.DBus.NameHasOwner",
                  name}) == "(true,)\n";
}

// The sizes of the visible windows titled "Quorvel", e.g. "440x420 ".
inline std::string quorvelWindowSizes() {
  const std::string all = capture(
      {"xdotool", "search", "--onlyvisible", "--name", "^Quorvel$", "getwindowgeometry", "%@"});
  std::string sizes;
  for (size_t at = 0; (at = all.find("Geometry: ", at)) != std::string::npos; ++at) {
    sizes += all.substr(at + 10, all.find('\n', at) - at - 10) + " ";
  }
  return sizes;
}

// No GTK or GLib criticals or warnings in a program's output.
inline bool quiet(const std::string& output) {
  for (const char* noise : {"CRITICAL", "WARNING", "Gtk-", "GLib-", "Gdk-"}) {
    if (output.find(noise) != std::string::npos) return false;
  }
  return true;
}

class QuorvelProcess {
 public:
  explicit QuorvelProcess(std::string home,
                          std::string program = std::string(QUORVEL_BINARY_DIR) + "/quorvel_probed")
      : home_(std::move(home)), program_(std::move(program)) {}
  ~QuorvelProcess() {
    if (process_ == nullptr) return;
    if (running()) g_subprocess_force_exit(process_);
    runUntil([this] { return !running() && watch_ == 0; }, 5.0);
    if (watch_ != 0) g_source_remove(watch_);
    g_object_unref(process_);
  }
  QuorvelProcess(const QuorvelProcess&) = delete;
  QuorvelProcess& operator=(const QuorvelProcess&) = delete;

  // Starts the program with `args` after its name and `env` over the test's environment.
  bool start(const std::vector<std::string>& args = {}, const Env& env = {}) {
    GSubprocessLauncher* launcher = g_subprocess_launcher_new(
        GSubprocessFlags(G_SUBPROCESS_FLAGS_STDOUT_PIPE | G_SUBPROCESS_FLAGS_STDERR_MERGE));
    // The menu's rows are checked as a panel other than GNOME's shows them.
    Env all{{"HOME", home_}, {"QUORVEL_TEST_PROBE", "1"}, {"XDG_CURRENT_DESKTOP", ""}};
    all.insert(all.end(), env.begin(), env.end());
    for (const auto& [name, value] : all) {
      g_subprocess_launcher_setenv(launcher, name.c_str(), value.c_str(), TRUE);
    }
    g_subprocess_launcher_unsetenv(launcher, "XDG_CONFIG_HOME");
    std::vector<std::string> words{program_};
    words.insert(words.end(), args.begin(), args.end());
    started_ = std::chrono::steady_clock::now();
    process_ = g_subprocess_launcher_spawnv(launcher, argvOf(words).data(), nullptr);
    g_object_unref(launcher);
    if (process_ == nullptr) return false;
    running_ = true;
    g_subprocess_wait_async(
        process_, nullptr,
        [](GObject*, GAsyncResult*, gpointer self) {
          static_cast<QuorvelProcess*>(self)->running_ = false;
        },
        this);
    const int fd =
        g_unix_input_stream_get_fd(G_UNIX_INPUT_STREAM(g_subprocess_get_stdout_pipe(process_)));
    watch_ = g_unix_fd_add(
        fd, GIOCondition(G_IO_IN | G_IO_HUP | G_IO_ERR),
        [](gint fd, GIOCondition, gpointer data) -> gboolean {
          auto* self = static_cast<QuorvelProcess*>(data);
          char buffer[4096];
          const ssize_t got = read(fd, buffer, sizeof buffer);
          if (got > 0) self->output_.append(buffer, got);
          if (got > 0) return G_SOURCE_CONTINUE;
          self->watch_ = 0;
          return G_SOURCE_REMOVE;
        },
        this);
    return true;
  }

  bool running() const { return running_; }
  // While it runs.
  int pid() const {
    const gchar* id = g_subprocess_get_identifier(process_);
    return id ? std::atoi(id) : 0;
  }
  // The wait status, once it has ended.
  int exitStatus() const { return g_subprocess_get_status(process_); }
  // Standard output and standard error (GLib's and GTK's warnings), as they arrived.
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
  GSubprocess* process_ = nullptr;
  bool running_ = false;
  guint watch_ = 0;
  std::string output_;
  std::chrono::steady_clock::time_point started_;
};

}  // namespace quorvel::testing
