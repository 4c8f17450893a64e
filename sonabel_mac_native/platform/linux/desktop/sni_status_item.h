// The tray item as a StatusNotifierItem on the session bus, with its menu exported through
// libdbusmenu (KDE Plasma, XFCE, waybar, GNOME Shell with the AppIndicator extension).
//
// Implements: the item object at /StatusNotifierItem under the name
// org.kde.StatusNotifierItem-<pid>-<n>, registration with org.kde.StatusNotifierWatcher and
// again every time the watcher's name appears, Activate and SecondaryActivate (the activate
// handler), ContextMenu (a GtkMenu drawn here), the icon by name from our hicolor icons (with
// their folder in IconThemePath; hosts recolour the symbolic one to suit the panel), the icon
// pixmaps at scale 1 and 2 for hosts that want pixels (redrawn when the GTK theme changes), the
// tool tip, NewIcon / NewToolTip, and the menu at /MenuBar. GNOME Shell's AppIndicator (and Unity)
// open the menu on a left click, so there the menu starts with an "Open Quorvel" row that acts like
// a left click elsewhere. Missing: Scroll does nothing; no attention or overlay icons; the item
// never changes Status. Main thread only: bus callbacks arrive on the default main context.
#pragma once

#include <gio/gio.h>
#include <gtk/gtk.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/linux/desktop/dbus_menu.h"
#include "platform/linux/desktop/sni_wire.h"
#include "platform/linux/desktop/stored_status_item.h"
#include "platform/linux/desktop/tray_icon.h"

namespace quorvel::tray {

class SniStatusItem final : public StoredStatusItem {
 public:
  struct Options {
    // Whether the menu starts with "Open Quorvel"; unset means: only where XDG_CURRENT_DESKTOP
    // names GNOME or Unity.
    std::optional<bool> openRowInMenu;
  };

  // `connection`: the shared session connection (g_bus_get), which the menu server uses too.
  SniStatusItem(GDBusConnection* connection, Options options);
  ~SniStatusItem() override;
  SniStatusItem(const SniStatusItem&) = delete;
  SniStatusItem& operator=(const SniStatusItem&) = delete;

  void popUpMenu(ScreenPoint where) override;
  std::optional<ScreenPoint> anchor() const override;

  const std::string& busName() const { return busName_; }
  // How many times a watcher has accepted the item.
  int registrations() const { return registrations_; }

 private:
  void imageChanged() override;
  void toolTipChanged() override;
  void menuProviderChanged() override;

  static void onMethodCall(GDBusConnection*, const gchar* sender, const gchar* path,
                           const gchar* iface, const gchar* method, GVariant* params,
                           GDBusMethodInvocation* invocation, gpointer self);
  static GVariant* onGetProperty(GDBusConnection*, const gchar* sender, const gchar* path,
                                 const gchar* iface, const gchar* property, GError** error,
                                 gpointer self);
  static void onNameAcquired(GDBusConnection*, const gchar*, gpointer self);
  static void onWatcherAppeared(GDBusConnection*, const gchar*, const gchar*, gpointer self);
  static void onWatcherVanished(GDBusConnection*, const gchar*, gpointer self);
  static void onRegistered(GObject* source, GAsyncResult* result, gpointer self);
  static void onThemeChanged(GObject*, GParamSpec*, gpointer self);

  void registerWithWatcher();
  void activate(ScreenPoint where);
  void emit(const char* signal, GVariant* params = nullptr);
  GVariant* iconPixmaps();
  ScreenPoint pointerOr(ScreenPoint where) const;

  GDBusConnection* connection_ = nullptr;
  GDBusNodeInfo* nodeInfo_ = nullptr;
  GCancellable* cancellable_ = nullptr;
  guint objectId_ = 0;
  guint ownerId_ = 0;
  guint watcherWatchId_ = 0;
  bool nameAcquired_ = false;
  bool watcherPresent_ = false;
  int registrations_ = 0;
  std::string busName_;

  std::string iconThemePath_;
  Rgb foreground_;
  std::optional<ScreenPoint> lastClick_;
  std::unique_ptr<DbusMenu> menu_;
  GtkWidget* popup_ = nullptr;
  // Menu actions queued to the main loop hold this weakly.
  std::shared_ptr<SniStatusItem*> self_;
};

}  // namespace quorvel::tray
