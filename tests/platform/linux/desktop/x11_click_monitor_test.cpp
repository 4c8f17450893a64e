// Clicks made with xdotool anywhere on the private X display, on the bare screen and on a
// window of this test process.
#include <gtest/gtest.h>

#include "platform/linux/desktop/desktop_session.h"
#include "platform/linux/desktop/x11_click_monitor.h"

#include <X11/Xlib.h>
#include <gdk/gdkx.h>

namespace quorvel {
namespace {

class X11ClickMonitorTest : public testing::DesktopTest {
 protected:
  void settle() {
    XSync(GDK_DISPLAY_XDISPLAY(gdk_display_get_default()), False);
    testing::drainMainLoop();
  }
  bool clickAt(int x, int y, int button) {
    return testing::runProgram({"xdotool", "mousemove", std::to_string(x), std::to_string(y),
                                "click", std::to_string(button)});
  }
};

TEST_F(X11ClickMonitorTest, reports_left_and_right_clicks_elsewhere_but_not_middle_clicks) {
  X11ClickMonitor monitor;
  int clicks = 0;
  ASSERT_TRUE(monitor.install([&] { ++clicks; }));
  EXPECT_FALSE(monitor.install([] {})) << "one monitor per object";

  ASSERT_TRUE(clickAt(600, 400, 1));
  ASSERT_TRUE(testing::runUntil([&] { return clicks == 1; }));
  ASSERT_TRUE(clickAt(610, 400, 3));
  ASSERT_TRUE(testing::runUntil([&] { return clicks == 2; }));
  ASSERT_TRUE(clickAt(620, 400, 2));
  ASSERT_TRUE(clickAt(630, 400, 1));  // the last one marks the end of the sequence
  ASSERT_TRUE(testing::runUntil([&] { return clicks >= 3; }));
  settle();
  EXPECT_EQ(clicks, 3);
}

TEST_F(X11ClickMonitorTest, clicks_on_this_programs_own_windows_are_not_reported) {
  GtkWidget* window = gtk_window_new(GTK_WINDOW_POPUP);
  gtk_window_move(GTK_WINDOW(window), 100, 100);
  gtk_window_set_default_size(GTK_WINDOW(window), 200, 200);
  gtk_widget_add_events(window, GDK_BUTTON_PRESS_MASK);
  int windowClicks = 0;
  g_signal_connect(window, "button-press-event",
                   G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer n) -> gboolean {
                     ++*static_cast<int*>(n);
                     return TRUE;
                   }),
                   &windowClicks);
  gtk_widget_show_all(window);
  ASSERT_TRUE(testing::runUntil([&] { return gtk_widget_get_mapped(window); }));
  settle();

  X11ClickMonitor monitor;
  int clicks = 0;
  ASSERT_TRUE(monitor.install([&] { ++clicks; }));
  ASSERT_TRUE(clickAt(150, 150, 1));
  ASSERT_TRUE(testing::runUntil([&] { return windowClicks == 1; })) << "the click missed";
  ASSERT_TRUE(clickAt(700, 500, 1));
  ASSERT_TRUE(testing::runUntil([&] { return clicks >= 1; }));
  settle();
  EXPECT_EQ(clicks, 1) << "only the click outside counts";
  gtk_widget_destroy(window);
}

TEST_F(X11ClickMonitorTest, nothing_is_reported_once_the_monitor_is_gone) {
  int clicks = 0;
  {
    X11ClickMonitor monitor;
    ASSERT_TRUE(monitor.install([&] { ++clicks; }));
  }
  X11ClickMonitor second;
  int secondClicks = 0;
  ASSERT_TRUE(second.install([&] { ++secondClicks; }));
  ASSERT_TRUE(clickAt(640, 400, 1));
  ASSERT_TRUE(testing::runUntil([&] { return secondClicks == 1; }));
  settle();
  EXPECT_EQ(clicks, 0);
}

}  // namespace
}  // namespace quorvel
