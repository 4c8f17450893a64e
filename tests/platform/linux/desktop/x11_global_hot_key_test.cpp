// F6 as the whole X display sees it: synthetic key events from xdotool, and a second X client
// that holds the key first.
// gtest first: Xlib defines macros (None, Bool) that clash with its names.
#include "platform/linux/desktop/x11_global_hot_key.h"
#include "platform/linux/desktop/desktop_session.h"

#include <X11/Xlib.h>
#include <gdk/gdkx.h>

namespace quorvel {
namespace {

class X11GlobalHotKeyTest : public testing::DesktopTest {
 protected:
  // Sends the keys, waits for `presses` calls, then handles everything the server sent.
  int pressesAfter(const std::vector<std::string>& keys, int presses) {
    for (const std::string& key : keys) EXPECT_TRUE(testing::runProgram({"xdotool", "key", key}));
    testing::runUntil([&] { return count_ >= presses; });
    XSync(GDK_DISPLAY_XDISPLAY(gdk_display_get_default()), False);
    testing::drainMainLoop();
    return count_;
  }
  std::function<void()> counter() {
    return [this] { ++count_; };
  }
  int count_ = 0;
};

TEST_F(X11GlobalHotKeyTest, each_press_is_one_call_whatever_the_locks_and_a_held_key_counts_once) {
  X11GlobalHotKey hotKey;
  ASSERT_EQ(hotKey.registerHotKey("F6", counter()), 0);
  EXPECT_EQ(pressesAfter({"F6", "ctrl+F6", "F6"}, 2), 2);
  EXPECT_EQ(pressesAfter({"Num_Lock", "F6", "Caps_Lock", "F6", "Num_Lock", "F6", "Caps_Lock"}, 5),
            5);
  // Held for a second, long enough for the server's auto-repeat to send a dozen repeats (the
  // sleep makes the stimulus; nothing waits on it). A second, separate press after it: once it
  // has arrived every repeat before it has been handled too.
  ASSERT_TRUE(testing::runProgram({"sh", "-c", "xdotool keydown F6; sleep 1; xdotool keyup F6"}));
  EXPECT_EQ(pressesAfter({"F6"}, 7), 7);
  EXPECT_EQ(hotKey.registerHotKey("F6", [] {}), X11GlobalHotKey::kAlreadyRegistered);
  EXPECT_EQ(X11GlobalHotKey().registerHotKey("NoSuchKey", [] {}), X11GlobalHotKey::kUnknownKey);
}

TEST_F(X11GlobalHotKeyTest, a_key_held_by_another_client_is_refused_and_nothing_is_kept) {
  Display* other = XOpenDisplay(nullptr);
  ASSERT_NE(other, nullptr);
  const KeyCode f6 = XKeysymToKeycode(other, XStringToKeysym("F6"));
  XGrabKey(other, f6, Mod2Mask, DefaultRootWindow(other), False, GrabModeAsync, GrabModeAsync);
  XSync(other, False);
  EXPECT_EQ(X11GlobalHotKey().registerHotKey("F6", counter()), -BadAccess);
  // The grabs that did succeed were given back: once the other client lets go, a fresh
  // registration gets all four. An explicit ungrab answered by a round trip does not wait on the
  // server's handling of the connection's end.
  XUngrabKey(other, f6, Mod2Mask, DefaultRootWindow(other));
  XSync(other, False);
  XCloseDisplay(other);
  X11GlobalHotKey again;
  EXPECT_EQ(again.registerHotKey("F6", counter()), 0);
  EXPECT_EQ(pressesAfter({"F6"}, 1), 1);
}

}  // namespace
}  // namespace quorvel
