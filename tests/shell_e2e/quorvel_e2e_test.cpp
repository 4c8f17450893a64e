// The real program on the test session's desktop: tray item, popover, menu, F6, single
// instance, later starts with --toggle and --show, quit and termination signals, driven as a
// panel and a user would drive them; on X11 and as a Wayland client of weston, with and without
// a tray, with the hot key bound through the real desktop portal.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>

#include <nlohmann/json.hpp>

#include "platform/linux/desktop/desktop_session.h"
#include "shell_e2e/quorvel_process.h"
#include "shell_e2e/wayland_session.h"

namespace quorvel::testing {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double millisSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

class QuorvelDesktopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    lock_ = std::make_unique<DesktopLock>();
    ASSERT_TRUE(lock_->held());
    // Not under /tmp: with HOME there, WebKit's sandboxed web process does not see the test
    // display's Xauthority (under /tmp too) and warns that it cannot open the display.
    char pattern[] = "/var/tmp/quorvel-e2e-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    home_ = pattern;
    ASSERT_TRUE(watcher_.start());
    peer_ = newPeerConnection();
    ASSERT_NE(peer_, nullptr);
    fs::create_directories(screenshots());
  }
  void TearDown() override {
    process_.reset();
    watcher_.stop();
    if (peer_) g_object_unref(peer_);
    if (!home_.empty()) fs::remove_all(home_);
  }

  static fs::path screenshots() { return fs::path(QUORVEL_BINARY_DIR) / "screenshots"; }
  fs::path folder() const { return fs::path(home_) / ".config/quorvel"; }

  // Starts the program and waits for its tray item; returns the time to registration in ms.
  double launch(const std::vector<std::string>& args = {}, const Env& env = {},
                const std::string& program = std::string(QUORVEL_BINARY_DIR) + "/quorvel_probed") {
    const size_t before = watcher_.registered().size();
    process_ = std::make_unique<QuorvelProcess>(home_, program);
    EXPECT_TRUE(process_->start(args, env));
    bool registered = runUntil([&] { return watcher_.registered().size() > before; }, 30.0);
    EXPECT_TRUE(registered) << process_->output();
    if (registered) service_ = watcher_.registered().back();
    return millisSince(process_->startedAt());
  }
  // A later start of the program with `args`: its output, once it has left with status 0.
  std::string startAgain(const std::vector<std::string>& args, const Env& env = {}) {
    QuorvelProcess later(home_);
    if (!later.start(args, env) || !later.waitForExit(20.0)) return "<did not end>";
    return g_spawn_check_wait_status(later.exitStatus(), nullptr) ? later.output() : "<failed>";
  }

  // The test probe's answer, or "" when it gave none.
  std::string probe(const char* method, GVariant* params = nullptr) {
    CallResult r;
    call(peer_, service_.c_str(), "/app/quorvel/TestProbe", "app.quorvel.TestProbe", method, params,
         r);
    if (!r.reply) return "";
    const gchar* text = "()";
    gboolean yes = FALSE;
    if (g_variant_is_of_type(r.reply, G_VARIANT_TYPE("(s)"))) g_variant_get(r.reply, "(&s)", &text);
    if (g_variant_is_of_type(r.reply, G_VARIANT_TYPE("(b)"))) {
      g_variant_get(r.reply, "(b)", &yes);
      text = yes ? "true" : "false";
    }
    return text;
  }
  std::optional<nlohmann::json> eval(const std::string& script) {
    const std::string json = probe("Eval", g_variant_new("(s)", script.c_str()));
    if (json.empty()) return std::nullopt;
    return nlohmann::json::parse(json, nullptr, false);
  }
  bool waitForPage(const std::string& script, const nlohmann::json& expected,
                   double seconds = 10.0) {
    return runUntil([&] { return eval(script) == expected; }, seconds);
  }
  bool popoverShown() { return probe("PopoverShown") == "true"; }

  // A text property of the tray item (the tool tip's title for ToolTip).
  std::string item(const char* name) {
    GVariant* value = getProperty(peer_, service_.c_str(), "/StatusNotifierItem",
                                  "org.kde.StatusNotifierItem", name);
    if (!value) return "<none>";
    GVariant* text =
        g_variant_is_container(value) ? g_variant_get_child_value(value, 2) : g_variant_ref(value);
    std::string out = g_variant_get_string(text, nullptr);
    g_variant_unref(text);
    g_variant_unref(value);
    return out;
  }
  bool recordingShown() { return item("IconName") == "quorvel-recording"; }
  void activate() {
    CallResult r;
    call(peer_, service_.c_str(), "/StatusNotifierItem", "org.kde.StatusNotifierItem", "Activate",
         g_variant_new("(ii)", 1100, 0), r);
    EXPECT_TRUE(r.reply) << r.error;
  }
  // Chooses a row of the menu as a panel shows it after asking for a fresh one.
  void choose(const std::string& submenu, const std::string& label) {
    sendAboutToShow(peer_, service_, item("Menu"), 0);
    bool ok = false;
    MenuNode root = getMenuLayout(peer_, service_, item("Menu"), ok);
    const MenuNode* node = submenu.empty() ? &root : root.child(submenu);
    ASSERT_TRUE(ok && node) << submenu;
    const MenuNode* row = node->child(label);
    ASSERT_NE(row, nullptr) << label;
    EXPECT_TRUE(sendMenuEvent(peer_, service_, item("Menu"), row->id, "clicked"));
  }
  nlohmann::json config() {
    std::ifstream in(folder() / "config.json");
    return in ? nlohmann::json::parse(in, nullptr, false) : nlohmann::json{};
  }
  // Takes pictures of the screen until something other than the empty black root shows (the
  // web view paints a moment after its window is mapped), keeping the last one.
  bool screenshotOncePainted(const std::string& name) {
    const std::string path = (screenshots() / name).string();
    return runUntil([&] {
      return runProgram({"import", "-window", "root", path}) &&
             capture({"convert", path, "-format", "%[max]", "info:"}) != "0";
    });
  }

  std::unique_ptr<DesktopLock> lock_;
  std::string home_;
  TestWatcher watcher_;
  std::unique_ptr<QuorvelProcess> process_;
  std::string service_;
  GDBusConnection* peer_ = nullptr;
};

