// The global hot-key on X11: a passive grab of the key on the root window.
//
// Implements: XGrabKey of the named key (an X keysym name such as "F6") with no modifiers,
// and also with NumLock, CapsLock and both, since those are lock states and not modifiers to
// the user (NumLock's modifier is read from the keymap); a refused grab (another client holds
// the key) undoes the grabs made and reports a negative status; presses are taken from the
// root window through a GDK filter and handed to onPress on the main loop, in order; a held
// key (X auto-repeat) counts once.
// Missing: Wayland without X11 (the desktop portal's GlobalShortcuts) reports kNotX11;
// ScrollLock as a lock state is not grabbed; the key is never ungrabbed before the object goes.
// Main thread only (GTK must be initialised).
#pragma once

#include <gdk/gdk.h>

#include <array>
#include <functional>
#include <string>

#include "platform/global_input.h"

namespace quorvel {

class X11GlobalHotKey final : public GlobalHotKey {
 public:
  // registerHotKey's statuses other than 0. An X protocol error is reported as its code
  // negated (BadAccess: -10).
  static constexpr int kNotX11 = -1;
  static constexpr int kUnknownKey = -2;
  static constexpr int kAlreadyRegistered = -3;

  X11GlobalHotKey() = default;
  ~X11GlobalHotKey() override;
  X11GlobalHotKey(const X11GlobalHotKey&) = delete;
  X11GlobalHotKey& operator=(const X11GlobalHotKey&) = delete;

  int registerHotKey(const std::string& keyName, std::function<void()> onPress) override;

 private:
  static GdkFilterReturn filter(GdkXEvent* xevent, GdkEvent*, gpointer self);
  static gboolean deliver(gpointer self);
  void ungrab();

  GdkDisplay* display_ = nullptr;
  GdkWindow* root_ = nullptr;
  unsigned keycode_ = 0;
  std::array<unsigned, 4> lockStates_{};
  bool held_ = false;
  unsigned queued_ = 0;
  guint deliverySource_ = 0;
  std::function<void()> onPress_;
};

}  // namespace quorvel
