// The harness of the end-to-end tests. Process: a child program (the real quorvel, a compositor,
// a panel), its output collected in a file, its end observed on the main loop, stopped with
// SIGTERM when it goes. QuorvelTest: the real program (the tests' own build of it, which has the
// test probe) with its own temporary HOME on the test session's desktop, and its page read
// through the probe on the bus.
#pragma once

#include <gio/gio.h>
#include <signal.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/linux/desktop/desktop_session.h"

namespace quorvel::testing {

using Env = std::vector<std::pair<std::string, std::string>>;

// Runs a command line to its end and returns its standard output ("" when it failed).
inline std::string capture(const std::string& command) {
  gchar* out = nullptr;
  gint status = 0;
  const bool ok = g_spawn_command_line_sync(command.c_str(), &out, nullptr, &status, nullptr) &&
                  g_spawn_check_wait_status(status, nullptr);
  std::string text = ok && out ? out : "";
  g_free(out);
  return text;
}

inline bool nameOwned(const std::string& name) {
  return capture(
             "gdbus call --session --dest org.freedesktop.DBus --object-path "
             "/org/freedesktop/DBus --method org.freedesktop.DBus.NameHasOwner " +
             name) == "(true,)\n";
}

// No GTK or GLib criticals or warnings in a program's output.
inline bool quiet(const std::string& output) {
  for (const char* noise : {"CRITICAL", "WARNING", "Gtk-", "GLib-", "Gdk-"}) {
    if (output.find(noise) != std::string::npos) return false;
  }
  return true;
}

class Process {
 public:
  // `command` as a shell would split it, `env` over the test's environment; standard output and
  // error go to `log`.
  explicit Process(const std::string& command, const Env& env = {},
                   const std::string& log = "/dev/null")
      : log_(log) {
    GSubprocessLauncher* launcher = g_subprocess_launcher_new(G_SUBPROCESS_FLAGS_STDERR_MERGE);
    g_subprocess_launcher_set_stdout_file_path(launcher, log.c_str());
    // The program keeps everything under the HOME it is given.
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
      g_subprocess_launcher_unsetenv(launcher, name);
    for (const auto& [name, value] : env) {
      g_subprocess_launcher_setenv(launcher, name.c_str(), value.c_str(), TRUE);
    }
    gchar** argv = nullptr;
    if (g_shell_parse_argv(command.c_str(), nullptr, &argv, nullptr)) {
      process_ = g_subprocess_launcher_spawnv(launcher, argv, nullptr);
    }
    g_strfreev(argv);
    g_object_unref(launcher);
    if (process_ == nullptr) return;
    running_ = true;
    g_subprocess_wait_async(
        process_, nullptr,
        [](GObject*, GAsyncResult*, gpointer self) {
          static_cast<Process*>(self)->running_ = false;
        },
        this);
  }
  ~Process() {
    if (process_ == nullptr) return;
    signal(SIGTERM);
    if (!waitForExit()) g_subprocess_force_exit(process_);
    runUntil([this] { return !running_; }, 60.0);
    g_object_unref(process_);
  }
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  bool running() const { return running_; }
  void signal(int number) {
    if (running_) g_subprocess_send_signal(process_, number);
  }
  // Ended with status 0.
  bool succeeded() const { return process_ && !running_ && g_subprocess_get_successful(process_); }
  std::string output() const {
    std::ifstream in(log_);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  bool waitForOutput(const std::string& text, double seconds = 10.0) const {
    return runUntil([&] { return output().find(text) != std::string::npos; }, seconds);
  }
  bool waitForExit(double seconds = 10.0) const {
    return runUntil([this] { return !running_; }, seconds);
  }

 private:
  std::string log_;
  GSubprocess* process_ = nullptr;
  bool running_ = false;
};

class QuorvelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(startGtk());
    ASSERT_TRUE(lock_.held());
    // Not under /tmp: with HOME there, WebKit's web process does not see the test display's
    // Xauthority (under /tmp too) and warns that it cannot open the display.
    char pattern[] = "/var/tmp/quorvel-e2e-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    home_ = pattern;
    std::filesystem::create_directories(home_ + "/.config/quorvel");
    peer_ = newPeerConnection();
    ASSERT_NE(peer_, nullptr);
  }
  void TearDown() override {
    quorvel_.reset();
    g_clear_object(&peer_);
    if (!home_.empty()) std::filesystem::remove_all(home_);
  }

  std::unique_ptr<Process> start(const std::string& args, const Env& env = {}) {
    const std::string command = program_ + " " + args;
    Env all{{"HOME", home_}, {"QUORVEL_TEST_PROBE", "1"}, {"XDG_CURRENT_DESKTOP", ""}};
    all.insert(all.end(), env.begin(), env.end());
    return std::make_unique<Process>(command, all,
                                     home_ + "/output-" + std::to_string(++started_) + ".txt");
  }
  // Starts the program; true once its page has loaded and is idle.
  bool launch(const std::string& args = "", const Env& env = {}) {
    quorvel_.reset();
    quorvel_ = start(args, env);
    return waitForPage("document.readyState === 'complete' && state", "idle", 30.0);
  }
  // A later start of the program: its output, once it has left with status 0.
  std::string startAgain(const std::string& args, const Env& env = {}) {
    auto later = start(args, env);
    if (!later->waitForExit(20.0)) return "<did not end>";
    return later->succeeded() ? later->output() : "<failed>";
  }

  // The value of a script in the program's page, null when the probe gave none.
  nlohmann::json page(const std::string& script) {
    CallResult r;
    // At the program's name on the bus, where its tray item is too.
    call(peer_, "app.quorvel.Quorvel", "/app/quorvel/TestProbe", "app.quorvel.TestProbe", "Eval",
         g_variant_new("(s)", script.c_str()), r);
    const gchar* json = nullptr;
    if (r.reply) g_variant_get(r.reply, "(&s)", &json);
    return json ? nlohmann::json::parse(json, nullptr, false) : nlohmann::json();
  }
  bool waitForPage(const std::string& script, const nlohmann::json& expected,
                   double seconds = 10.0) {
    return runUntil([&] { return page(script) == expected; }, seconds);
  }
  DesktopLock lock_;
  TestWatcher watcher_;
  std::string home_;
  GDBusConnection* peer_ = nullptr;
  std::unique_ptr<Process> quorvel_;
  int started_ = 0;
  std::string program_ = QUORVEL_BINARY_DIR "/quorvel_probed";
};

}  // namespace quorvel::testing
