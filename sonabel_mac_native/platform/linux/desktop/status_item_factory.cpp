// Picks the StatusNotifierItem or the XEmbed tray icon and follows the watcher; see
// status_item_factory.h.
#include "platform/linux/desktop/status_item_factory.h"

#include <gdk/gdkx.h>

#include "platform/linux/desktop/sni_status_item.h"
#include "platform/linux/desktop/sni_wire.h"
#include "platform/linux/desktop/xembed_status_item.h"

namespace quorvel::tray {
namespace {

// Asking GLib for a session bus when none is announced would start a private one that outlives
// the program.
bool sessionBusAnnounced() {
  if (g_getenv("DBUS_SESSION_BUS_ADDRESS") != nullptr) return true;
  gchar* socket = g_build_filename(g_get_user_runtime_dir(), "bus", nullptr);
  const bool exists = g_file_test(socket, G_FILE_TEST_EXISTS);
  g_free(socket);
  return exists;
}

bool watcherOnBus(GDBusConnection* bus) {
  GVariant* reply = g_dbus_connection_call_sync(
      bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner",
      g_variant_new("(s)", sni::kWatcherName), G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE, 2000,
      nullptr, nullptr);
  if (reply == nullptr) return false;
  gboolean owned = FALSE;
  g_variant_get(reply, "(b)", &owned);
  g_variant_unref(reply);
  return owned;
}

}  // namespace

FollowingStatusItem::FollowingStatusItem(GDBusConnection* bus)
    : bus_(bus ? G_DBUS_CONNECTION(g_object_ref(bus)) : nullptr) {
  // Decided at once, so that the item exists when this returns; the watch then follows changes.
  use(bus_ != nullptr && watcherOnBus(bus_));
  if (bus_ != nullptr) {
    watchId_ =
        g_bus_watch_name_on_connection(bus_, sni::kWatcherName, G_BUS_NAME_WATCHER_FLAGS_NONE,
                                       onWatcherAppeared, onWatcherVanished, this, nullptr);
  }
}

FollowingStatusItem::~FollowingStatusItem() {
  if (watchId_ != 0) g_bus_unwatch_name(watchId_);
  current_.reset();
  if (bus_ != nullptr) g_object_unref(bus_);
}

void FollowingStatusItem::use(bool statusNotifier) {
  if (chosen_ && statusNotifier == statusNotifier_) return;
  chosen_ = true;
  // The old item leaves the panel before the new one asks to be shown.
  current_.reset();
  xembed_ = nullptr;
  statusNotifier_ = statusNotifier;
  if (statusNotifier) {
    current_ = std::make_unique<SniStatusItem>(bus_, SniStatusItem::Options{});
  } else if (!GDK_IS_X11_DISPLAY(gdk_display_get_default())) {
    // An XEmbed tray is an X11 thing: elsewhere, until a watcher comes, no item at all.
    reportAvailability();
    return;
  } else {
    auto xembed = std::make_unique<XEmbedStatusItem>();
    xembed_ = xembed.get();
    xembed_->setEmbeddedHandler([this](bool) { reportAvailability(); });
    current_ = std::move(xembed);
  }
  current_->setImage(image_);
  current_->setToolTip(toolTip_);
  if (activateHandler_) current_->setActivateHandler(activateHandler_);
  if (menuProvider_) current_->setMenuProvider(menuProvider_);
  reportAvailability();
}

void FollowingStatusItem::onWatcherAppeared(GDBusConnection*, const gchar*, const gchar*,
                                            gpointer self) {
  static_cast<FollowingStatusItem*>(self)->use(true);
}

void FollowingStatusItem::onWatcherVanished(GDBusConnection*, const gchar*, gpointer self) {
  static_cast<FollowingStatusItem*>(self)->use(false);
}

bool FollowingStatusItem::hostAvailable() const {
  if (statusNotifier_) return true;
  return xembed_ != nullptr && (xembed_->embedded() || xembed_->trayPresent());
}

void FollowingStatusItem::reportAvailability() {
  const bool now = hostAvailable();
  if (reported_ == now) return;
  reported_ = now;
  if (availabilityHandler_) availabilityHandler_(now);
}

void FollowingStatusItem::setHostAvailabilityHandler(std::function<void(bool)> handler) {
  availabilityHandler_ = std::move(handler);
  reported_.reset();
  reportAvailability();
}

void FollowingStatusItem::imageChanged() {
  if (current_) current_->setImage(image_);
}

void FollowingStatusItem::toolTipChanged() {
  if (current_) current_->setToolTip(toolTip_);
}

void FollowingStatusItem::activateHandlerChanged() {
  if (current_) current_->setActivateHandler(activateHandler_);
}

void FollowingStatusItem::menuProviderChanged() {
  if (current_) current_->setMenuProvider(menuProvider_);
}

void FollowingStatusItem::popUpMenu(ScreenPoint where) {
  if (current_) current_->popUpMenu(where);
}

std::optional<ScreenPoint> FollowingStatusItem::anchor() const {
  return current_ ? current_->anchor() : std::nullopt;
}

std::unique_ptr<FollowingStatusItem> makeStatusItem() {
  GDBusConnection* bus =
      sessionBusAnnounced() ? g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr) : nullptr;
  auto item = std::make_unique<FollowingStatusItem>(bus);
  if (bus != nullptr) g_object_unref(bus);
  return item;
}

}  // namespace quorvel::tray
