// The real program on the test session's desktop: one instance whose later starts toggle a
// dictation, ended quietly by a termination signal during one; and as a Wayland client of weston
// without a tray, its hot key bound through the real desktop portal.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "shell_e2e/quorvel_process.h"

namespace quorvel::testing {
namespace {

namespace fs = std::filesystem;
TEST_F(QuorvelTest, one_instance_toggled_by_later_starts_and_ended_quietly_by_a_signal) {
  if (std::getenv("QUORVEL_TEST_PULSE") == nullptr)
    GTEST_SKIP() << "needs the session's PulseAudio";
  ASSERT_TRUE(watcher_.start());
  // A first start with --toggle only starts the program.
  ASSERT_TRUE(launch("--toggle"));
  EXPECT_EQ(startAgain(""), "Quorvel is already running\n");
  for (const char* state : {"recording", "idle", "recording"}) {
    ASSERT_EQ(startAgain("--toggle"), "");
    ASSERT_TRUE(waitForPage("state", state));
  }
  // During a dictation.
  quorvel_->signal(SIGTERM);
  ASSERT_TRUE(quorvel_->waitForExit(5.0));
  EXPECT_TRUE(quorvel_->succeeded());
  EXPECT_TRUE(quiet(quorvel_->output())) << quorvel_->output();
  EXPECT_EQ(watcher_.registered().size(), 1u);
}

// What the desktop portal's frontend calls of a GlobalShortcuts backend.
constexpr char kBackendXml[] = R"xml(<node>
  <interface name="org.freedesktop.impl.portal.GlobalShortcuts">
    <method name="CreateSession"><arg type="o" direction="in"/><arg type="o" direction="in"/>
      <arg type="s" direction="in"/><arg type="a{sv}" direction="in"/>
      <arg type="u" direction="out"/><arg type="a{sv}" direction="out"/></method>
    <method name="BindShortcuts"><arg type="o" direction="in"/><arg type="o" direction="in"/>
      <arg type="a(sa{sv})" direction="in"/><arg type="s" direction="in"/>
      <arg type="a{sv}" direction="in"/>
      <arg type="u" direction="out"/><arg type="a{sv}" direction="out"/></method>
  </interface></node>)xml";
constexpr char kBackend[] = "org.freedesktop.impl.portal.desktop.quorveltest";
constexpr char kPortalPath[] = "/org/freedesktop/portal/desktop";

// The real xdg-desktop-portal frontend on the test session bus with a GlobalShortcuts backend of
// the test's own (in this process, on a private connection): it keeps what was bound, grants or
// refuses it, and presses shortcuts on demand.
struct TestShortcutsPortal {
  bool refuse = false;
  std::string session, bound;  // bound: the shortcuts of the last BindShortcuts, as text
  std::unique_ptr<OwnedName> backend;
  std::unique_ptr<Process> frontend;

