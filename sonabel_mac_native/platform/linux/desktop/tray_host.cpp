// Looks for a tray host; see tray_host.h.
#include "platform/linux/desktop/tray_host.h"

#include <X11/Xlib.h>
#include <gdk/gdkx.h>
#include <gio/gio.h>
#include <gtk/gtk.h>

#include <string>

#include "platform/linux/desktop/sni_wire.h"

namespace quorvel::tray {
namespace {

bool watcherOnSessionBus() {
  // Asking GLib for a session bus when none is announced would start a private one.
  gchar* socket = g_build_filename(g_get_user_runtime_dir(), "bus", nullptr);
  const bool announced =
      g_getenv("DBUS_SESSION_BUS_ADDRESS") != nullptr || g_file_test(socket, G_FILE_TEST_EXISTS);
  g_free(socket);
  if (!announced) return false;
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  if (bus == nullptr) return false;
  GVariant* reply = g_dbus_connection_call_sync(
      bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner",
      g_variant_new("(s)", sni::kWatcherName), G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE, 2000,
      nullptr, nullptr);
  g_object_unref(bus);
  if (reply == nullptr) return false;
  gboolean owned = FALSE;
  g_variant_get(reply, "(b)", &owned);
  g_variant_unref(reply);
  return owned;
}

bool x11TrayOwned() {
  GdkDisplay* display = gdk_display_get_default();
  if (display == nullptr || !GDK_IS_X11_DISPLAY(display)) return false;
  Display* xdisplay = GDK_DISPLAY_XDISPLAY(display);
  const std::string name = "_NET_SYSTEM_TRAY_S" + std::to_string(DefaultScreen(xdisplay));
  const Atom selection = XInternAtom(xdisplay, name.c_str(), False);
  return XGetSelectionOwner(xdisplay, selection) != None;
}

}  // namespace

bool trayHostPresent() {
  return watcherOnSessionBus() || x11TrayOwned();
}

}  // namespace quorvel::tray
