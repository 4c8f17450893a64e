// The XEmbed tray icon; see xembed_status_item.h for what it covers.
#include "platform/linux/desktop/xembed_status_item.h"

#include <utility>

#include "platform/linux/desktop/gtk_popup_menu.h"

// GtkStatusIcon is the XEmbed tray client of GTK 3, deprecated there.
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

namespace quorvel::tray {

XEmbedStatusItem::XEmbedStatusItem() : icon_(gtk_status_icon_new()) {
  gtk_status_icon_set_title(icon_, "Quorvel");
  gtk_status_icon_set_name(icon_, "quorvel");
  g_signal_connect(icon_, "activate", G_CALLBACK(onActivate), this);
  g_signal_connect(icon_, "popup-menu", G_CALLBACK(onPopupMenu), this);
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

void XEmbedStatusItem::setImage(StatusImage image) {
  image_ = image;
  redraw();
}

void XEmbedStatusItem::setToolTip(const std::string& text) {
  gtk_status_icon_set_tooltip_text(icon_, text.empty() ? nullptr : text.c_str());
}

void XEmbedStatusItem::setActivateHandler(std::function<void(ScreenPoint where)> handler) {
  activateHandler_ = std::move(handler);
}

void XEmbedStatusItem::setMenuProvider(std::function<MenuModel()> provider) {
  menuProvider_ = std::move(provider);
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
  cairo_surface_t* surface = drawStatusImage(image_, 2, panelForeground());
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
