// F6 as the whole X display sees it: synthetic key events from xdotool, and a second X client
// that holds the key first.
// gtest first: Xlib defines macros (None, Bool) that clash with its names.
#include <gtest/gtest.h>

#include "platform/linux/desktop/desktop_session.h"
#include "platform/linux/desktop/x11_global_hot_key.h"

#include <X11/Xlib.h>
#include <gdk/gdkx.h>

namespace quorvel {
namespace {

class X11GlobalHotKeyTest : public testing::DesktopTest {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(DesktopTest::SetUp());
    ASSERT_TRUE(GDK_IS_X11_DISPLAY(gdk_display_get_default()));
  }

  // Everything the X server has sent so far, and the presses it caused, handled.
  void settle() {
    XSync(GDK_DISPLAY_XDISPLAY(gdk_display_get_default()), False);
    testing::drainMainLoop();
  }

  bool key(const char* name) { return testing::runProgram({"xdotool", "key", name}); }
};

TEST_F(X11GlobalHotKeyTest, one_key_press_is_one_call_and_presses_keep_their_order) {
  X11GlobalHotKey hotKey;
  std::vector<int> calls;
  int next = 0;
  ASSERT_EQ(hotKey.registerHotKey("F6", [&] { calls.push_back(++next); }), 0);
  ASSERT_TRUE(key("F6"));
  ASSERT_TRUE(testing::runUntil([&] { return calls.size() == 1; }));
  settle();
  EXPECT_EQ(calls.size(), 1u);

  ASSERT_TRUE(testing::runProgram({"xdotool", "key", "F6", "F6", "F6"}));
  ASSERT_TRUE(testing::runUntil([&] { return calls.size() == 4; }));
  settle();
  EXPECT_EQ(calls, (std::vector<int>{1, 2, 3, 4}));
}

TEST_F(X11GlobalHotKeyTest, a_held_key_counts_once) {
  X11GlobalHotKey hotKey;
  int presses = 0;
  ASSERT_EQ(hotKey.registerHotKey("F6", [&] { ++presses; }), 0);
  // Held for a second, long enough for the server's auto-repeat to send a dozen repeats (the
  // sleep makes the stimulus; nothing waits on it).
  ASSERT_TRUE(testing::runProgram({"sh", "-c", "xdotool keydown F6; sleep 1; xdotool keyup F6"}));
  // A second, separate press: once it has arrived every repeat before it has been handled too.
  ASSERT_TRUE(key("F6"));
  ASSERT_TRUE(testing::runUntil([&] { return presses >= 2; }));
  settle();
  EXPECT_EQ(presses, 2);
}

TEST_F(X11GlobalHotKeyTest, num_lock_and_caps_lock_do_not_hide_the_key) {
  X11GlobalHotKey hotKey;
  int presses = 0;
  ASSERT_EQ(hotKey.registerHotKey("F6", [&] { ++presses; }), 0);
  ASSERT_TRUE(key("Num_Lock"));
  ASSERT_TRUE(key("F6"));
  ASSERT_TRUE(key("Caps_Lock"));
  ASSERT_TRUE(key("F6"));
  ASSERT_TRUE(key("Num_Lock"));
  ASSERT_TRUE(key("F6"));
  ASSERT_TRUE(key("Caps_Lock"));
  EXPECT_TRUE(testing::runUntil([&] { return presses == 3; }));
  settle();
  EXPECT_EQ(presses, 3);
}

TEST_F(X11GlobalHotKeyTest, with_a_modifier_held_it_is_not_the_hot_key) {
  X11GlobalHotKey hotKey;
  int presses = 0;
  ASSERT_EQ(hotKey.registerHotKey("F6", [&] { ++presses; }), 0);
  ASSERT_TRUE(key("ctrl+F6"));
  ASSERT_TRUE(key("F6"));
  ASSERT_TRUE(testing::runUntil([&] { return presses >= 1; }));
  settle();
  EXPECT_EQ(presses, 1);
}

TEST_F(X11GlobalHotKeyTest, a_key_held_by_another_client_is_refused_with_a_negative_status) {
  Display* other = XOpenDisplay(nullptr);
  ASSERT_NE(other, nullptr);
  const KeyCode f6 = XKeysymToKeycode(other, XStringToKeysym("F6"));
  XGrabKey(other, f6, Mod2Mask, DefaultRootWindow(other), False, GrabModeAsync, GrabModeAsync);
  XSync(other, False);

  X11GlobalHotKey hotKey;
  int presses = 0;
  EXPECT_EQ(hotKey.registerHotKey("F6", [&] { ++presses; }), -BadAccess);

  // The grabs that did succeed were given back: once the other client lets go, a fresh
  // registration gets all four.
  // The server handles another connection's end in its own time; an explicit ungrab answered
  // by a round trip does not wait on that.
  XUngrabKey(other, f6, Mod2Mask, DefaultRootWindow(other));
  XSync(other, False);
  XCloseDisplay(other);
  X11GlobalHotKey again;
  EXPECT_EQ(again.registerHotKey("F6", [&] { ++presses; }), 0);
  ASSERT_TRUE(key("F6"));
  EXPECT_TRUE(testing::runUntil([&] { return presses == 1; }));
}

TEST_F(X11GlobalHotKeyTest, unknown_keys_and_second_registrations_are_refused) {
  X11GlobalHotKey hotKey;
  EXPECT_EQ(hotKey.registerHotKey("NoSuchKey", [] {}), X11GlobalHotKey::kUnknownKey);
  ASSERT_EQ(hotKey.registerHotKey("F6", [] {}), 0);
  EXPECT_EQ(hotKey.registerHotKey("F6", [] {}), X11GlobalHotKey::kAlreadyRegistered);
}

}  // namespace
}  // namespace quorvel
