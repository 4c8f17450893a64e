// A hot-key dictation pasted into the window the user works in: the real program on the test
// session's desktop, F6 from xdotool, the microphone fed with a recording and a chat server of
// the test's own; the window is this test's, with a text entry holding the focus.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>

#include "fakes/loopback_http_server.h"
#include "shell_e2e/quorvel_process.h"

// Last: Xlib defines macros (None, Bool) that clash with names in the headers above.
#include <X11/Xlib.h>
#include <gdk/gdkx.h>

namespace quorvel::testing {
namespace {

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

TEST_F(QuorvelTest, only_a_hot_key_dictation_with_the_option_on_lands_in_the_focused_entry) {
  if (std::getenv("QUORVEL_TEST_PULSE") == nullptr)
    GTEST_SKIP() << "needs the session's PulseAudio";
  ASSERT_TRUE(watcher_.start());
  LoopbackHttpServer chat;
  chat.setDefault({200, R"({"choices":[{"message":{"content":"Go forward ten meters."}}]})"});
  for (bool option : {true, false}) {
    SCOPED_TRACE(option ? "option on" : "option off");
    std::ofstream(home_ + "/.config/quorvel/config.json")
        << nlohmann::json{{"deepseek_api_key", "sk-test"},
                          {"api_base_url", chat.url()},
                          {"paste_into_active_app", option}};
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

    ASSERT_TRUE(launch()) << quorvel_->output();
    ASSERT_TRUE(quorvel_->waitForOutput("[Hotkey] F6 global hotkey registered\n"));
    ASSERT_TRUE(runProgram({"xdotool", "key", "F6"}));
    ASSERT_TRUE(waitForPage("state", "recording"));
    ASSERT_TRUE(runProgram({"paplay", "-d", "vmic", "--raw", "--rate=16000", "--channels=1",
                            "--format=s16le", "/usr/share/pocketsphinx/test/data/goforward.raw"}));
    ASSERT_TRUE(runProgram({"xdotool", "key", "F6"}));
    auto text = [&] { return std::string(gtk_entry_get_text(GTK_ENTRY(entry))); };
    if (option) {
      EXPECT_TRUE(runUntil([&] { return text() == "Go forward ten meters."; }, 20.0))
          << text() << quorvel_->output();
      EXPECT_TRUE(runUntil([] { return clipboardHolds(kEarlier); }));
      EXPECT_FALSE(anyKeyDown());
    } else {
      // The paste would close the popover first, in the same turn as the page's result.
      EXPECT_TRUE(waitForPage("document.getElementById('resultText').textContent",
                              "Go forward ten meters.", 20.0))
          << quorvel_->output();
      EXPECT_EQ(page("document.visibilityState"), "visible");
      EXPECT_EQ(text(), "");
    }
    gtk_widget_destroy(window);
  }
}

}  // namespace
}  // namespace quorvel::testing
