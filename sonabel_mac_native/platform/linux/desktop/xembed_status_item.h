// The tray item as an XEmbed tray icon (GtkStatusIcon), for panels that have no
// StatusNotifierWatcher on the session bus.
//
// Implements: the pictures of tray_icon.h (redrawn when the GTK theme changes), the tool
// tip, a left click (the activate handler with the icon's position), a right click and
// popUpMenu (a GtkMenu built from the provider at that moment), anchor() from the icon's
// geometry.
// Missing: it does not switch to a StatusNotifierItem if a watcher appears later; GtkStatusIcon
// is deprecated in GTK 3 but is the only XEmbed tray client GTK has.
// Main thread only.
#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/linux/desktop/tray_icon.h"
#include "platform/status_item.h"

namespace quorvel::tray {

class XEmbedStatusItem final : public StatusItem {
 public:
  XEmbedStatusItem();
  ~XEmbedStatusItem() override;
  XEmbedStatusItem(const XEmbedStatusItem&) = delete;
  XEmbedStatusItem& operator=(const XEmbedStatusItem&) = delete;

  void setImage(StatusImage image) override;
  void setToolTip(const std::string& text) override;
  void setActivateHandler(std::function<void(ScreenPoint where)> handler) override;
  void setMenuProvider(std::function<MenuModel()> provider) override;
  void popUpMenu(ScreenPoint where) override;
  std::optional<ScreenPoint> anchor() const override;

  GtkStatusIcon* gtkStatusIcon() const { return icon_; }
  // The menu shown last, or null.
  GtkWidget* shownMenu() const { return menu_; }

 private:
  static void onActivate(GtkStatusIcon*, gpointer self);
  static void onPopupMenu(GtkStatusIcon*, guint button, guint time, gpointer self);
  static void onThemeChanged(gpointer self);
  void redraw();
  bool rebuildMenu();

  GtkStatusIcon* icon_ = nullptr;
  StatusImage image_ = StatusImage::MenuBarIcon;
  std::function<void(ScreenPoint)> activateHandler_;
  std::function<MenuModel()> menuProvider_;
  GtkWidget* menu_ = nullptr;
};

}  // namespace quorvel::tray
