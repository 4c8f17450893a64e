// The tray item: an icon with a tool tip, a left click and a context menu.
//
// Contract:
//   - Main thread only. Handlers are called on the main thread.
//   - setImage swaps the whole picture; the menu-bar icon is a template (drawn in the panel's
//     foreground colour), the recording badge keeps its red.
//   - onActivate fires for a primary click (screen coordinates of the click or of the item when
//     the host gives none); the menu provider is asked for a fresh menu every time the menu is
//     about to show, so check marks are always current.
//   - setHostAvailabilityHandler (optional): told at once, and then on every change, whether
//     a tray host can show the item now; false means nothing on screen shows it. Items that
//     cannot tell always answer true.
// Linux: a StatusNotifierItem with a D-Bus menu, or an XEmbed icon when no watcher is on the
// bus. Tests: a fake that records what was set and clicks on demand.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quorvel {

struct MenuItem {
  enum class Kind { Action, Separator, Submenu };
  Kind kind = Kind::Action;
  std::string title;
  bool checked = false;
  std::string accelerator;  // shown only, e.g. "<Control>q"
  std::function<void()> action;
  std::vector<MenuItem> submenu;
  // Always drawn with a check box, checked or not. Other action rows get check boxes only
  // where a row of their menu level is checked (the language and theme choices).
  bool checkable = false;
};
using MenuModel = std::vector<MenuItem>;

enum class StatusImage { MenuBarIcon, RecordingBadge };

struct ScreenPoint {
  int x = 0;
  int y = 0;
};

class StatusItem {
 public:
  virtual ~StatusItem() = default;

  virtual void setImage(StatusImage image) = 0;
  virtual void setToolTip(const std::string& text) = 0;
  virtual void setActivateHandler(std::function<void(ScreenPoint where)> handler) = 0;
  virtual void setMenuProvider(std::function<MenuModel()> provider) = 0;
  // Opens the context menu at once (a host that asked for it with ContextMenu(x, y)).
  virtual void popUpMenu(ScreenPoint where) = 0;
  // Where the item was last seen on screen, for placing the popover.
  virtual std::optional<ScreenPoint> anchor() const = 0;
  virtual void setHostAvailabilityHandler(std::function<void(bool available)> handler) {
    handler(true);
  }
};

}  // namespace quorvel
