// The StatusNotifierItem tray item; see sni_status_item.h for what it covers.
#include "platform/linux/desktop/sni_status_item.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/linux/desktop/gtk_popup_menu.h"
#include "store/ascii.h"

namespace quorvel::tray {
namespace {

int nextSerial() {
  static int serial = 0;
  return ++serial;
}

// Desktops whose tray opens the menu on a left click and keeps Activate for a double click or
// not at all.
bool leftClickOpensMenu() {
  const char* desktop = std::getenv("XDG_CURRENT_DESKTOP");
  if (desktop == nullptr) return false;
  const std::string lower = asciiLowerCase(desktop);
  return lower.find("gnome") != std::string::npos || lower.find("unity") != std::string::npos;
}

}  // namespace

SniStatusItem::SniStatusItem(GDBusConnection* connection, Options options)
    : connection_(G_DBUS_CONNECTION(g_object_ref(connection))),
      cancellable_(g_cancellable_new()),
      busName_(sni::itemBusName(static_cast<long>(getpid()), nextSerial())),
      iconThemePath_(iconThemeFolder()),
      foreground_(panelForeground()),
      menu_(std::make_unique<DbusMenu>(sni::kMenuObjectPath)),
      self_(std::make_shared<SniStatusItem*>(this)) {
  nodeInfo_ = g_dbus_node_info_new_for_xml(sni::kItemIntrospectionXml, nullptr);
  static const GDBusInterfaceVTable table = {onMethodCall, onGetProperty, nullptr, {nullptr}};
  objectId_ = g_dbus_connection_register_object(
      connection_, sni::kItemObjectPath, nodeInfo_->interfaces[0], &table, this, nullptr, nullptr);
  ownerId_ =
      g_bus_own_name_on_connection(connection_, busName_.c_str(), G_BUS_NAME_OWNER_FLAGS_NONE,
                                   onNameAcquired, nullptr, this, nullptr);
  watcherWatchId_ =
      g_bus_watch_name_on_connection(connection_, sni::kWatcherName, G_BUS_NAME_WATCHER_FLAGS_NONE,
                                     onWatcherAppeared, onWatcherVanished, this, nullptr);
  if (GtkSettings* settings = gtk_settings_get_default()) {
    g_signal_connect(settings, "notify::gtk-theme-name", G_CALLBACK(onThemeChanged), this);
    g_signal_connect(settings, "notify::gtk-application-prefer-dark-theme",
                     G_CALLBACK(onThemeChanged), this);
  }
  if (options.openRowInMenu.value_or(leftClickOpensMenu())) {
    MenuItem open;
    open.title = "Open Quorvel";
    std::weak_ptr<SniStatusItem*> weak = self_;
    open.action = [weak] {
      if (auto alive = weak.lock()) {
        SniStatusItem* self = *alive;
        self->activate(self->pointerOr(self->lastClick_.value_or(ScreenPoint{})));
      }
    };
    MenuItem separator;
    separator.kind = MenuItem::Kind::Separator;
    menu_->setLeadingItems({open, separator});
  }
}

SniStatusItem::~SniStatusItem() {
  if (GtkSettings* settings = gtk_settings_get_default()) {
    g_signal_handlers_disconnect_by_data(settings, this);
  }
  g_cancellable_cancel(cancellable_);
  g_bus_unwatch_name(watcherWatchId_);
  g_bus_unown_name(ownerId_);
  if (objectId_ != 0) g_dbus_connection_unregister_object(connection_, objectId_);
  menu_.reset();
  if (popup_ != nullptr) {
    gtk_widget_destroy(popup_);
    g_object_unref(popup_);
  }
  g_dbus_node_info_unref(nodeInfo_);
  g_object_unref(cancellable_);
  g_object_unref(connection_);
}

void SniStatusItem::imageChanged() {
  emit("NewIcon");
}

void SniStatusItem::toolTipChanged() {
  emit("NewToolTip");
}

void SniStatusItem::menuProviderChanged() {
  menu_->setProvider(menuProvider_);
}

void SniStatusItem::popUpMenu(ScreenPoint where) {
  if (!menuProvider_) return;
  if (popup_ != nullptr) {
    gtk_widget_destroy(popup_);
    g_object_unref(popup_);
  }
  popup_ = buildGtkMenu(menuProvider_());
  popUpGtkMenuAt(popup_, where);
}

std::optional<ScreenPoint> SniStatusItem::anchor() const {
  return lastClick_;
}

void SniStatusItem::activate(ScreenPoint where) {
  lastClick_ = where;
  if (activateHandler_) activateHandler_(where);
}

// Hosts that know no position send (0, 0); the pointer is then the best guess of where the
// item is, since the user has just clicked it.
ScreenPoint SniStatusItem::pointerOr(ScreenPoint where) const {
  if (where.x != 0 || where.y != 0) return where;
  GdkDisplay* display = gdk_display_get_default();
  if (display == nullptr) return where;
  GdkSeat* seat = gdk_display_get_default_seat(display);
  GdkDevice* pointer = seat ? gdk_seat_get_pointer(seat) : nullptr;
  if (pointer == nullptr) return where;
  ScreenPoint p;
  gdk_device_get_position(pointer, nullptr, &p.x, &p.y);
  return p;
}

void SniStatusItem::onMethodCall(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                 const gchar* method, GVariant* params,
                                 GDBusMethodInvocation* invocation, gpointer data) {
  auto* self = static_cast<SniStatusItem*>(data);
  // Answer first: the handlers may open windows or menus and the host should not wait on them.
  g_dbus_method_invocation_return_value(invocation, nullptr);
  if (std::strcmp(method, "Scroll") == 0) return;
  ScreenPoint where;
  g_variant_get(params, "(ii)", &where.x, &where.y);
  where = self->pointerOr(where);
  if (std::strcmp(method, "ContextMenu") == 0) {
    self->lastClick_ = where;
    self->popUpMenu(where);
  } else {
    // Activate is the left click; SecondaryActivate (a middle click) does the same, which gives
    // hosts that keep the left click for the menu a second way to the popover.
    self->activate(where);
  }
}

GVariant* SniStatusItem::onGetProperty(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                       const gchar* property, GError** error, gpointer data) {
  auto* self = static_cast<SniStatusItem*>(data);
  const std::string name = property;
  if (name == "Category") return g_variant_new_string("ApplicationStatus");
  if (name == "Id") return g_variant_new_string("quorvel");
  if (name == "Title") return g_variant_new_string("Quorvel");
  if (name == "Status") return g_variant_new_string("Active");
  if (name == "IconName") return g_variant_new_string(statusIconName(self->image_));
  if (name == "IconThemePath") return g_variant_new_string(self->iconThemePath_.c_str());
  if (name == "IconPixmap") return self->iconPixmaps();
  if (name == "ToolTip") return sni::toolTipVariant(self->toolTip_);
  if (name == "ItemIsMenu") return g_variant_new_boolean(FALSE);
  if (name == "Menu") return g_variant_new_object_path(sni::kMenuObjectPath);
  g_set_error(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_PROPERTY, "No property %s", property);
  return nullptr;
}

GVariant* SniStatusItem::iconPixmaps() {
  std::vector<sni::Pixmap> pixmaps;
  for (int scale : {1, 2}) {
    cairo_surface_t* surface = drawStatusImage(image_, scale, foreground_);
    pixmaps.push_back(sni::pixmapFromCairoArgb32(
        cairo_image_surface_get_data(surface), cairo_image_surface_get_width(surface),
        cairo_image_surface_get_height(surface), cairo_image_surface_get_stride(surface)));
    cairo_surface_destroy(surface);
  }
  return sni::pixmapsVariant(pixmaps);
}

void SniStatusItem::emit(const char* signal, GVariant* params) {
  g_dbus_connection_emit_signal(connection_, nullptr, sni::kItemObjectPath, sni::kItemInterface,
                                signal, params, nullptr);
}

void SniStatusItem::onNameAcquired(GDBusConnection*, const gchar*, gpointer data) {
  auto* self = static_cast<SniStatusItem*>(data);
  self->nameAcquired_ = true;
  self->registerWithWatcher();
}

void SniStatusItem::onWatcherAppeared(GDBusConnection*, const gchar*, const gchar*, gpointer data) {
  auto* self = static_cast<SniStatusItem*>(data);
  self->watcherPresent_ = true;
  self->registerWithWatcher();
}

void SniStatusItem::onWatcherVanished(GDBusConnection*, const gchar*, gpointer data) {
  static_cast<SniStatusItem*>(data)->watcherPresent_ = false;
}

void SniStatusItem::registerWithWatcher() {
  if (!nameAcquired_ || !watcherPresent_) return;
  g_dbus_connection_call(connection_, sni::kWatcherName, sni::kWatcherObjectPath,
                         sni::kWatcherInterface, "RegisterStatusNotifierItem",
                         g_variant_new("(s)", busName_.c_str()), nullptr, G_DBUS_CALL_FLAGS_NONE,
                         -1, cancellable_, onRegistered, this);
}

void SniStatusItem::onRegistered(GObject* source, GAsyncResult* result, gpointer data) {
  GError* error = nullptr;
  GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
  if (reply == nullptr) {
    // Cancelled means the item is gone; a refusal leaves it unregistered until the watcher
    // comes back.
    g_error_free(error);
    return;
  }
  g_variant_unref(reply);
  ++static_cast<SniStatusItem*>(data)->registrations_;
}

void SniStatusItem::onThemeChanged(GObject*, GParamSpec*, gpointer data) {
  auto* self = static_cast<SniStatusItem*>(data);
  const Rgb now = panelForeground();
  if (now == self->foreground_) return;
  self->foreground_ = now;
  self->emit("NewIcon");
}

}  // namespace quorvel::tray