TEST_F(QuorvelDesktopTest, one_instance_with_one_item_that_later_starts_toggle_and_alone_idle) {
  const double startup = launch({"--toggle"});
  ASSERT_FALSE(service_.empty());
  std::cout << "[figure] X11: start to tray item registered: " << startup << " ms" << std::endl;
  EXPECT_TRUE(process_->waitForOutput("[Hotkey] F6 global hotkey registered\n"));
  ASSERT_TRUE(waitForPage("document.readyState === 'complete' && state", "idle"));
  EXPECT_EQ(item("IconName"), "quorvel-symbolic");
  EXPECT_FALSE(popoverShown());
  EXPECT_EQ(quorvelWindowSizes(), "");
  EXPECT_EQ(startAgain({}), "Quorvel is already running\n");
  EXPECT_EQ(watcher_.registered().size(), 1u);

  auto start = Clock::now();
  ASSERT_EQ(startAgain({"--toggle"}), "");
  ASSERT_TRUE(process_->waitForOutput("[AudioEngine] recording started"));
  std::cout << "[figure] X11: --toggle to recording started: " << millisSince(start) << " ms"
            << std::endl;
  EXPECT_TRUE(waitForPage("state", "recording"));
  EXPECT_TRUE(runUntil([this] { return recordingShown(); }));
  EXPECT_EQ(item("ToolTip"), "Recording...");
  EXPECT_TRUE(popoverShown());
  ASSERT_EQ(startAgain({"--toggle"}), "");
  EXPECT_TRUE(runUntil([this] { return !recordingShown(); }));
  EXPECT_NE(eval("state"), "recording");
}

