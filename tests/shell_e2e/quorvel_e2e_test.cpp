// The real program on the test session's desktop: tray item, popover, menu, F6, single
// instance, later starts with --toggle and --show, and quit, driven as a panel and a user would
// drive them; on X11 and as a Wayland client of weston, with and without a tray,
// with the hot key bound through the real desktop portal.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string_view>

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

// Runs a program and returns its standard output ("" when it failed).
std::string capture(const std::vector<std::string>& args) {
  std::vector<gchar*> argv;
  for (const auto& a : args) argv.push_back(const_cast<gchar*>(a.c_str()));
  argv.push_back(nullptr);
  gchar* out = nullptr;
  gint status = 0;
  if (!g_spawn_sync(nullptr, argv.data(), nullptr,
                    GSpawnFlags(G_SPAWN_SEARCH_PATH | G_SPAWN_STDERR_TO_DEV_NULL), nullptr, nullptr,
                    &out, nullptr, &status, nullptr)) {
    return "";
  }
  std::string text = out ? out : "";
  g_free(out);
  return g_spawn_check_wait_status(status, nullptr) ? text : "";
}

// Geometry lines of visible top-level windows titled exactly "Quorvel", e.g. "440x420".
std::vector<std::string> visiblePopoverSizes() {
  std::vector<std::string> sizes;
  std::istringstream lines(capture(
      {"xdotool", "search", "--onlyvisible", "--name", "^Quorvel$", "getwindowgeometry", "%@"}));
  for (std::string line; std::getline(lines, line);) {
    auto at = line.find("Geometry: ");
    if (at != std::string::npos) sizes.push_back(line.substr(at + 10));
  }
  return sizes;
}

