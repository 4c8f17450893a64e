// PopoverWindow: the popover as an undecorated GTK window (see popover_window.h).
#include "platform/linux/desktop/popover_window.h"

#include <gtk-layer-shell.h>

#include <algorithm>

#include "platform/linux/desktop/tray_icon.h"
#include "platform/linux/desktop/webkit_page_view.h"

#ifdef GDK_WINDOWING_WAYLAND
#include <gdk/gdkwayland.h>
#endif

namespace quorvel {

namespace {

gboolean onDelete(GtkWidget* widget, GdkEvent*, gpointer) {
  gtk_widget_hide(widget);
  return TRUE;
}

gboolean onFocusOut(GtkWidget*, GdkEvent*, gpointer data) {
  static_cast<PopoverWindow*>(data)->closeOnFocusLoss();
  return FALSE;
}

bool onWayland() {
#ifdef GDK_WINDOWING_WAYLAND
  return GDK_IS_WAYLAND_DISPLAY(gdk_display_get_default());
#else
  return false;
#endif
}

// The popover's top left corner on the screen.
struct Placement {
  int x, y;
};

Placement besideAnchor(ScreenPoint at, const GdkRectangle& area, int width, int height) {
  int x = at.x - width / 2;
  bool topHalf = at.y < area.y + area.height / 2;
  int y = topHalf ? at.y + 4 : at.y - height - 4;
  x = std::clamp(x, area.x, std::max(area.x, area.x + area.width - width));
  y = std::clamp(y, area.y, std::max(area.y, area.y + area.height - height));
  return {x, y};
}

gboolean onKeyPress(GtkWidget* widget, GdkEventKey* event, gpointer) {
  if (event->keyval != GDK_KEY_Escape) return FALSE;
  gtk_widget_hide(widget);
  return TRUE;
}

}  // namespace

PopoverWindow::PopoverWindow(const WebKitPageViewFactory& views)
    : window_(GTK_WINDOW(gtk_window_new(GTK_WINDOW_TOPLEVEL))), views_(views) {
  g_object_ref_sink(window_);
  gtk_window_set_title(window_, "Quorvel");
  gtk_window_set_resizable(window_, FALSE);
  gtk_window_set_default_size(window_, width_, height_);
  // Transparent where the page paints nothing, when the screen can blend.
  GdkScreen* screen = gtk_widget_get_screen(GTK_WIDGET(window_));
  if (GdkVisual* visual = gdk_screen_get_rgba_visual(screen)) {
    gtk_widget_set_visual(GTK_WIDGET(window_), visual);
    blends_ = true;
  }
  useAsWindow(false);
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
  page_ = views_.made(view.get());
  if (page_) {
    gtk_container_add(GTK_CONTAINER(window_), page_->widget());
    gtk_widget_show(page_->widget());
  }
}

void PopoverWindow::closeOnFocusLoss() {
  if (asWindow_ || !closesOnFocusLoss_ || !isShown()) return;
  gtk_widget_hide(GTK_WIDGET(window_));
  if (onFocusLoss_) onFocusLoss_();
}

void PopoverWindow::useAsWindow(bool asWindow) {
  asWindow_ = asWindow;
  // Decorations (drawn by GTK itself on Wayland) and the kind of window take effect when the
  // window is made; a layer surface stays one, as it cannot be undone.
  if (gtk_widget_get_realized(GTK_WIDGET(window_)) && !layered_) {
    gtk_widget_unrealize(GTK_WIDGET(window_));
  }
  gtk_window_set_decorated(window_, asWindow);
  gtk_window_set_skip_taskbar_hint(window_, !asWindow);
  gtk_window_set_skip_pager_hint(window_, !asWindow);
  gtk_window_set_type_hint(window_,
                           asWindow ? GDK_WINDOW_TYPE_HINT_NORMAL : GDK_WINDOW_TYPE_HINT_UTILITY);
  gtk_window_set_keep_above(window_, !asWindow);
  gtk_widget_set_app_paintable(GTK_WIDGET(window_), blends_ && !asWindow);
  gtk_window_set_position(window_, asWindow ? GTK_WIN_POS_CENTER : GTK_WIN_POS_NONE);
  setRecordingBadge(recording_);
}

void PopoverWindow::setRecordingBadge(bool recording) {
  recording_ = recording;
  const bool shown = recording && asWindow_;
  gtk_window_set_title(window_, shown ? "Quorvel (recording)" : "Quorvel");
  GdkPixbuf* dot = nullptr;
  if (shown) {
    cairo_surface_t* surface = tray::drawStatusImage(StatusImage::RecordingBadge, 2, {});
    dot = gdk_pixbuf_get_from_surface(surface, 0, 0, cairo_image_surface_get_width(surface),
                                      cairo_image_surface_get_height(surface));
    cairo_surface_destroy(surface);
  }
  gtk_window_set_icon(window_, dot);
  if (dot != nullptr) g_object_unref(dot);
}

void PopoverWindow::placeOnLayer(std::optional<ScreenPoint> anchor) {
  // A layer surface must be declared before the window is first realized.
  if (!layered_) {
    if (gtk_widget_get_realized(GTK_WIDGET(window_))) return;
    gtk_layer_init_for_window(window_);
    gtk_layer_set_namespace(window_, "quorvel");
    gtk_layer_set_layer(window_, GTK_LAYER_SHELL_LAYER_TOP);
    gtk_layer_set_keyboard_mode(window_, GTK_LAYER_SHELL_KEYBOARD_MODE_ON_DEMAND);
    layered_ = true;
  }
  GdkDisplay* display = gdk_display_get_default();
  GdkMonitor* monitor = anchor ? gdk_display_get_monitor_at_point(display, anchor->x, anchor->y)
                               : gdk_display_get_primary_monitor(display);
  if (monitor == nullptr) monitor = gdk_display_get_monitor(display, 0);
  if (monitor != nullptr) gtk_layer_set_monitor(window_, monitor);
  GdkRectangle area = {0, 0, width_, height_};
  if (monitor != nullptr) gdk_monitor_get_geometry(monitor, &area);
  // Margins count from the monitor's edges inside the panels' exclusive zones; without the
  // item's position, the top right corner is where most panels keep their tray.
  gtk_layer_set_anchor(window_, GTK_LAYER_SHELL_EDGE_TOP, TRUE);
  gtk_layer_set_anchor(window_, anchor ? GTK_LAYER_SHELL_EDGE_LEFT : GTK_LAYER_SHELL_EDGE_RIGHT,
                       TRUE);
  gtk_layer_set_anchor(window_, anchor ? GTK_LAYER_SHELL_EDGE_RIGHT : GTK_LAYER_SHELL_EDGE_LEFT,
                       FALSE);
  gtk_layer_set_anchor(window_, GTK_LAYER_SHELL_EDGE_BOTTOM, FALSE);
  if (anchor) {
    Placement at = besideAnchor(*anchor, area, width_, height_);
    gtk_layer_set_margin(window_, GTK_LAYER_SHELL_EDGE_LEFT, at.x - area.x);
    gtk_layer_set_margin(window_, GTK_LAYER_SHELL_EDGE_TOP, at.y - area.y);
  } else {
    gtk_layer_set_margin(window_, GTK_LAYER_SHELL_EDGE_RIGHT, 4);
    gtk_layer_set_margin(window_, GTK_LAYER_SHELL_EDGE_TOP, 4);
  }
}

void PopoverWindow::show(std::optional<ScreenPoint> anchor) {
  if (asWindow_) {
    // The window manager places an ordinary window.
  } else if (onWayland()) {
    if (gtk_layer_is_supported()) placeOnLayer(anchor);
  } else {
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
    Placement place = besideAnchor(at, area, width_, height_);
    gtk_window_move(window_, place.x, place.y);
  }
  gtk_widget_show_all(GTK_WIDGET(window_));
  gtk_window_present_with_time(window_, gtk_get_current_event_time());
  if (page_) gtk_widget_grab_focus(page_->widget());
}

void PopoverWindow::close() {
  gtk_widget_hide(GTK_WIDGET(window_));
}

bool PopoverWindow::isShown() const {
  return gtk_widget_get_visible(GTK_WIDGET(window_));
}

}  // namespace quorvel