TEST_F(QuorvelDesktopTest, activate_opens_the_page_in_a_440_by_420_popover_and_again_closes_it) {
  launch();
  ASSERT_TRUE(waitForPage("document.readyState === 'complete' && typeof toggleState", "function"));
  auto start = Clock::now();
  activate();
  ASSERT_TRUE(runUntil([] { return !quorvelWindowSizes().empty(); }));
  std::cout << "[figure] Activate to popover visible: " << millisSince(start) << " ms" << std::endl;
  EXPECT_EQ(quorvelWindowSizes(), "440x420 ");
  EXPECT_TRUE(popoverShown());
  EXPECT_TRUE(screenshotOncePainted("popover-light.png"));
  std::cout << "[figure] Activate to page painted in the popover: " << millisSince(start) << " ms"
            << std::endl;
  activate();
  EXPECT_TRUE(runUntil([] { return quorvelWindowSizes().empty(); }));
  EXPECT_FALSE(popoverShown());
}

TEST_F(QuorvelDesktopTest, menu_stores_the_theme_f6_records_with_the_badge_and_quit_ends_it) {
  fs::create_directories(folder());
  std::ofstream(folder() / "config.json") << R"({"deepseek_api_key": "sk-kept"})";
  launch();
  ASSERT_TRUE(process_->waitForOutput("[Hotkey] F6 global hotkey registered\n"));
  ASSERT_TRUE(waitForPage("document.readyState === 'complete' && state", "idle"));
  choose("Theme", "Dark");
  EXPECT_TRUE(runUntil([&] { return config().contains("theme"); }));
  EXPECT_EQ(config(), nlohmann::json::parse(R"({"deepseek_api_key": "sk-kept", "theme": "dark"})"));
  EXPECT_TRUE(waitForPage("document.documentElement.classList.contains('dark')", true));

  ASSERT_TRUE(runProgram({"xdotool", "key", "F6"}));
  EXPECT_TRUE(waitForPage("state", "recording"));
  EXPECT_TRUE(runUntil([this] { return recordingShown(); }));
  EXPECT_EQ(item("ToolTip"), "Recording...");
  EXPECT_TRUE(popoverShown());
  EXPECT_TRUE(screenshotOncePainted("popover-dark.png"));

  choose("", "Quit Quorvel");
  ASSERT_TRUE(process_->waitForExit(10.0));
  EXPECT_TRUE(g_spawn_check_wait_status(process_->exitStatus(), nullptr));
}

// The Debian package as scripts/package builds it, unpacked into a temporary root the way dpkg
// installs it (maintainer scripts aside), started with a fresh HOME.
TEST_F(QuorvelDesktopTest, installed_package_finds_its_page_and_starts_at_login_as_itself) {
  const std::string deb = QUORVEL_PACKAGE_FILE;
  if (!fs::exists(deb)) GTEST_SKIP() << deb << " is not built; scripts/package builds it";
  const std::string root = home_ + "-root";
  ASSERT_TRUE(runProgram({"dpkg", "-x", deb, root}));
  const std::string program = root + "/usr/bin/quorvel";
  // The packaged program has no test probe: the tests' build of the same sources stands in for
  // it at its place in the package.
  fs::copy_file(std::string(QUORVEL_BINARY_DIR) + "/quorvel_probed", program,
                fs::copy_options::overwrite_existing);
  launch({}, {}, program);
  EXPECT_TRUE(waitForPage("document.readyState === 'complete' && location.href",
                          "file://" + root +
                              "/usr/share/quorvel/sonabel-mac-native_sonabel-mac-native.bundle/"
                              "ui.html"));
  EXPECT_EQ(fs::status(folder()).permissions() & fs::perms::all, fs::perms::owner_all);
  const fs::path entry = fs::path(home_) / ".config/autostart/quorvel.desktop";
  choose("", "Start at Login");
  ASSERT_TRUE(runUntil([&] { return fs::exists(entry); }));
  EXPECT_TRUE(runProgram({"desktop-file-validate", entry.string()}));
  std::ifstream in(entry);
  const std::string text((std::istreambuf_iterator<char>(in)), {});
  EXPECT_NE(text.find("\nExec=" + program + "\n"), std::string::npos) << text;
  fs::remove_all(root);
}

