// F6 as the whole X display sees it: synthetic key events from xdotool, and a second X client
// that holds the key first.
// gtest first: Xlib defines macros (None, Bool) that clash with its names.
#include "platform/linux/desktop/x11_global_hot_key.h"
#include "platform/linux/desktop/desktop_session.h"

#include <X11/Xlib.h>
#include <gdk/gdkx.h>

namespace quorvel {
using X11GlobalHotKeyTest = testing::DesktopTest;

TEST_F(X11GlobalHotKeyTest, refuses_a_key_held_elsewhere_then_counts_each_press_once) {
  Display* other = XOpenDisplay(nullptr);
  ASSERT_NE(other, nullptr);
  const KeyCode f6 = XKeysymToKeycode(other, XStringToKeysym("F6"));
  XGrabKey(other, f6, Mod2Mask, DefaultRootWindow(other), False, GrabModeAsync, GrabModeAsync);
  XSync(other, False);
  int count = 0;
  EXPECT_EQ(X11GlobalHotKey().registerHotKey("F6", [&] { ++count; }), -BadAccess);
  // The grabs that did succeed were given back: once the other client lets go, a fresh
  // registration gets all four. An explicit ungrab answered by a round trip does not wait on the
  // server's handling of the connection's end.
  XUngrabKey(other, f6, Mod2Mask, DefaultRootWindow(other));
  XSync(other, False);
  XCloseDisplay(other);
  X11GlobalHotKey hotKey;
  ASSERT_EQ(hotKey.registerHotKey("F6", [&] { ++count; }), 0);
  // Held for a second, long enough for the server's auto-repeat to send a dozen repeats (the
  // sleep makes the stimulus; nothing waits on it). The presses after it arrive after every
  // repeat, and a modified F6 is not the hot key.
  ASSERT_TRUE(testing::runProgram({"sh", "-c", "xdotool keydown F6; sleep 1; xdotool keyup F6"}));
  for (const char* key :
       {"ctrl+F6", "Num_Lock", "F6", "Caps_Lock", "F6", "Num_Lock", "F6", "Caps_Lock"})
    ASSERT_TRUE(testing::runProgram({"xdotool", "key", key}));
  EXPECT_TRUE(testing::runUntil([&] { return count >= 4; }));
  XSync(GDK_DISPLAY_XDISPLAY(gdk_display_get_default()), False);
  testing::drainMainLoop();
  EXPECT_EQ(count, 4);
}

}  // namespace quorvel