bool hasPureRed(GVariant* pixmaps) {
  bool red = false;
  for (gsize i = 0; pixmaps && i < g_variant_n_children(pixmaps); ++i) {
    GVariant* entry = g_variant_get_child_value(pixmaps, i);
    gint w = 0, h = 0;
    GVariant* bytes = nullptr;
    g_variant_get(entry, "(ii@ay)", &w, &h, &bytes);
    gsize n = 0;
    auto* data = static_cast<const guint8*>(g_variant_get_fixed_array(bytes, &n, 1));
    for (gsize p = 0; p + 3 < n; p += 4) {
      if (data[p] == 255 && data[p + 1] == 255 && data[p + 2] == 0 && data[p + 3] == 0) red = true;
    }
    g_variant_unref(bytes);
    g_variant_unref(entry);
  }
  return red;
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
  fs::path configFile() const { return fs::path(home_) / ".config/quorvel/config.json"; }

  // Starts the program and waits for its tray item; returns the time to registration in ms.
  double launch(const std::vector<std::string>& args = {},
                const std::vector<std::pair<std::string, std::string>>& env = {},
                const std::string& program = std::string(QUORVEL_BINARY_DIR) + "/quorvel_probed") {
    const size_t before = watcher_.registered().size();
    process_ = std::make_unique<QuorvelProcess>(home_, program);
    EXPECT_TRUE(process_->start(args, env));
    bool registered = runUntil([&] { return watcher_.registered().size() > before; }, 30.0);
    double elapsed = millisSince(process_->startedAt());
    EXPECT_TRUE(registered) << process_->output();
    if (registered) service_ = watcher_.registered().back();
    return elapsed;
  }
  // A later start of the program with `args`; true when it left with status 0 and said nothing.
  bool startAgain(const std::vector<std::string>& args,
                  const std::vector<std::pair<std::string, std::string>>& env = {}) {
    QuorvelProcess later(home_);
    if (!later.start(args, env) || !later.waitForExit(20.0)) return false;
    EXPECT_EQ(later.output(), "");
    return g_spawn_check_wait_status(later.exitStatus(), nullptr);
  }

  GDBusConnection* bus() const { return peer_; }

  std::optional<nlohmann::json> eval(const std::string& script) {
    CallResult r;
    call(bus(), service_.c_str(), "/app/quorvel/TestProbe", "app.quorvel.TestProbe", "Eval",
         g_variant_new("(s)", script.c_str()), r);
    if (!r.reply) return std::nullopt;
    const gchar* json = nullptr;
    g_variant_get(r.reply, "(&s)", &json);
    return nlohmann::json::parse(json, nullptr, false);
  }
  bool waitForPage(const std::string& script, const nlohmann::json& expected,
                   double seconds = 10.0) {
    return runUntil([&] { return eval(script) == expected; }, seconds);
  }
  bool popoverShown() {
    CallResult r;
    call(bus(), service_.c_str(), "/app/quorvel/TestProbe", "app.quorvel.TestProbe", "PopoverShown",
         nullptr, r);
    gboolean shown = FALSE;
    if (r.reply) g_variant_get(r.reply, "(b)", &shown);
    return shown;
  }

  GVariant* itemProperty(const char* name) {
    return getProperty(bus(), service_.c_str(), "/StatusNotifierItem", "org.kde.StatusNotifierItem",
                       name);
  }
  std::string toolTipTitle() {
    GVariant* tip = itemProperty("ToolTip");
    if (!tip) return "<none>";
    const gchar* title = nullptr;
    g_variant_get_child(tip, 2, "&s", &title);
    std::string text = title ? title : "";
    g_variant_unref(tip);
    return text;
  }
  bool badgeIsRed() {
    GVariant* pixmaps = itemProperty("IconPixmap");
    bool red = hasPureRed(pixmaps);
    if (pixmaps) g_variant_unref(pixmaps);
    return red;
  }
  void activate() {
    CallResult r;
    call(bus(), service_.c_str(), "/StatusNotifierItem", "org.kde.StatusNotifierItem", "Activate",
         g_variant_new("(ii)", 1100, 0), r);
    EXPECT_TRUE(r.reply) << r.error;
  }

  std::string menuPath() {
    GVariant* path = itemProperty("Menu");
    std::string text = path ? g_variant_get_string(path, nullptr) : "";
    if (path) g_variant_unref(path);
    return text;
  }
  // The menu as a panel shows it after asking for a fresh one.
  MenuNode menu() {
    sendAboutToShow(bus(), service_, menuPath(), 0);
    bool ok = false;
    MenuNode root = getMenuLayout(bus(), service_, menuPath(), ok);
    EXPECT_TRUE(ok);
    return root;
  }
  void choose(const std::string& submenu, const std::string& label) {
    MenuNode root = menu();
    const MenuNode* node = submenu.empty() ? &root : root.child(submenu);
    ASSERT_NE(node, nullptr) << submenu;
    const MenuNode* item = node->child(label);
    ASSERT_NE(item, nullptr) << label;
    EXPECT_TRUE(sendMenuEvent(bus(), service_, menuPath(), item->id, "clicked"));
  }
  std::optional<nlohmann::json> config() {
    std::ifstream in(configFile());
    if (!in) return std::nullopt;
    return nlohmann::json::parse(in, nullptr, false);
  }
  void screenshot(const std::string& name) {
    EXPECT_TRUE(runProgram({"import", "-window", "root", (screenshots() / name).string()}));
  }
  // Takes pictures of the screen until something other than the empty black root shows (the
  // web view paints a moment after its window is mapped), keeping the last one.
  bool screenshotOncePainted(const std::string& name, double seconds = 10.0) {
    std::string path = (screenshots() / name).string();
    return runUntil(
        [&] {
          if (!runProgram({"import", "-window", "root", path})) return false;
          return capture({"convert", path, "-format", "%[max]", "info:"}) != "0";
        },
        seconds);
  }

  std::unique_ptr<DesktopLock> lock_;
  std::string home_;
  TestWatcher watcher_;
  std::unique_ptr<QuorvelProcess> process_;
  std::string service_;
  GDBusConnection* peer_ = nullptr;
};

TEST_F(QuorvelDesktopTest, registers_its_tray_item_with_icon_grabs_f6_and_keeps_one_instance) {
  double startup = launch();
  ASSERT_FALSE(service_.empty());
  std::cout << "[figure] start-up to tray item registered: " << startup << " ms" << std::endl;
  RecordProperty("startup_to_item_registered_ms", std::to_string(startup));
  EXPECT_TRUE(process_->waitForOutput("[Hotkey] F6 global hotkey registered\n"));
  GVariant* pixmaps = itemProperty("IconPixmap");
  ASSERT_NE(pixmaps, nullptr);
  EXPECT_GT(g_variant_n_children(pixmaps), 0u);
  EXPECT_FALSE(hasPureRed(pixmaps));
  g_variant_unref(pixmaps);
  EXPECT_FALSE(popoverShown());
  EXPECT_TRUE(visiblePopoverSizes().empty());

  QuorvelProcess second(home_);
  ASSERT_TRUE(second.start());
  ASSERT_TRUE(second.waitForExit(20.0));
  EXPECT_EQ(second.exitStatus(), 0);
  EXPECT_EQ(second.output(), "Quorvel is already running\n");
  EXPECT_EQ(watcher_.registered().size(), 1u);
  EXPECT_TRUE(process_->running());
}

