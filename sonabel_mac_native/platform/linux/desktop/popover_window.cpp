// PopoverWindow: the popover as an undecorated GTK window (see popover_window.h).
#include "platform/linux/desktop/popover_window.h"

#include <algorithm>

#include "platform/linux/desktop/webkit_page_view.h"

namespace quorvel {

namespace {

gboolean onDelete(GtkWidget* widget, GdkEvent*, gpointer) {
  gtk_widget_hide(widget);
  return TRUE;
}

gboolean onFocusOut(GtkWidget* widget, GdkEvent*, gpointer data) {
  if (static_cast<PopoverWindow*>(data)->closesOnFocusLoss()) gtk_widget_hide(widget);
  return FALSE;
}

gboolean onKeyPress(GtkWidget* widget, GdkEventKey* event, gpointer) {
  if (event->keyval != GDK_KEY_Escape) return FALSE;
  gtk_widget_hide(widget);
  return TRUE;
}

}  // namespace

PopoverWindow::PopoverWindow() : window_(GTK_WINDOW(gtk_window_new(GTK_WINDOW_TOPLEVEL))) {
  g_object_ref_sink(window_);
  gtk_window_set_title(window_, "Quorvel");
  gtk_window_set_decorated(window_, FALSE);
  gtk_window_set_resizable(window_, FALSE);
  gtk_window_set_skip_taskbar_hint(window_, TRUE);
  gtk_window_set_skip_pager_hint(window_, TRUE);
  gtk_window_set_type_hint(window_, GDK_WINDOW_TYPE_HINT_UTILITY);
  gtk_window_set_keep_above(window_, TRUE);
  gtk_window_set_default_size(window_, width_, height_);
  // Transparent where the page paints nothing, when the screen can blend.
  GdkScreen* screen = gtk_widget_get_screen(GTK_WIDGET(window_));
  if (GdkVisual* visual = gdk_screen_get_rgba_visual(screen)) {
    gtk_widget_set_visual(GTK_WIDGET(window_), visual);
    gtk_widget_set_app_paintable(GTK_WIDGET(window_), TRUE);
  }
  g_signal_connect(window_, "delete-event", G_CALLBACK(onDelete), this);
  g_signal_connect(window_, "focus-out-event", G_CALLBACK(onFocusOut), this);
  g_signal_connect(window_, "key-press-event", G_CALLBACK(onKeyPress), this);
}

PopoverWindow::~PopoverWindow() {
  g_signal_handlers_disconnect_by_data(window_, this);
  gtk_widget_destroy(GTK_WIDGET(window_));
  g_object_unref(window_);
}

void PopoverWindow::setContentSize(int width, int height) {
  width_ = width;
  height_ = height;
  gtk_widget_set_size_request(GTK_WIDGET(window_), width, height);
  gtk_window_resize(window_, width, height);
}

void PopoverWindow::setContent(std::shared_ptr<WebView> view) {
  if (GtkWidget* child = gtk_bin_get_child(GTK_BIN(window_))) {
    gtk_container_remove(GTK_CONTAINER(window_), child);
  }
  content_ = std::move(view);
  if (auto* page = dynamic_cast<WebKitPageView*>(content_.get())) {
    gtk_container_add(GTK_CONTAINER(window_), page->widget());
  }
}

void PopoverWindow::show(std::optional<ScreenPoint> anchor) {
  GdkDisplay* display = gdk_display_get_default();
  ScreenPoint at;
  if (anchor) {
    at = *anchor;
  } else if (GdkSeat* seat = gdk_display_get_default_seat(display)) {
    gdk_device_get_position(gdk_seat_get_pointer(seat), nullptr, &at.x, &at.y);
  }
  GdkMonitor* monitor = gdk_display_get_monitor_at_point(display, at.x, at.y);
  GdkRectangle area = {0, 0, width_, height_};
  if (monitor) gdk_monitor_get_workarea(monitor, &area);
  int x = at.x - width_ / 2;
  bool topHalf = at.y < area.y + area.height / 2;
  int y = topHalf ? at.y + 4 : at.y - height_ - 4;
  x = std::clamp(x, area.x, std::max(area.x, area.x + area.width - width_));
  y = std::clamp(y, area.y, std::max(area.y, area.y + area.height - height_));
  gtk_window_move(window_, x, y);
  gtk_widget_show_all(GTK_WIDGET(window_));
  gtk_window_present_with_time(window_, gtk_get_current_event_time());
  if (auto* page = dynamic_cast<WebKitPageView*>(content_.get())) {
    gtk_widget_grab_focus(page->widget());
  }
}

void PopoverWindow::close() {
  gtk_widget_hide(GTK_WIDGET(window_));
}

bool PopoverWindow::isShown() const {
  return gtk_widget_get_visible(GTK_WIDGET(window_));
}

}  // namespace quorvel
