#include "platform/linux/desktop/popover_window.h"

#include <gtest/gtest.h>

#include "linux_desktop/desktop_session.h"
#include "platform/linux/desktop/webkit_page_view.h"

namespace quorvel {
namespace {

using testing::runUntil;

class PopoverWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(testing::startGtk());
    GdkMonitor* monitor = gdk_display_get_primary_monitor(gdk_display_get_default());
    if (!monitor) monitor = gdk_display_get_monitor(gdk_display_get_default(), 0);
    ASSERT_NE(monitor, nullptr);
    gdk_monitor_get_workarea(monitor, &area_);
    popover_ = std::make_unique<PopoverWindow>(views_);
    popover_->setContentSize(440, 420);
    popover_->setContent(views_.makeWebView());
  }

  // Where the window really is on the X screen, once mapped.
  GdkRectangle placed() {
    GdkRectangle r{};
    EXPECT_TRUE(runUntil([&] {
      GdkWindow* w = gtk_widget_get_window(GTK_WIDGET(popover_->window()));
      if (!w || !gdk_window_is_viewable(w)) return false;
      gdk_window_get_origin(w, &r.x, &r.y);
      r.width = gdk_window_get_width(w);
      r.height = gdk_window_get_height(w);
      return r.width == 440 && r.height == 420;
    }));
    return r;
  }

  GdkRectangle area_{};
  WebKitPageViewFactory views_;
  std::unique_ptr<PopoverWindow> popover_;
};

TEST_F(PopoverWindowTest, opens_below_an_anchor_at_the_top_kept_inside_the_screen) {
  EXPECT_FALSE(popover_->isShown());
  popover_->show(ScreenPoint{area_.x + area_.width - 10, area_.y});
  EXPECT_TRUE(popover_->isShown());
  GdkRectangle r = placed();
  EXPECT_EQ(r.x, area_.x + area_.width - 440);  // clamped at the right edge
  EXPECT_GE(r.y, area_.y);
  EXPECT_LT(r.y, area_.y + 20);
  EXPECT_TRUE(gtk_window_get_skip_taskbar_hint(popover_->window()));
  EXPECT_FALSE(gtk_window_get_decorated(popover_->window()));
}

TEST_F(PopoverWindowTest, opens_above_an_anchor_in_the_bottom_half_centred_on_it) {
  int bottom = area_.y + area_.height - 2;
  popover_->show(ScreenPoint{area_.x + 600, bottom});
  GdkRectangle r = placed();
  EXPECT_EQ(r.x, area_.x + 600 - 220);
  EXPECT_LE(r.y + r.height, bottom);
  EXPECT_GT(r.y + r.height, bottom - 20);
}

TEST_F(PopoverWindowTest, close_hides_it_and_focus_loss_closes_it_only_when_asked) {
  popover_->show(ScreenPoint{200, 0});
  placed();
  GdkEvent* focusOut = gdk_event_new(GDK_FOCUS_CHANGE);
  focusOut->focus_change.in = FALSE;
  gboolean handled = FALSE;
  int told = 0;
  popover_->setFocusLossHandler([&told] { ++told; });
  g_signal_emit_by_name(popover_->window(), "focus-out-event", focusOut, &handled);
  EXPECT_TRUE(popover_->isShown());

  popover_->setClosesOnFocusLoss(true);
  g_signal_emit_by_name(popover_->window(), "focus-out-event", focusOut, &handled);
  EXPECT_FALSE(popover_->isShown());
  g_signal_emit_by_name(popover_->window(), "focus-out-event", focusOut, &handled);
  EXPECT_EQ(told, 1);  // only a close it made itself
  gdk_event_free(focusOut);

  popover_->show(ScreenPoint{200, 0});
  EXPECT_TRUE(popover_->isShown());
  popover_->close();
  popover_->close();
  EXPECT_FALSE(popover_->isShown());
}

}  // namespace
}  // namespace quorvel