TEST_F(QuorvelDesktopTest, activate_opens_the_page_in_a_440_by_420_popover_and_again_closes_it) {
  launch();
  ASSERT_TRUE(waitForPage("document.readyState === 'complete' && typeof toggleState", "function"));
  auto start = Clock::now();
  activate();
  ASSERT_TRUE(runUntil([] { return !visiblePopoverSizes().empty(); }, 10.0));
  double openMs = millisSince(start);
  std::cout << "[figure] Activate to popover visible: " << openMs << " ms" << std::endl;
  RecordProperty("popover_open_ms", std::to_string(openMs));
  EXPECT_EQ(visiblePopoverSizes(), std::vector<std::string>{"440x420"});
  EXPECT_TRUE(popoverShown());
  EXPECT_EQ(eval("document.documentElement.classList.contains('dark')"), false);
  EXPECT_TRUE(screenshotOncePainted("popover-light.png"));
  double paintedMs = millisSince(start);
  std::cout << "[figure] Activate to page painted in the popover: " << paintedMs << " ms"
            << std::endl;
  RecordProperty("popover_painted_ms", std::to_string(paintedMs));

  activate();
  ASSERT_TRUE(runUntil([] { return visiblePopoverSizes().empty(); }, 10.0));
  EXPECT_FALSE(popoverShown());
}

TEST_F(QuorvelDesktopTest, menu_stores_theme_and_language_and_switches_the_page) {
  fs::create_directories(configFile().parent_path());
  std::ofstream(configFile()) << R"({"deepseek_api_key": "sk-kept"})";
  launch();
  ASSERT_TRUE(waitForPage("typeof toggleState", "function"));

  MenuNode root = menu();
  EXPECT_EQ(root.labels(), (std::vector<std::string>{"Language", "Theme", "Start at Login",
                                                     "Paste into Active App", "-",
                                                     "About Quorvel v1.1.0", "-", "Quit Quorvel"}));
  std::vector<std::string> checked;
  for (const auto* group : {root.child("Language"), root.child("Theme")}) {
    ASSERT_NE(group, nullptr);
    for (const auto& item : group->children) {
      if (item.toggleState == 1) checked.push_back(item.label);
    }
  }
  EXPECT_EQ(checked, (std::vector<std::string>{"English", "Light"}));
  EXPECT_EQ(root.child("Language")->children.size(), 17u);

  choose("Theme", "Dark");
  ASSERT_TRUE(runUntil([&] { return config().value_or(nlohmann::json{}).contains("theme"); }));
  EXPECT_EQ(config(), nlohmann::json::parse(R"({"deepseek_api_key": "sk-kept", "theme": "dark"})"));
  EXPECT_TRUE(waitForPage("document.documentElement.classList.contains('dark')", true));
  activate();
  ASSERT_TRUE(runUntil([] { return !visiblePopoverSizes().empty(); }, 10.0));
  EXPECT_TRUE(screenshotOncePainted("popover-dark.png"));

  choose("Language", "中文 (Chinese)");
  EXPECT_TRUE(waitForPage("lang", "zh"));
  EXPECT_EQ(config().value_or(nlohmann::json{}).value("speech_locale", ""), "zh-Hans");
  EXPECT_EQ(config().value_or(nlohmann::json{}).value("deepseek_api_key", ""), "sk-kept");
  checked.clear();
  MenuNode after = menu();
  ASSERT_NE(after.child("Language"), nullptr);
  for (const auto& item : after.child("Language")->children) {
    if (item.toggleState == 1) checked.push_back(item.label);
  }
  EXPECT_EQ(checked, std::vector<std::string>{"中文 (Chinese)"});
}

