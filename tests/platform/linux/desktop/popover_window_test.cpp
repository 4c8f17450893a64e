#include "platform/linux/desktop/popover_window.h"

#include "platform/linux/desktop/desktop_session.h"
#include "platform/linux/desktop/webkit_page_view.h"

namespace quorvel {
TEST(PopoverWindow, opens_centred_on_the_anchor_below_it_at_the_top_above_it_at_the_bottom) {
  ASSERT_TRUE(testing::startGtk());
  WebKitPageViewFactory views;
  PopoverWindow popover{views};
  popover.setContentSize(440, 420);
  popover.setContent(views.makeWebView());
  GdkRectangle area{};
  gdk_monitor_get_workarea(gdk_display_get_monitor(gdk_display_get_default(), 0), &area);
  const int right = area.x + area.width, bottom = area.y + area.height - 2;
  const struct {
    ScreenPoint anchor;
    int x;       // expected left edge
    bool below;  // the window's top (else its bottom) edge within 20 px of `edge`
    int edge;
  } cases[] = {{{right - 10, area.y}, right - 440, true, area.y},  // clamped at the right edge
               {{area.x + 600, bottom}, area.x + 600 - 220, false, bottom}};
  for (const auto& c : cases) {
    popover.show(c.anchor);
    // Where the window really is on the X screen, once mapped.
    GdkRectangle r{};
    EXPECT_TRUE(testing::runUntil([&] {
      GdkWindow* w = gtk_widget_get_window(GTK_WIDGET(popover.window()));
      if (!w || !gdk_window_is_viewable(w)) return false;
      gdk_window_get_frame_extents(w, &r);
      return r.width == 440 && r.height == 420;
    }));
    EXPECT_EQ(r.x, c.x);
    EXPECT_LT(std::abs((c.below ? r.y : r.y + r.height) - c.edge), 20) << r.y;
    popover.close();
    EXPECT_FALSE(popover.isShown());
  }
}

}  // namespace quorvel
