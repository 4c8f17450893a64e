// The tray item's context menu exported as com.canonical.dbusmenu with libdbusmenu-glib, for
// hosts that draw the menu themselves (KDE Plasma, XFCE, waybar, GNOME's AppIndicator).
//
// Implements: labels, separators, submenus, check marks (see menu_rendering.h), accelerators
// shown as "shortcut", a rebuild from the provider whenever the host is about to show the root
// and after every chosen action, and "clicked" events running the row's action on the main
// loop. Leading rows (set by the item) go before the provider's rows.
// Missing: icons, disabled rows and partial (per-submenu) updates; the whole tree is replaced.
// Main thread only; the server exports on the shared g_bus_get() session connection.
#pragma once

#include <libdbusmenu-glib/client.h>
#include <libdbusmenu-glib/menuitem.h>
#include <libdbusmenu-glib/server.h>

#include <functional>
#include <memory>
#include <string>

#include "platform/status_item.h"

namespace quorvel::tray {

class DbusMenu {
 public:
  explicit DbusMenu(const std::string& objectPath);
  ~DbusMenu();
  DbusMenu(const DbusMenu&) = delete;
  DbusMenu& operator=(const DbusMenu&) = delete;

  void setProvider(std::function<MenuModel()> provider);
  void setLeadingItems(MenuModel items);
  // Replaces the exported tree with the leading rows and a fresh model from the provider.
  void rebuild();

 private:
  static void onAboutToShow(DbusmenuMenuitem* root, gpointer self);
  void append(DbusmenuMenuitem* parent, const MenuModel& model);

  DbusmenuServer* server_ = nullptr;
  DbusmenuMenuitem* root_ = nullptr;
  std::function<MenuModel()> provider_;
  MenuModel leading_;
  // Actions queued to the main loop hold this weakly and skip the rebuild once it is gone.
  std::shared_ptr<DbusMenu*> self_;
};

}  // namespace quorvel::tray