// A chat-completion server on the loopback that takes requests and never answers them: a polish
// stays in flight for as long as the test wants.
struct SilentServer {
  GSocketService* service = g_socket_service_new();
  int port = g_socket_listener_add_any_inet_port(G_SOCKET_LISTENER(service), nullptr, nullptr);
  std::vector<GSocketConnection*> held;
  SilentServer() {
    g_signal_connect(service, "incoming",
                     G_CALLBACK(+[](GSocketService*, GSocketConnection* connection, GObject*,
                                    SilentServer* self) -> gboolean {
                       self->held.push_back(G_SOCKET_CONNECTION(g_object_ref(connection)));
                       return TRUE;
                     }),
                     this);
  }
  ~SilentServer() {
    g_socket_service_stop(service);
    g_socket_listener_close(G_SOCKET_LISTENER(service));
    for (GSocketConnection* c : held) g_object_unref(c);
    g_object_unref(service);
  }
};

TEST_F(QuorvelDesktopTest,
       a_termination_signal_during_a_dictation_or_a_polish_ends_it_promptly_and_quietly) {
  if (std::getenv("QUORVEL_TEST_PULSE") == nullptr)
    GTEST_SKIP() << "needs the session's PulseAudio";
  const char kHistory[] = R"("[{\"raw\":\"kept\"}]")";
  const struct {
    const char* during;
    int signal;
  } cases[] = {
      {"dictation", SIGTERM}, {"polish", SIGTERM}, {"dictation", SIGHUP}, {"dictation", SIGINT}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.during) + " signal " + std::to_string(c.signal));
    SilentServer server;
    fs::create_directories(folder());
    std::ofstream(folder() / "config.json")
        << nlohmann::json{{"deepseek_api_key", "sk-test"},
                          {"api_base_url", "http://127.0.0.1:" + std::to_string(server.port)}};
    std::ofstream(folder() / "history.json") << kHistory;
    std::ofstream(folder() / "usage.json") << R"({"total_chars": 12, "daily": {}})";
    launch();
    ASSERT_TRUE(process_->waitForOutput("[Hotkey] F6 global hotkey registered\n"));
    ASSERT_TRUE(waitForPage("document.readyState === 'complete' && state", "idle"));
    ASSERT_TRUE(runProgram({"xdotool", "key", "F6"}));
    ASSERT_TRUE(waitForPage("state", "recording"));
    if (std::string(c.during) == "polish") {
      ASSERT_TRUE(
          runProgram({"paplay", "-d", "vmic", "--raw", "--rate=16000", "--channels=1",
                      "--format=s16le", "/usr/share/pocketsphinx/test/data/goforward.raw"}));
      ASSERT_TRUE(runProgram({"xdotool", "key", "F6"}));
      ASSERT_TRUE(runUntil([&] { return !server.held.empty(); }, 20.0)) << process_->output();
    }
    const auto sent = Clock::now();
    ASSERT_EQ(kill(process_->pid(), c.signal), 0);
    ASSERT_TRUE(process_->waitForExit(5.0));
    std::cout << "[figure] signal " << c.signal << " during a " << c.during
              << " to process end: " << millisSince(sent) << " ms" << std::endl;
    EXPECT_TRUE(g_spawn_check_wait_status(process_->exitStatus(), nullptr));
    EXPECT_TRUE(quiet(process_->output())) << process_->output();
    // Stored files are whole, and no temporary file is left beside them.
    for (const auto& entry : fs::directory_iterator(folder())) {
      const std::string name = entry.path().filename().string();
      EXPECT_NE(name.front(), '.') << name;
      std::ifstream in(entry.path());
      if (entry.path().extension() == ".json") {
        EXPECT_FALSE(nlohmann::json::parse(in, nullptr, false).is_discarded()) << name;
      }
    }
    std::ifstream history(folder() / "history.json");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(history), {}), kHistory);
    process_.reset();
  }
}

