// Chooses the tray item for this desktop, and changes it when the desktop changes.
//
// Implements: a StatusNotifierItem while a StatusNotifierWatcher owns its name on the session
// bus, an XEmbed tray icon otherwise (also when there is no session bus) where the display is
// X11, and no item elsewhere (Wayland has no XEmbed tray). The watcher is
// followed: when one appears after start the XEmbed icon gives way to the StatusNotifierItem,
// when it goes (a panel restart) the XEmbed icon comes back, and so on; the old item is gone
// before the new one shows, so there are never two icons. The new item gets the picture, tool
// tip, click handler and menu of the old. Whether any host can show the item is reported to a
// handler, for a window of its own where no tray exists.
// Missing: the XEmbed tray's own coming and going is left to the XEmbed icon, which docks
// whenever a tray appears.
// Call after gtk_init, on the main thread.
#pragma once

#include <gio/gio.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/linux/desktop/stored_status_item.h"

namespace quorvel::tray {

class XEmbedStatusItem;

class FollowingStatusItem final : public StoredStatusItem {
 public:
  // `bus`: the session connection, or null when there is none (then XEmbed only).
  explicit FollowingStatusItem(GDBusConnection* bus);
  ~FollowingStatusItem() override;
  FollowingStatusItem(const FollowingStatusItem&) = delete;
  FollowingStatusItem& operator=(const FollowingStatusItem&) = delete;

  void popUpMenu(ScreenPoint where) override;
  std::optional<ScreenPoint> anchor() const override;

  // Available: a StatusNotifierWatcher, or an XEmbed tray, is there to show the item.
  void setHostAvailabilityHandler(std::function<void(bool available)> handler) override;
  bool hostAvailable() const;

  // The item that shows now: a SniStatusItem, an XEmbedStatusItem, or none.
  StatusItem* current() const { return current_.get(); }

 private:
  // Each change goes on to the item that shows now; use() hands all four to a new one.
  void imageChanged() override;
  void toolTipChanged() override;
  void activateHandlerChanged() override;
  void menuProviderChanged() override;

  static void onWatcherAppeared(GDBusConnection*, const gchar*, const gchar*, gpointer self);
  static void onWatcherVanished(GDBusConnection*, const gchar*, gpointer self);
  void use(bool statusNotifier);
  void reportAvailability();

  GDBusConnection* bus_ = nullptr;
  guint watchId_ = 0;
  bool chosen_ = false;
  bool statusNotifier_ = false;
  std::unique_ptr<StatusItem> current_;
  XEmbedStatusItem* xembed_ = nullptr;  // current_ when it is the XEmbed icon

  std::function<void(bool)> availabilityHandler_;
  std::optional<bool> reported_;
};

std::unique_ptr<FollowingStatusItem> makeStatusItem();

}  // namespace quorvel::tray