TEST_F(QuorvelDesktopTest, f6_toggles_the_page_and_shows_the_badge_then_quit_ends_the_process) {
  launch();
  ASSERT_TRUE(process_->waitForOutput("[Hotkey] F6 global hotkey registered\n"));
  ASSERT_TRUE(waitForPage("document.readyState === 'complete' && state", "idle"));
  // The menu as a host that asks for it at a point: drawn by the program itself.
  CallResult r;
  call(bus(), service_.c_str(), "/StatusNotifierItem", "org.kde.StatusNotifierItem", "ContextMenu",
       g_variant_new("(ii)", 1100, 0), r);
  ASSERT_TRUE(r.reply) << r.error;
  EXPECT_TRUE(screenshotOncePainted("menu.png"));
  ASSERT_TRUE(runProgram({"xdotool", "key", "Escape"}));
  std::string probe = (screenshots() / "after-menu.png").string();
  ASSERT_TRUE(runUntil([&] {
    return runProgram({"import", "-window", "root", probe}) &&
           capture({"convert", probe, "-format", "%[max]", "info:"}) == "0";
  }));
  fs::remove(probe);

  ASSERT_TRUE(runProgram({"xdotool", "key", "F6"}));
  EXPECT_TRUE(waitForPage("state", "recording"));
  EXPECT_TRUE(runUntil([this] { return badgeIsRed(); }));
  EXPECT_EQ(toolTipTitle(), "Recording...");
  EXPECT_TRUE(popoverShown());

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
  struct RemoveRoot {
    std::string path;
    ~RemoveRoot() {
      std::error_code ignored;
      fs::remove_all(path, ignored);
    }
  } removeRoot{root};
  ASSERT_TRUE(runProgram({"dpkg", "-x", deb, root}));
  const std::string program = root + "/usr/bin/quorvel";
  // The packaged program has no test probe: the tests' build of the same sources stands in for
  // it at its place in the package.
  fs::copy_file(std::string(QUORVEL_BINARY_DIR) + "/quorvel_probed", program,
                fs::copy_options::overwrite_existing);

  launch({}, {}, program);
  ASSERT_FALSE(service_.empty());
  EXPECT_TRUE(waitForPage("document.readyState === 'complete' && location.href",
                          "file://" + root +
                              "/usr/share/quorvel/sonabel-mac-native_sonabel-mac-native.bundle/"
                              "ui.html"));
  fs::path folder = fs::path(home_) / ".config/quorvel";
  EXPECT_TRUE(fs::is_directory(folder));
  EXPECT_EQ(fs::status(folder).permissions() & fs::perms::all, fs::perms::owner_all);

  fs::path entry = fs::path(home_) / ".config/autostart/quorvel.desktop";
  auto loginRow = [this] {
    MenuNode root = menu();
    const MenuNode* row = root.child("Start at Login");
    return row && row->toggleType == "checkmark" ? row->toggleState : -1;
  };
  EXPECT_EQ(loginRow(), 0);
  choose("", "Start at Login");
  ASSERT_TRUE(runUntil([&] { return fs::exists(entry); }));
  EXPECT_EQ(loginRow(), 1);
  // The setting's check mark does not turn the plain commands into check rows.
  MenuNode shown = menu();
  const MenuNode* about = shown.child("About Quorvel v1.1.0");
  ASSERT_NE(about, nullptr);
  EXPECT_EQ(about->toggleType, "");
  EXPECT_TRUE(runProgram({"desktop-file-validate", entry.string()}));
  std::ifstream in(entry);
  std::string text((std::istreambuf_iterator<char>(in)), {});
  EXPECT_NE(text.find("\nExec=" + program + "\n"), std::string::npos) << text;

  choose("", "Start at Login");
  ASSERT_TRUE(runUntil([&] { return !fs::exists(entry); }));
  EXPECT_EQ(loginRow(), 0);
  std::ofstream(entry) << text;  // made outside the program
  EXPECT_EQ(loginRow(), 1);
}

TEST_F(QuorvelDesktopTest,
       toggle_from_a_later_start_records_in_the_running_one_and_alone_starts_idle) {
  launch({"--toggle"});
  ASSERT_TRUE(waitForPage("document.readyState === 'complete' && state", "idle"));
  EXPECT_FALSE(popoverShown());

  auto start = Clock::now();
  ASSERT_TRUE(startAgain({"--toggle"}));
  ASSERT_TRUE(process_->waitForOutput("[AudioEngine] recording started"));
  std::cout << "[figure] X11: --toggle to recording started: " << millisSince(start) << " ms"
            << std::endl;
  EXPECT_TRUE(waitForPage("state", "recording"));
  EXPECT_TRUE(runUntil([this] { return badgeIsRed(); }));
  EXPECT_TRUE(popoverShown());
  ASSERT_TRUE(startAgain({"--toggle"}));
  EXPECT_TRUE(runUntil([this] { return !badgeIsRed(); }));
  EXPECT_NE(eval("state"), "recording");
}

