// Shared by the tray's two menu renderers (the exported D-Bus menu and the local GtkMenu):
// when a menu shows check boxes, how an accelerator is spelled, and how a chosen item runs.
//
// Implements: check boxes for every action row of a menu that has a checked row (a choice
// list such as languages or themes; rows of plain commands get none) and for every row marked
// checkable (an on/off setting, whose own check does not count), "<Control>q" style
// accelerators split into modifier and key names, actions run on the next turn of the main
// loop.
// Missing: radio groups and disabled rows (the menu model has neither).
#pragma once

#include <glib.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/status_item.h"

namespace quorvel::tray {

bool menuShowsCheckBoxes(const MenuModel& menu);

// "<Control><Shift>q" → {"Control", "Shift", "q"}; empty when the text is not an accelerator.
std::vector<std::string> acceleratorParts(const std::string& accelerator);

// Runs `action` and then `then` on the main loop, after the menu's own signal handling has
// returned, so an action may rebuild the menu, open a modal dialog or quit. Empty functions are
// skipped.
void runMenuActionSoon(std::function<void()> action, std::function<void()> then = {});

// Runs `action` (and `then`) as above each time the menu row `row` (a GObject) emits `signal`;
// both live as long as the row.
void connectMenuAction(gpointer row, const char* signal, std::function<void()> action,
                       std::function<void()> then = {});

}  // namespace quorvel::tray
