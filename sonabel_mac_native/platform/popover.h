// The popover: an undecorated window that shows the page next to the tray item.
//
// Contract (main thread only):
//   - setContentSize fixes the size in logical pixels; setContent puts the web view in it.
//   - show opens it next to `anchor` (below it in the top half of the screen, above it in the
//     bottom half), kept inside the work area, and gives it the keyboard focus. Without an
//     anchor it opens near the pointer. Showing an open popover only raises it.
//   - close hides it; harmless when hidden. isShown tells whether it is on screen.
//   - setClosesOnFocusLoss: hides it when it loses the keyboard focus (for sessions where
//     clicks in other programs cannot be watched). setFocusLossHandler (optional) is told,
//     on the main thread, each time it has hidden itself so.
//   - useAsWindow(true): from then on it is an ordinary window instead (title bar, close
//     button, taskbar entry, placed by the window manager, kept open when it loses the focus),
//     for sessions with no tray to open it from; closing it only hides it. useAsWindow(false)
//     makes it the popover again. Call it while hidden.
//   - setRecordingBadge (optional): as the window, it shows that a recording runs (the tray
//     item's badge, where there is no tray item).
// Linux: a GTK window. Tests: a recorder.
#pragma once

#include <functional>
#include <memory>
#include <optional>

#include "platform/status_item.h"
#include "platform/web_view.h"

namespace quorvel {

class Popover {
 public:
  virtual ~Popover() = default;

  virtual void setContentSize(int width, int height) = 0;
  virtual void setContent(std::shared_ptr<WebView> view) = 0;
  virtual void show(std::optional<ScreenPoint> anchor) = 0;
  virtual void close() = 0;
  virtual bool isShown() const = 0;
  virtual void setClosesOnFocusLoss(bool closes) = 0;
  virtual void setFocusLossHandler(std::function<void()> onClosed) { (void)onClosed; }
  virtual void useAsWindow(bool asWindow) = 0;
  virtual void setRecordingBadge(bool recording) { (void)recording; }
};

}  // namespace quorvel
