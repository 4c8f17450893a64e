// Helpers shared by the D-Bus menu and the GtkMenu renderers; see menu_rendering.h.
#include "platform/linux/desktop/menu_rendering.h"

#include <gtk/gtk.h>

#include <utility>

namespace quorvel::tray {

bool menuShowsCheckBoxes(const MenuModel& menu) {
  for (const MenuItem& item : menu) {
    if (item.kind == MenuItem::Kind::Action && item.checked && !item.checkable) return true;
  }
  return false;
}

std::vector<std::string> acceleratorParts(const std::string& accelerator) {
  guint key = 0;
  GdkModifierType mods = static_cast<GdkModifierType>(0);
  gtk_accelerator_parse(accelerator.c_str(), &key, &mods);
  if (key == 0) return {};
  std::vector<std::string> parts;
  if (mods & GDK_CONTROL_MASK) parts.emplace_back("Control");
  if (mods & GDK_MOD1_MASK) parts.emplace_back("Alt");
  if (mods & GDK_SHIFT_MASK) parts.emplace_back("Shift");
  if (mods & (GDK_SUPER_MASK | GDK_MOD4_MASK)) parts.emplace_back("Super");
  const char* name = gdk_keyval_name(key);
  if (name == nullptr) return {};
  parts.emplace_back(name);
  return parts;
}

namespace {
struct PendingAction {
  std::function<void()> action;
  std::function<void()> then;
};
}  // namespace

void connectMenuAction(gpointer row, const char* signal, std::function<void()> action,
                       std::function<void()> then) {
  // Swapped: the handler gets the action first and ignores the signal's own arguments.
  void (*chosen)(gpointer) = [](gpointer data) {
    auto* p = static_cast<PendingAction*>(data);
    runMenuActionSoon(p->action, p->then);
  };
  g_signal_connect_data(
      row, signal, G_CALLBACK(chosen), new PendingAction{std::move(action), std::move(then)},
      [](gpointer data, GClosure*) { delete static_cast<PendingAction*>(data); },
      G_CONNECT_SWAPPED);
}

void runMenuActionSoon(std::function<void()> action, std::function<void()> then) {
  auto* pending = new PendingAction{std::move(action), std::move(then)};
  g_idle_add_full(
      G_PRIORITY_DEFAULT,
      [](gpointer data) -> gboolean {
        auto* p = static_cast<PendingAction*>(data);
        if (p->action) p->action();
        if (p->then) p->then();
        return G_SOURCE_REMOVE;
      },
      pending, [](gpointer data) { delete static_cast<PendingAction*>(data); });
}

}  // namespace quorvel::tray
