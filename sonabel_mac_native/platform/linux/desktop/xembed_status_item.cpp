// The XEmbed tray icon; see xembed_status_item.h for what it covers.
#include "platform/linux/desktop/xembed_status_item.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <gdk/gdkx.h>

#include <string>
#include <utility>

#include "platform/linux/desktop/gtk_popup_menu.h"

// GtkStatusIcon is the XEmbed tray client of GTK 3, deprecated there.
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

namespace quorvel::tray {
namespace {

// The window of the tray manager of the default screen (the owner of _NET_SYSTEM_TRAY_S<n>),
// or None.
Window trayManager(Display* display, int screen) {
  const std::string selection = "_NET_SYSTEM_TRAY_S" + std::to_string(screen);
  return XGetSelectionOwner(display, XInternAtom(display, selection.c_str(), False));
}

// The foreground colour a tray manager announces: twelve CARDINALs, 16-bit red, green and blue
// of the foreground, error, warning and success colours.
std::optional<Rgb> announcedForeground() {
  GdkDisplay* gdk = gdk_display_get_default();
  if (gdk == nullptr || !GDK_IS_X11_DISPLAY(gdk)) return std::nullopt;
  Display* display = gdk_x11_display_get_xdisplay(gdk);
  const Window manager =
      trayManager(display, gdk_x11_screen_get_screen_number(gdk_screen_get_default()));
  if (manager == None) return std::nullopt;
  // The manager may quit between the two calls.
  gdk_x11_display_error_trap_push(gdk);
  Atom type = None;
  int format = 0;
  unsigned long count = 0;
  unsigned long after = 0;
  unsigned char* data = nullptr;
  const int status =
      XGetWindowProperty(display, manager, XInternAtom(display, "_NET_SYSTEM_TRAY_COLORS", False),
                         0, 12, False, XA_CARDINAL, &type, &format, &count, &after, &data);
  gdk_x11_display_error_trap_pop_ignored(gdk);
  std::optional<Rgb> colour;
  if (status == Success && type == XA_CARDINAL && format == 32 && count >= 3 && data != nullptr) {
    // Format 32 comes back as an array of long, whatever its width.
    const auto* values = reinterpret_cast<const long*>(data);
    auto channel = [&](int i) { return static_cast<double>(values[i] & 0xffff) / 65535.0; };
    colour = Rgb{channel(0), channel(1), channel(2)};
  }
  if (data != nullptr) XFree(data);
  return colour;
}

// The text colour of a label in a window of the GTK theme. Real widgets, as a style context
// of our own would not see the screen's theme.
Rgb themeForeground() {
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  GtkWidget* label = gtk_label_new(nullptr);
  gtk_container_add(GTK_CONTAINER(window), label);
  GdkRGBA colour{};
  GtkStyleContext* context = gtk_widget_get_style_context(label);
  gtk_style_context_get_color(context, gtk_style_context_get_state(context), &colour);
  gtk_widget_destroy(window);
  return Rgb{colour.red, colour.green, colour.blue};
}

}  // namespace

Rgb XEmbedStatusItem::trayForeground() {
  if (auto announced = announcedForeground()) return *announced;
  return themeForeground();
}

bool XEmbedStatusItem::trayPresent() {
  GdkDisplay* gdk = gdk_display_get_default();
  if (gdk == nullptr || !GDK_IS_X11_DISPLAY(gdk)) return false;
  return trayManager(gdk_x11_display_get_xdisplay(gdk),
                     gdk_x11_screen_get_screen_number(gdk_screen_get_default())) != None;
}

XEmbedStatusItem::XEmbedStatusItem() : icon_(gtk_status_icon_new()) {
  gtk_status_icon_set_title(icon_, "Quorvel");
  // No gtk_status_icon_set_name: it unrealizes the shown tray window and shows it again, which
  // makes GDK thaw updates it never froze (a Gdk-CRITICAL on every start) and lets the tray see
  // a window without its parent-relative background for a moment. The window's class comes
  // from the program's name anyway.
  g_signal_connect(icon_, "activate", G_CALLBACK(onActivate), this);
  g_signal_connect(icon_, "popup-menu", G_CALLBACK(onPopupMenu), this);
  g_signal_connect(icon_, "notify::embedded", G_CALLBACK(onEmbeddedChanged), this);
  if (GtkSettings* settings = gtk_settings_get_default()) {
    g_signal_connect_swapped(settings, "notify::gtk-theme-name", G_CALLBACK(onThemeChanged), this);
    g_signal_connect_swapped(settings, "notify::gtk-application-prefer-dark-theme",
                             G_CALLBACK(onThemeChanged), this);
  }
  redraw();
  gtk_status_icon_set_visible(icon_, TRUE);
}

void XEmbedStatusItem::onThemeChanged(gpointer self) {
  static_cast<XEmbedStatusItem*>(self)->redraw();
}

void XEmbedStatusItem::onEmbeddedChanged(GObject*, GParamSpec*, gpointer data) {
  auto* self = static_cast<XEmbedStatusItem*>(data);
  // Another tray may announce other colours.
  self->redraw();
  if (self->embeddedHandler_) self->embeddedHandler_(self->embedded());
}

void XEmbedStatusItem::setEmbeddedHandler(std::function<void(bool)> handler) {
  embeddedHandler_ = std::move(handler);
}

bool XEmbedStatusItem::embedded() const {
  return gtk_status_icon_is_embedded(icon_);
}

XEmbedStatusItem::~XEmbedStatusItem() {
  if (GtkSettings* settings = gtk_settings_get_default()) {
    g_signal_handlers_disconnect_by_data(settings, this);
  }
  g_signal_handlers_disconnect_by_data(icon_, this);
  gtk_status_icon_set_visible(icon_, FALSE);
  g_object_unref(icon_);
  if (menu_ != nullptr) {
    gtk_widget_destroy(menu_);
    g_object_unref(menu_);
  }
}

void XEmbedStatusItem::toolTipChanged() {
  gtk_status_icon_set_tooltip_text(icon_, toolTip_.empty() ? nullptr : toolTip_.c_str());
}

bool XEmbedStatusItem::rebuildMenu() {
  if (!menuProvider_) return false;
  if (menu_ != nullptr) {
    gtk_widget_destroy(menu_);
    g_object_unref(menu_);
  }
  menu_ = buildGtkMenu(menuProvider_());
  return true;
}

void XEmbedStatusItem::popUpMenu(ScreenPoint where) {
  if (rebuildMenu()) popUpGtkMenuAt(menu_, where);
}

std::optional<ScreenPoint> XEmbedStatusItem::anchor() const {
  GdkRectangle area{};
  if (!gtk_status_icon_get_geometry(icon_, nullptr, &area, nullptr)) return std::nullopt;
  return ScreenPoint{area.x + area.width / 2, area.y + area.height};
}

void XEmbedStatusItem::redraw() {
  // Drawn at twice the size: the tray scales it down to its own icon size.
  cairo_surface_t* surface = drawStatusImage(image_, 2, trayForeground());
  GdkPixbuf* pixbuf =
      gdk_pixbuf_get_from_surface(surface, 0, 0, cairo_image_surface_get_width(surface),
                                  cairo_image_surface_get_height(surface));
  cairo_surface_destroy(surface);
  gtk_status_icon_set_from_pixbuf(icon_, pixbuf);
  g_object_unref(pixbuf);
}

void XEmbedStatusItem::onActivate(GtkStatusIcon*, gpointer data) {
  auto* self = static_cast<XEmbedStatusItem*>(data);
  if (!self->activateHandler_) return;
  ScreenPoint where;
  if (auto a = self->anchor()) {
    where = *a;
  } else if (GdkDisplay* display = gdk_display_get_default()) {
    GdkDevice* pointer = gdk_seat_get_pointer(gdk_display_get_default_seat(display));
    gdk_device_get_position(pointer, nullptr, &where.x, &where.y);
  }
  self->activateHandler_(where);
}

void XEmbedStatusItem::onPopupMenu(GtkStatusIcon* icon, guint button, guint time, gpointer data) {
  auto* self = static_cast<XEmbedStatusItem*>(data);
  if (!self->rebuildMenu()) return;
  gtk_menu_popup(GTK_MENU(self->menu_), nullptr, nullptr, gtk_status_icon_position_menu, icon,
                 button, time);
}

}  // namespace quorvel::tray