  // The backend first (the frontend reads which backends exist once, at its start), then the
  // frontend; true once the frontend owns its name.
  bool start(const fs::path& dir) {
    fs::create_directories(dir);
    std::ofstream(dir / "quorvel-test.portal")
        << "[portal]\nDBusName=" << kBackend
        << "\nInterfaces=org.freedesktop.impl.portal.GlobalShortcuts;\nUseIn=quorvel-test\n";
    backend =
        std::make_unique<OwnedName>(kBackend, 10.0, kPortalPath, kBackendXml,
                                    [this](const gchar* method, GVariant* params) -> GVariant* {
                                      if (std::string(method) == "CreateSession") {
                                        const gchar* handle = nullptr;
                                        g_variant_get_child(params, 1, "&o", &handle);
                                        session = handle;
                                        return g_variant_new_parsed("(%u, @a{sv} {})", 0);
                                      }
                                      GVariant* shortcuts = g_variant_get_child_value(params, 2);
                                      gchar* text = g_variant_print(shortcuts, FALSE);
                                      bound = text;
                                      g_free(text);
                                      // Response 1: the user cancelled the dialog.
                                      GVariant* reply = g_variant_new_parsed(
                                          "(%u, {'shortcuts': %v})", guint32(refuse), shortcuts);
                                      g_variant_unref(shortcuts);
                                      return reply;
                                    });
    frontend = std::make_unique<Process>(
        "/usr/libexec/xdg-desktop-portal",
        Env{{"XDG_DESKTOP_PORTAL_DIR", dir}, {"XDG_CURRENT_DESKTOP", "quorvel-test"}});
    // Asked without calling the portal itself, which would start another one.
    return backend->held() &&
           runUntil([] { return nameOwned("org.freedesktop.portal.Desktop"); }, 15.0);
  }
  // The compositor saw the shortcut's keys pressed.
  void press(const char* id) {
    g_dbus_connection_emit_signal(
        backend->connection(), nullptr, kPortalPath, "org.freedesktop.impl.portal.GlobalShortcuts",
        "Activated",
        g_variant_new_parsed("(%o, %s, %t, @a{sv} {})", session.c_str(), id, guint64(0)), nullptr);
  }
};

TEST_F(QuorvelTest, on_wayland_without_a_tray_the_page_is_a_window_and_the_portal_key_toggles) {
  // weston drawing into a window of the test session's X display (its X11 backend: unlike the
  // headless one it has a seat, without which GTK and WebKit print criticals a real session
  // never shows), on a socket in a runtime folder of its own.
  const fs::path runtime = home_ + "/runtime";
  fs::create_directories(runtime);
  fs::permissions(runtime, fs::perms::owner_all);
  Process weston(
      "weston --backend=x11-backend.so --socket=wayland-quorvel --width=1024 --height=768 "
      "--use-pixman --idle-time=0 --no-config",
      {{"XDG_RUNTIME_DIR", runtime}});
  // An absolute path needs no shared runtime folder.
  const Env wayland{{"GDK_BACKEND", "wayland"}, {"WAYLAND_DISPLAY", runtime / "wayland-quorvel"}};
  ASSERT_TRUE(runUntil([&] { return fs::exists(runtime / "wayland-quorvel"); }));
  for (bool refuse : {false, true}) {
    SCOPED_TRACE(refuse ? "refused" : "granted");
    TestShortcutsPortal portal;
    portal.refuse = refuse;
    ASSERT_TRUE(portal.start(home_ + "/portal"));
    ASSERT_TRUE(launch("", wayland)) << quorvel_->output();
    EXPECT_TRUE(waitForPage("document.visibilityState", "visible"));
    EXPECT_TRUE(quorvel_->waitForOutput(refuse ? "[Hotkey] Failed to register F6 hotkey: -5\n"
                                               : "[Hotkey] F6 global hotkey registered\n"))
        << quorvel_->output();
    EXPECT_EQ(portal.bound,
              "[('toggle-recording', {'description': <'Start or stop dictation'>, "
              "'preferred_trigger': <'F6'>})]");
    if (!refuse) {
      for (bool recording : {true, false}) {
        portal.press("toggle-recording");
        EXPECT_TRUE(waitForPage("state === 'recording'", recording));
      }
    }
    EXPECT_EQ(quorvel_->output().find("CRITICAL"), std::string::npos) << quorvel_->output();
  }
}

// The Debian package unpacked the way dpkg installs it (maintainer scripts aside), with the tests'
// build of the program at the packaged program's place: it finds its page in the package.
TEST_F(QuorvelTest, installed_package_finds_its_page) {
  if (!fs::exists(QUORVEL_PACKAGE_FILE)) GTEST_SKIP() << "scripts/package builds the package";
  const std::string root = home_ + "/root";
  capture("dpkg -x " QUORVEL_PACKAGE_FILE " " + root);
  program_ = root + "/usr/bin/quorvel";
  ASSERT_TRUE(fs::copy_file(QUORVEL_BINARY_DIR "/quorvel_probed", program_,
                            fs::copy_options::overwrite_existing));
  ASSERT_TRUE(launch()) << quorvel_->output();
  EXPECT_EQ(page("location.pathname"),
            root + "/usr/share/quorvel/sonabel-mac-native_sonabel-mac-native.bundle/ui.html");
}

}  // namespace
}  // namespace quorvel::testing
