// A hot-key dictation pasted into the window the user works in: the real program on the test
// session's desktop, F6 from xdotool, the microphone fed with a recording and a chat server of
// the test's own; the window is this test's, with a text entry holding the focus.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>

#include <nlohmann/json.hpp>

#include "fakes/loopback_http_server.h"
#include "platform/linux/desktop/desktop_session.h"
#include "shell_e2e/quorvel_process.h"

// Last: Xlib defines macros (None, Bool) that clash with names in the headers above.
#include <X11/Xlib.h>
#include <gdk/gdkx.h>

namespace quorvel::testing {
namespace {

using Clock = std::chrono::steady_clock;
const char kEarlier[] = "on the clipboard before";

bool anyKeyDown() {
  char keys[32] = {};
  XQueryKeymap(GDK_DISPLAY_XDISPLAY(gdk_display_get_default()), keys);
  return std::any_of(std::begin(keys), std::end(keys), [](char k) { return k != 0; });
}

bool clipboardHolds(const char* expected) {
  gchar* text = gtk_clipboard_wait_for_text(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD));
  const bool same = g_strcmp0(text, expected) == 0;
  g_free(text);
  return same;
}

TEST(PasteIntoActiveApp, only_a_hot_key_dictation_with_the_option_on_lands_in_the_focused_entry) {
  if (std::getenv("QUORVEL_TEST_PULSE") == nullptr)
    GTEST_SKIP() << "needs the session's PulseAudio";
  ASSERT_TRUE(startGtk());
  DesktopLock lock;
  ASSERT_TRUE(lock.held());
  TestWatcher watcher;
  ASSERT_TRUE(watcher.start());
  GDBusConnection* peer = newPeerConnection();
  struct Case {
    const char *name, *pasted;  // pasted: "" for nothing, null for the transcript as delivered
    bool option, fromPopover, holdShift;
  };
  const Case cases[] = {
      {"hot key", "Go forward ten meters.", true, false, false},
      {"Shift held at delivery, polish failed", nullptr, true, false, true},
      {"option off", "", false, false, false},
      {"dictation from the popover", "", true, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LoopbackHttpServer chat;
    chat.setDefault(c.holdShift ? LoopbackHttpServer::Reply::stalling()
                                : LoopbackHttpServer::Reply{200, R"({"choices":[{"message":
                                      {"content":"Go forward ten meters."}}]})"});
    char pattern[] = "/var/tmp/quorvel-paste-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::filesystem::path home = pattern;
    std::filesystem::create_directories(home / ".config/quorvel");
    nlohmann::json config{{"deepseek_api_key", "sk-test"}, {"api_base_url", chat.url()}};
    if (c.option) config["paste_into_active_app"] = true;
    std::ofstream(home / ".config/quorvel/config.json") << config;

    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    GtkWidget* entry = gtk_entry_new();
    gtk_container_add(GTK_CONTAINER(window), entry);
    gtk_widget_show_all(window);
    // Focused as a window manager would, whichever program held the focus last.
    gdk_display_sync(gdk_display_get_default());  // mapped: no window manager to wait for
    ASSERT_TRUE(runProgram(
        {"xdotool", "windowfocus", std::to_string(GDK_WINDOW_XID(gtk_widget_get_window(window)))}));
    ASSERT_TRUE(runUntil([&] { return gtk_window_is_active(GTK_WINDOW(window)); }));
    gtk_clipboard_set_text(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD), kEarlier, -1);

    const size_t items = watcher.registered().size();
    QuorvelProcess quorvel(home.string());
    ASSERT_TRUE(quorvel.start());
    ASSERT_TRUE(runUntil([&] { return watcher.registered().size() > items; }, 30.0));
    const std::string service = watcher.registered().back();
    auto page = [&](const std::string& script) {
      CallResult r;
      call(peer, service.c_str(), "/app/quorvel/TestProbe", "app.quorvel.TestProbe", "Eval",
           g_variant_new("(s)", script.c_str()), r);
      const gchar* json = nullptr;
      if (r.reply) g_variant_get(r.reply, "(&s)", &json);
      return json ? nlohmann::json::parse(json, nullptr, false) : nlohmann::json();
    };
    ASSERT_TRUE(quorvel.waitForOutput("[Hotkey] F6 global hotkey registered\n"));
    ASSERT_TRUE(
        runUntil([&] { return page("document.readyState === 'complete' && state") == "idle"; }));
    if (c.fromPopover) {
      CallResult r;
      call(peer, service.c_str(), "/StatusNotifierItem", "org.kde.StatusNotifierItem", "Activate",
           g_variant_new("(ii)", 1100, 0), r);
      ASSERT_TRUE(runUntil([&] { return !gtk_window_is_active(GTK_WINDOW(window)); }));
    }
    ASSERT_TRUE(runProgram({"xdotool", "key", "F6"}));
    ASSERT_TRUE(runUntil([&] { return page("state") == "recording"; }));
    ASSERT_TRUE(runProgram({"paplay", "-d", "vmic", "--raw", "--rate=16000", "--channels=1",
                            "--format=s16le", "/usr/share/pocketsphinx/test/data/goforward.raw"}));
    ASSERT_TRUE(runProgram({"xdotool", "key", "F6"}));
    ASSERT_TRUE(quorvel.waitForOutput("[AudioEngine] delivering final: ", 20.0))
        << quorvel.output();
    const auto deliveredAt = Clock::now();
    if (c.holdShift) {
      ASSERT_TRUE(runUntil([&] { return !chat.requests().empty(); }));
      ASSERT_TRUE(runProgram({"xdotool", "keydown", "Shift_L"}));
      chat.releaseStalls();
    }
    const std::string& out = quorvel.output();
    const size_t raw = out.find("final: ") + 7;
    const std::string pasted = c.pasted ? c.pasted : out.substr(raw, out.find('\n', raw) - raw);
    if (!pasted.empty()) {
      auto text = [&] { return std::string(gtk_entry_get_text(GTK_ENTRY(entry))); };
      EXPECT_TRUE(runUntil([&] { return text() == pasted; })) << text() << quorvel.output();
      const auto typedAt = Clock::now();  // the turn of the main loop that took the paste
      if (!c.holdShift) {
        std::cout << "[figure] delivery line to text in the entry: "
                  << std::chrono::duration<double, std::milli>(typedAt - deliveredAt).count()
                  << " ms" << std::endl;
      }
      EXPECT_TRUE(runUntil([] { return clipboardHolds(kEarlier); }));
      EXPECT_FALSE(anyKeyDown());
      if (c.holdShift) runProgram({"xdotool", "keyup", "Shift_L"});
    } else {
      // The paste would close the popover first, in the same turn as the page's result.
      ASSERT_TRUE(runUntil([&] {
        return page("document.getElementById('resultText').textContent") ==
               "Go forward ten meters.";
      }));
      CallResult shown;
      call(peer, service.c_str(), "/app/quorvel/TestProbe", "app.quorvel.TestProbe", "PopoverShown",
           nullptr, shown);
      gboolean stillShown = FALSE;
      if (shown.reply) g_variant_get(shown.reply, "(b)", &stillShown);
      EXPECT_TRUE(stillShown);
      EXPECT_STREQ(gtk_entry_get_text(GTK_ENTRY(entry)), "");
    }
    gtk_widget_destroy(window);
    std::filesystem::remove_all(home);
  }
  g_object_unref(peer);
}

}  // namespace
}  // namespace quorvel::testing
