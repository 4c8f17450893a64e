// The tray item as an XEmbed tray icon (GtkStatusIcon), for panels that have no
// StatusNotifierWatcher on the session bus.
//
// Implements: the pictures of tray_icon.h in the foreground colour the tray announces
// (_NET_SYSTEM_TRAY_COLORS on the tray manager's window) or, where it announces none, the GTK
// theme's text colour (redrawn when the theme changes or the icon docks in another tray), the
// tool tip, a left click (the activate handler with the icon's position), a right click and
// popUpMenu (a GtkMenu built from the provider at that moment), anchor() from the icon's
// geometry, and whether it sits in a tray.
// Missing: a tray that changes its colours while the icon sits in it is not followed;
// GtkStatusIcon is deprecated in GTK 3 but is the only XEmbed tray client GTK has.
// Main thread only.
#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/linux/desktop/stored_status_item.h"
#include "platform/linux/desktop/tray_icon.h"

namespace quorvel::tray {

class XEmbedStatusItem final : public StoredStatusItem {
 public:
  XEmbedStatusItem();
  ~XEmbedStatusItem() override;
  XEmbedStatusItem(const XEmbedStatusItem&) = delete;
  XEmbedStatusItem& operator=(const XEmbedStatusItem&) = delete;

  void popUpMenu(ScreenPoint where) override;
  std::optional<ScreenPoint> anchor() const override;

  // Called when the icon docks in a tray or leaves it.
  void setEmbeddedHandler(std::function<void(bool embedded)> handler);
  bool embedded() const;
  // Whether an XEmbed tray manager runs on this screen.
  static bool trayPresent();
  // The colour the menu-bar icon is drawn in now.
  static Rgb trayForeground();

  GtkStatusIcon* gtkStatusIcon() const { return icon_; }
  // The menu shown last, or null.
  GtkWidget* shownMenu() const { return menu_; }

 private:
  void imageChanged() override { redraw(); }
  void toolTipChanged() override;

  static void onActivate(GtkStatusIcon*, gpointer self);
  static void onPopupMenu(GtkStatusIcon*, guint button, guint time, gpointer self);
  static void onThemeChanged(gpointer self);
  static void onEmbeddedChanged(GObject*, GParamSpec*, gpointer self);
  void redraw();
  bool rebuildMenu();

  GtkStatusIcon* icon_ = nullptr;
  std::function<void(bool)> embeddedHandler_;
  GtkWidget* menu_ = nullptr;
};

}  // namespace quorvel::tray
