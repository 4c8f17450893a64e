#include "platform/linux/desktop/popover_window.h"

#include "platform/linux/desktop/desktop_session.h"
#include "platform/linux/desktop/webkit_page_view.h"

namespace quorvel {
namespace {

class PopoverWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(gtk_);
    gdk_monitor_get_workarea(gdk_display_get_monitor(gdk_display_get_default(), 0), &area_);
    popover_.setContentSize(440, 420);
    popover_.setContent(std::make_shared<WebKitPageView>());
  }
  // Where the window really is on the X screen, once mapped.
  GdkRectangle placed() {
    GdkRectangle r{};
    EXPECT_TRUE(testing::runUntil([&] {
      GdkWindow* w = gtk_widget_get_window(GTK_WIDGET(popover_.window()));
      if (!w || !gdk_window_is_viewable(w)) return false;
      gdk_window_get_frame_extents(w, &r);
      return r.width == 440 && r.height == 420;
    }));
    return r;
  }
  GdkRectangle area_{};
  bool gtk_ = testing::startGtk();
  PopoverWindow popover_;
};

TEST_F(PopoverWindowTest, opens_centred_on_the_anchor_below_it_at_the_top_above_it_at_the_bottom) {
  const int right = area_.x + area_.width, bottom = area_.y + area_.height - 2;
  const struct {
    ScreenPoint anchor;
    int x, top, bottom;  // expected left edge; the window's top or bottom edge within 20 px
  } cases[] = {{{right - 10, area_.y}, right - 440, area_.y, -1},  // clamped at the right edge
               {{area_.x + 600, bottom}, area_.x + 600 - 220, -1, bottom}};
  for (const auto& c : cases) {
    popover_.show(c.anchor);
    EXPECT_TRUE(popover_.isShown());
    const GdkRectangle r = placed();
    EXPECT_EQ(r.x, c.x);
    if (c.top >= 0) {
      EXPECT_TRUE(r.y >= c.top && r.y < c.top + 20) << r.y;
    }
    if (c.bottom >= 0) {
      EXPECT_TRUE(r.y + r.height <= c.bottom && r.y + r.height > c.bottom - 20);
    }
    popover_.close();
    EXPECT_FALSE(popover_.isShown());
  }
  EXPECT_TRUE(gtk_window_get_skip_taskbar_hint(popover_.window()));
  EXPECT_FALSE(gtk_window_get_decorated(popover_.window()));
}

TEST_F(PopoverWindowTest, focus_loss_closes_it_only_when_asked_and_tells_of_its_own_close) {
  int told = 0;
  popover_.setFocusLossHandler([&told] { ++told; });
  popover_.show(ScreenPoint{200, 0});
  placed();
  GdkEvent* focusOut = gdk_event_new(GDK_FOCUS_CHANGE);
  gboolean handled = FALSE;
  for (bool closes : {false, true, true}) {
    popover_.setClosesOnFocusLoss(closes);
    g_signal_emit_by_name(popover_.window(), "focus-out-event", focusOut, &handled);
    EXPECT_EQ(popover_.isShown(), !closes);
  }
  gdk_event_free(focusOut);
  EXPECT_EQ(told, 1);  // only a close it made itself
}

}  // namespace
}  // namespace quorvel
