// The X11 global hot-key; see x11_global_hot_key.h for what it covers.
#include "platform/linux/desktop/x11_global_hot_key.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <gdk/gdkx.h>

#include <utility>

namespace quorvel {
namespace {

// NumLock is Mod2 on nearly every keymap, but the keymap is what decides.
unsigned numLockMask(Display* xdisplay) {
  const unsigned mask = XkbKeysymToModifiers(xdisplay, XK_Num_Lock);
  return mask != 0 ? mask : Mod2Mask;
}

}  // namespace

X11GlobalHotKey::~X11GlobalHotKey() {
  if (deliverySource_ != 0) g_source_remove(deliverySource_);
  if (root_ != nullptr) {
    gdk_window_remove_filter(root_, filter, this);
    ungrab();
  }
}

int X11GlobalHotKey::registerHotKey(const std::string& keyName, std::function<void()> onPress) {
  if (root_ != nullptr) return kAlreadyRegistered;
  GdkDisplay* display = gdk_display_get_default();
  if (display == nullptr || !GDK_IS_X11_DISPLAY(display)) return kNotX11;
  Display* xdisplay = GDK_DISPLAY_XDISPLAY(display);
  const KeySym sym = XStringToKeysym(keyName.c_str());
  const KeyCode code = sym == NoSymbol ? 0 : XKeysymToKeycode(xdisplay, sym);
  if (code == 0) return kUnknownKey;

  // Without this a held key arrives as a release and a press for every repeat; with it the
  // repeats are presses alone, which the filter drops until the key is released.
  Bool detectable = False;
  XkbSetDetectableAutoRepeat(xdisplay, True, &detectable);

  GdkWindow* root = gdk_get_default_root_window();
  const Window xroot = GDK_WINDOW_XID(root);
  gdk_x11_display_error_trap_push(display);
  const unsigned numLock = numLockMask(xdisplay);
  lockStates_ = {0, numLock, LockMask, numLock | LockMask};
  for (unsigned state : lockStates_) {
    XGrabKey(xdisplay, code, state, xroot, False, GrabModeAsync, GrabModeAsync);
  }
  const int error = gdk_x11_display_error_trap_pop(display);
  display_ = display;
  keycode_ = code;
  if (error != 0) {
    ungrab();
    display_ = nullptr;
    keycode_ = 0;
    return -error;
  }
  root_ = root;
  onPress_ = std::move(onPress);
  gdk_window_add_filter(root_, filter, this);
  return 0;
}

void X11GlobalHotKey::ungrab() {
  Display* xdisplay = GDK_DISPLAY_XDISPLAY(display_);
  const Window xroot = GDK_WINDOW_XID(gdk_get_default_root_window());
  gdk_x11_display_error_trap_push(display_);
  for (unsigned state : lockStates_) XUngrabKey(xdisplay, keycode_, state, xroot);
  gdk_x11_display_error_trap_pop_ignored(display_);
}

GdkFilterReturn X11GlobalHotKey::filter(GdkXEvent* xevent, GdkEvent*, gpointer data) {
  auto* self = static_cast<X11GlobalHotKey*>(data);
  const XEvent* event = static_cast<const XEvent*>(xevent);
  if (event->type != KeyPress && event->type != KeyRelease) return GDK_FILTER_CONTINUE;
  if (event->xkey.keycode != self->keycode_) return GDK_FILTER_CONTINUE;
  if (event->type == KeyRelease) {
    self->held_ = false;
    return GDK_FILTER_REMOVE;
  }
  if (self->held_) return GDK_FILTER_REMOVE;
  self->held_ = true;
  ++self->queued_;
  if (self->deliverySource_ == 0) {
    self->deliverySource_ = g_idle_add_full(G_PRIORITY_DEFAULT, deliver, self, nullptr);
  }
  return GDK_FILTER_REMOVE;
}

// One press per turn of the main loop, oldest first, outside X event processing.
gboolean X11GlobalHotKey::deliver(gpointer data) {
  auto* self = static_cast<X11GlobalHotKey*>(data);
  if (self->queued_ == 0) {
    self->deliverySource_ = 0;
    return G_SOURCE_REMOVE;
  }
  --self->queued_;
  if (self->queued_ == 0) self->deliverySource_ = 0;
  const bool more = self->queued_ != 0;
  if (self->onPress_) self->onPress_();
  return more ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
}

}  // namespace quorvel
