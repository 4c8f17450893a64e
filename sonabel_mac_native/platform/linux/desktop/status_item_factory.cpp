// Picks the StatusNotifierItem or the XEmbed tray icon; see status_item_factory.h.
#include "platform/linux/desktop/status_item_factory.h"

#include <gio/gio.h>

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

std::unique_ptr<StatusItem> makeStatusItem() {
  GDBusConnection* bus =
      sessionBusAnnounced() ? g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr) : nullptr;
  std::unique_ptr<StatusItem> item;
  if (bus != nullptr && watcherOnBus(bus)) {
    item = std::make_unique<SniStatusItem>(bus, SniStatusItem::Options{});
  } else {
    item = std::make_unique<XEmbedStatusItem>();
  }
  if (bus != nullptr) g_object_unref(bus);
  return item;
}

}  // namespace quorvel::tray
