// The GtkMenu renderer of the tray menu; see gtk_popup_menu.h.
#include "platform/linux/desktop/gtk_popup_menu.h"

#include <functional>

#include "platform/linux/desktop/menu_rendering.h"

namespace quorvel::tray {
namespace {

constexpr char kPointKey[] = "quorvel-point";

void fill(GtkWidget* menu, const MenuModel& model) {
  const bool checkBoxes = menuShowsCheckBoxes(model);
  for (const MenuItem& item : model) {
    GtkWidget* widget = nullptr;
    switch (item.kind) {
      case MenuItem::Kind::Separator:
        widget = gtk_separator_menu_item_new();
        break;
      case MenuItem::Kind::Submenu: {
        widget = gtk_menu_item_new_with_label(item.title.c_str());
        GtkWidget* sub = gtk_menu_new();
        fill(sub, item.submenu);
        gtk_menu_item_set_submenu(GTK_MENU_ITEM(widget), sub);
        break;
      }
      case MenuItem::Kind::Action:
        if (checkBoxes || item.checkable) {
          widget = gtk_check_menu_item_new_with_label(item.title.c_str());
          gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(widget), item.checked);
        } else {
          widget = gtk_menu_item_new_with_label(item.title.c_str());
        }
        if (!item.accelerator.empty()) {
          guint key = 0;
          GdkModifierType mods = static_cast<GdkModifierType>(0);
          gtk_accelerator_parse(item.accelerator.c_str(), &key, &mods);
          GtkWidget* label = gtk_bin_get_child(GTK_BIN(widget));
          if (key != 0 && GTK_IS_ACCEL_LABEL(label)) {
            gtk_accel_label_set_accel(GTK_ACCEL_LABEL(label), key, mods);
          }
        }
        if (item.action) connectMenuAction(widget, "activate", item.action);
        break;
    }
    gtk_widget_show(widget);
    gtk_menu_shell_append(GTK_MENU_SHELL(menu), widget);
  }
}

void positionAtPoint(GtkMenu* menu, gint* x, gint* y, gboolean* pushIn, gpointer) {
  auto* where = static_cast<ScreenPoint*>(g_object_get_data(G_OBJECT(menu), kPointKey));
  *x = where ? where->x : 0;
  *y = where ? where->y : 0;
  *pushIn = TRUE;
}

}  // namespace

GtkWidget* buildGtkMenu(const MenuModel& model) {
  GtkWidget* menu = gtk_menu_new();
  g_object_ref_sink(menu);
  fill(menu, model);
  return menu;
}

void popUpGtkMenuAt(GtkWidget* menu, ScreenPoint where) {
  g_object_set_data_full(G_OBJECT(menu), kPointKey, new ScreenPoint(where),
                         [](gpointer p) { delete static_cast<ScreenPoint*>(p); });
  // There is no window of ours to anchor to (the host draws the item), and only this older
  // call places a menu at a bare screen point.
  G_GNUC_BEGIN_IGNORE_DEPRECATIONS
  gtk_menu_popup(GTK_MENU(menu), nullptr, nullptr, positionAtPoint, nullptr, 0,
                 gtk_get_current_event_time());
  G_GNUC_END_IGNORE_DEPRECATIONS
}

}  // namespace quorvel::tray
