// Clicks made with xdotool anywhere on the private X display, on the bare screen and on a
// window of this test process.
#include "platform/linux/desktop/x11_click_monitor.h"
#include "platform/linux/desktop/desktop_session.h"

#include <X11/Xlib.h>
#include <gdk/gdkx.h>

namespace quorvel {
using X11ClickMonitorTest = testing::DesktopTest;

bool clickAt(int x, int y, int button) {
  return testing::runProgram({"xdotool", "mousemove", std::to_string(x), std::to_string(y), "click",
                              std::to_string(button)});
}

void settle() {
  XSync(GDK_DISPLAY_XDISPLAY(gdk_display_get_default()), False);
  testing::drainMainLoop();
}

TEST_F(X11ClickMonitorTest, reports_left_and_right_clicks_outside_this_programs_windows_only) {
  GtkWidget* window = gtk_window_new(GTK_WINDOW_POPUP);
  gtk_window_move(GTK_WINDOW(window), 100, 100);
  gtk_window_set_default_size(GTK_WINDOW(window), 200, 200);
  gtk_widget_add_events(window, GDK_BUTTON_PRESS_MASK);
  int windowClicks = 0, clicks = 0;
  auto onPress = +[](GtkWidget*, GdkEvent*, gpointer n) -> gboolean {
    ++*static_cast<int*>(n);
    return TRUE;
  };
  g_signal_connect(window, "button-press-event", G_CALLBACK(onPress), &windowClicks);
  gtk_widget_show_all(window);
  ASSERT_TRUE(testing::runUntil([&] { return gtk_widget_get_mapped(window); }));
  settle();
  X11ClickMonitor monitor;
  ASSERT_TRUE(monitor.install([&] { ++clicks; }));
  ASSERT_TRUE(clickAt(150, 150, 1));
  ASSERT_TRUE(testing::runUntil([&] { return windowClicks == 1; })) << "the click missed";
  for (int button : {1, 3, 2, 1}) ASSERT_TRUE(clickAt(600 + 10 * button, 400, button));
  ASSERT_TRUE(testing::runUntil([&] { return clicks >= 3; }));
  settle();
  EXPECT_EQ(clicks, 3) << "the window's click and the middle click do not count";
  gtk_widget_destroy(window);
}

}  // namespace quorvel