// Quorvel as a Wayland client of weston, with the real portal frontend on the bus.
class QuorvelWaylandTest : public QuorvelDesktopTest {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(QuorvelDesktopTest::SetUp());
    ASSERT_TRUE(weston_.start());
  }
  std::vector<std::pair<std::string, std::string>> wayland() const {
    return {{"GDK_BACKEND", "wayland"}, {"WAYLAND_DISPLAY", weston_.socket()}};
  }
  bool pageVisible() {
    return eval("document.readyState === 'complete' && document.visibilityState") == "visible";
  }

  Weston weston_;
  TestShortcutsPortal portal_;
};

TEST_F(QuorvelWaylandTest, without_a_tray_the_page_is_a_window_that_show_and_a_new_start_reopen) {
  watcher_.stop();
  ASSERT_TRUE(portal_.start(false));
  process_ = std::make_unique<QuorvelProcess>(home_);
  ASSERT_TRUE(process_->start({}, wayland()));
  ASSERT_TRUE(process_->waitForOutput(std::string(
      "[Tray] No system tray found, so Quorvel is shown as a window; after closing it, run "
      "\"quorvel --show\" or start Quorvel again to bring it back\n")));
  service_ = "app.quorvel.Quorvel";
  ASSERT_TRUE(runUntil([this] { return pageVisible(); }, 20.0)) << process_->errors();
  std::cout << "[figure] weston: start to window showing the page: "
            << millisSince(process_->startedAt()) << " ms" << std::endl;
  EXPECT_TRUE(waitForPage("typeof toggleState", "function"));

  for (const std::vector<std::string>& args : {std::vector<std::string>{"--show"}, {}}) {
    CallResult r;
    call(bus(), service_.c_str(), "/app/quorvel/TestProbe", "app.quorvel.TestProbe", "ClosePopover",
         nullptr, r);
    ASSERT_TRUE(runUntil([this] { return !popoverShown(); }));
    ASSERT_TRUE(startAgain(args, wayland()));
    EXPECT_TRUE(runUntil([this] { return popoverShown() && pageVisible(); }));
  }

  auto start = Clock::now();
  ASSERT_TRUE(startAgain({"--toggle"}, wayland()));
  ASSERT_TRUE(process_->waitForOutput("[AudioEngine] recording started"));
  std::cout << "[figure] weston: --toggle to recording started: " << millisSince(start) << " ms"
            << std::endl;
  EXPECT_TRUE(waitForPage("state", "recording"));
  EXPECT_TRUE(process_->running());
  EXPECT_EQ(process_->errors().find("CRITICAL"), std::string::npos) << process_->errors();
}

