// Clicks in other applications, on X11: XInput2 raw button presses on the root window.
//
// Implements: left and right button presses of any master pointer, anywhere on the screen,
// reported on the main loop unless the pointer is over one of this program's own windows.
// Raw events carry no position, so the pointer is asked where it is when the event is handled.
// Missing: other displays (Wayland without X11, no XInput 2.2): install returns false and the
// caller relies on focus loss instead. Middle clicks and wheel turns are not clicks here.
// Main thread only (GTK must be initialised).
#pragma once

#include <gdk/gdk.h>

#include <functional>
#include <memory>

#include "platform/global_input.h"

namespace quorvel {

class X11ClickMonitor final : public GlobalClickMonitor {
 public:
  X11ClickMonitor() = default;
  ~X11ClickMonitor() override;
  X11ClickMonitor(const X11ClickMonitor&) = delete;
  X11ClickMonitor& operator=(const X11ClickMonitor&) = delete;

  bool install(std::function<void()> onClick) override;

 private:
  static GdkFilterReturn filter(GdkXEvent* xevent, GdkEvent*, gpointer self);

  bool installed_ = false;
  int opcode_ = 0;
  std::function<void()> onClick_;
  std::shared_ptr<X11ClickMonitor*> self_ = std::make_shared<X11ClickMonitor*>(this);
};

}  // namespace quorvel