// Quorvel as a Wayland client of weston, with the real portal frontend on the bus.
class QuorvelWaylandTest : public QuorvelDesktopTest {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(QuorvelDesktopTest::SetUp());
    ASSERT_TRUE(weston_.start());
  }
  Env wayland() const {
    return {{"GDK_BACKEND", "wayland"}, {"WAYLAND_DISPLAY", weston_.socket()}};
  }
  bool pageVisible() {
    return eval("document.readyState === 'complete' && document.visibilityState") == "visible";
  }
  Weston weston_;
};

TEST_F(QuorvelWaylandTest, without_a_tray_the_page_is_a_window_that_show_and_a_new_start_reopen) {
  watcher_.stop();
  TestShortcutsPortal portal;
  ASSERT_TRUE(portal.start(false));
  process_ = std::make_unique<QuorvelProcess>(home_);
  ASSERT_TRUE(process_->start({}, wayland()));
  ASSERT_TRUE(process_->waitForOutput(std::string(
      "[Tray] No system tray found, so Quorvel is shown as a window; after closing it, run "
      "\"quorvel --show\" or start Quorvel again to bring it back\n")));
  service_ = "app.quorvel.Quorvel";
  ASSERT_TRUE(runUntil([this] { return pageVisible(); }, 20.0)) << process_->output();
  std::cout << "[figure] weston: start to window showing the page: "
            << millisSince(process_->startedAt()) << " ms" << std::endl;
  for (const std::vector<std::string>& args : {std::vector<std::string>{"--show"}, {}}) {
    probe("ClosePopover");
    ASSERT_TRUE(runUntil([this] { return !popoverShown(); }));
    ASSERT_EQ(startAgain(args, wayland()), "");
    EXPECT_TRUE(runUntil([this] { return popoverShown() && pageVisible(); }));
  }
  auto start = Clock::now();
  ASSERT_EQ(startAgain({"--toggle"}, wayland()), "");
  ASSERT_TRUE(process_->waitForOutput("[AudioEngine] recording started"));
  std::cout << "[figure] weston: --toggle to recording started: " << millisSince(start) << " ms"
            << std::endl;
  EXPECT_TRUE(waitForPage("state", "recording"));
  EXPECT_EQ(process_->output().find("CRITICAL"), std::string::npos) << process_->output();
}

TEST_F(QuorvelWaylandTest, portal_shortcut_toggles_recording_and_a_refusal_is_reported) {
  for (bool refuse : {false, true}) {
    SCOPED_TRACE(refuse ? "refused" : "bound");
    TestShortcutsPortal portal;
    ASSERT_TRUE(portal.start(refuse));
    launch({}, wayland());
    ASSERT_TRUE(process_->waitForOutput(refuse ? "[Hotkey] Failed to register F6 hotkey: -5\n"
                                               : "[Hotkey] F6 global hotkey registered\n"))
        << process_->output();
    ASSERT_TRUE(waitForPage("document.readyState === 'complete' && state", "idle", 20.0));
    EXPECT_TRUE(portal.sessionCreated());
    using Bound = std::vector<TestShortcutsPortal::Bound>;
    const Bound wanted =
        refuse ? Bound{} : Bound{{"toggle-recording", "Start or stop dictation", "F6"}};
    EXPECT_EQ(portal.bound(), wanted);
    for (bool recording : {true, false}) {
      if (refuse) break;
      portal.press("toggle-recording");
      EXPECT_TRUE(waitForPage("state === 'recording'", recording));
      if (recording) {
        EXPECT_TRUE(process_->waitForOutput("[AudioEngine] recording started"));
      }
      EXPECT_TRUE(runUntil([&] { return recordingShown() == recording; }));
      EXPECT_EQ(item("ToolTip"), recording ? "Recording..." : "Quorvel");
    }
    EXPECT_TRUE(process_->running());
    EXPECT_EQ(process_->output().find("CRITICAL"), std::string::npos) << process_->output();
    process_.reset();
  }
}

}  // namespace
}  // namespace quorvel::testing