TEST_F(QuorvelWaylandTest, portal_shortcut_toggles_recording_and_a_refusal_is_reported) {
  const struct {
    bool refuse;
    const char* line;
  } cases[] = {
      {false, "[Hotkey] F6 global hotkey registered\n"},
      {true, "[Hotkey] Failed to register F6 hotkey: -5\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    TestShortcutsPortal portal;
    ASSERT_TRUE(portal.start(c.refuse));
    launch({}, wayland());
    ASSERT_TRUE(process_->waitForOutput(c.line)) << process_->output();
    ASSERT_TRUE(waitForPage("document.readyState === 'complete' && state", "idle", 20.0));
    EXPECT_TRUE(portal.sessionCreated());
    if (c.refuse) {
      EXPECT_TRUE(portal.bound().empty());
      EXPECT_TRUE(process_->running());
    } else {
      EXPECT_EQ(portal.bound(), (std::vector<TestShortcutsPortal::Bound>{
                                    {"toggle-recording", "Start or stop dictation", "F6"}}));
      portal.press("toggle-recording");
      EXPECT_TRUE(waitForPage("state", "recording"));
      EXPECT_TRUE(process_->waitForOutput("[AudioEngine] recording started"));
      EXPECT_TRUE(runUntil([this] { return badgeIsRed(); }));
      EXPECT_EQ(toolTipTitle(), "Recording...");
      portal.press("toggle-recording");
      EXPECT_TRUE(runUntil([this] { return !badgeIsRed(); }));
      EXPECT_EQ(toolTipTitle(), "Quorvel");
    }
    EXPECT_EQ(process_->errors().find("CRITICAL"), std::string::npos) << process_->errors();
    process_.reset();
  }
}

// A chat-completion server on the loopback that takes requests and never answers them: a polish
// stays in flight for as long as the test wants.
class SilentServer {
 public:
  SilentServer() : service_(g_socket_service_new()) {
    port_ = g_socket_listener_add_any_inet_port(G_SOCKET_LISTENER(service_), nullptr, nullptr);
    g_signal_connect(service_, "incoming", G_CALLBACK(onIncoming), this);
    g_socket_service_start(service_);
  }
  ~SilentServer() {
    g_socket_service_stop(service_);
    g_socket_listener_close(G_SOCKET_LISTENER(service_));
    for (GSocketConnection* c : held_) g_object_unref(c);
    g_object_unref(service_);
  }
  int port() const { return port_; }
  bool requested() const { return !held_.empty(); }

 private:
  static gboolean onIncoming(GSocketService*, GSocketConnection* connection, GObject*,
                             gpointer self) {
    static_cast<SilentServer*>(self)->held_.push_back(
        G_SOCKET_CONNECTION(g_object_ref(connection)));
    return TRUE;
  }
  GSocketService* service_;
  int port_ = 0;
  std::vector<GSocketConnection*> held_;
};

// Stored files to check after the end: written before the start, parsed again afterwards.
const char kHistory[] = R"("[{\"raw\":\"kept\"}]")";
const char kUsage[] =
    R"({"total_chars": 12, "total_sessions": 1, "month_chars": 12, "month": "2026-12", "daily": {}})";

TEST_F(QuorvelDesktopTest,
       a_termination_signal_during_a_dictation_or_a_polish_ends_it_promptly_and_quietly) {
  if (std::getenv("QUORVEL_TEST_PULSE") == nullptr)
    GTEST_SKIP() << "needs the session's PulseAudio";
  struct Case {
    const char* during;
    int signal;
    bool polish;
  };
  const Case cases[] = {{"dictation", SIGTERM, false},
                        {"polish", SIGTERM, true},
                        {"dictation", SIGHUP, false},
                        {"dictation", SIGINT, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.during) + " signal " + std::to_string(c.signal));
    SilentServer server;
    fs::create_directories(configFile().parent_path());
    const fs::path folder = configFile().parent_path();
    std::ofstream(configFile()) << nlohmann::json{
        {"deepseek_api_key", "sk-test"},
        {"api_base_url", "http://127.0.0.1:" + std::to_string(server.port())}};
    std::ofstream(folder / "history.json") << kHistory;
    std::ofstream(folder / "usage.json") << kUsage;
    launch();
    ASSERT_TRUE(process_->waitForOutput("[Hotkey] F6 global hotkey registered\n"));
    ASSERT_TRUE(waitForPage("document.readyState === 'complete' && state", "idle"));
    ASSERT_TRUE(runProgram({"xdotool", "key", "F6"}));
    ASSERT_TRUE(waitForPage("state", "recording"));
    if (c.polish) {
      ASSERT_TRUE(
          runProgram({"paplay", "-d", "vmic", "--raw", "--rate=16000", "--channels=1",
                      "--format=s16le", "/usr/share/pocketsphinx/test/data/goforward.raw"}));
      ASSERT_TRUE(runProgram({"xdotool", "key", "F6"}));
      ASSERT_TRUE(runUntil([&] { return server.requested(); }, 20.0)) << process_->output();
    }
    const auto sent = Clock::now();
    ASSERT_EQ(kill(process_->pid(), c.signal), 0);
    ASSERT_TRUE(process_->waitForExit(5.0));
    const double exitMs = millisSince(sent);
    std::cout << "[figure] signal " << c.signal << " during a " << c.during
              << " to process end: " << exitMs << " ms" << std::endl;
    EXPECT_TRUE(g_spawn_check_wait_status(process_->exitStatus(), nullptr));
    for (std::string_view noise : {"CRITICAL", "WARNING", "Gtk-", "GLib-", "Gdk-"}) {
      EXPECT_EQ(process_->output().find(noise), std::string::npos) << process_->output();
    }
    // Stored files are whole, and no temporary file is left beside them.
    for (const auto& entry : fs::directory_iterator(folder)) {
      const std::string name = entry.path().filename().string();
      EXPECT_NE(name.front(), '.') << name;
      if (entry.path().extension() == ".json") {
        std::ifstream in(entry.path());
        EXPECT_FALSE(nlohmann::json::parse(in, nullptr, false).is_discarded()) << name;
      }
    }
    std::ifstream history(folder / "history.json");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(history), {}), kHistory);
    process_.reset();
  }
}

}  // namespace
}  // namespace quorvel::testing
