// The tray's context menu drawn by this program itself, as a GtkMenu: for the XEmbed icon and
// for hosts that ask the item to show its own menu (ContextMenu(x, y)).
//
// Implements: labels, separators, submenus, check marks (see menu_rendering.h), accelerators
// shown beside the label, actions run on the main loop after the menu has closed, and popping
// up at a screen point.
// Missing: keyboard mnemonics and disabled rows (the menu model has neither).
// Main thread only.
#pragma once

#include <gtk/gtk.h>

#include "platform/status_item.h"

namespace quorvel::tray {

// A new menu; the caller holds the one reference (the floating one is sunk) and releases it
// with gtk_widget_destroy and g_object_unref.
GtkWidget* buildGtkMenu(const MenuModel& model);

// Shows the menu with its top left corner at a screen point (kept on screen by GTK).
void popUpGtkMenuAt(GtkWidget* menu, ScreenPoint where);

}  // namespace quorvel::tray
