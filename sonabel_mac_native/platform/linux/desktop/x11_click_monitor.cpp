// The XInput2 outside-click monitor; see x11_click_monitor.h for what it covers.
#include "platform/linux/desktop/x11_click_monitor.h"

#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <gdk/gdkx.h>

#include <utility>

namespace quorvel {
namespace {

bool selectRawPresses(Display* xdisplay, Window root, bool on) {
  unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
  if (on) XISetMask(bits, XI_RawButtonPress);
  XIEventMask mask{XIAllMasterDevices, sizeof bits, bits};
  return XISelectEvents(xdisplay, root, &mask, 1) == Success;
}

}  // namespace

X11ClickMonitor::~X11ClickMonitor() {
  if (!installed_) return;
  gdk_window_remove_filter(nullptr, filter, this);
  GdkDisplay* display = gdk_display_get_default();
  gdk_x11_display_error_trap_push(display);
  selectRawPresses(GDK_DISPLAY_XDISPLAY(display), GDK_WINDOW_XID(gdk_get_default_root_window()),
                   false);
  gdk_x11_display_error_trap_pop_ignored(display);
}

bool X11ClickMonitor::install(std::function<void()> onClick) {
  if (installed_) return false;
  GdkDisplay* display = gdk_display_get_default();
  if (display == nullptr || !GDK_IS_X11_DISPLAY(display)) return false;
  Display* xdisplay = GDK_DISPLAY_XDISPLAY(display);
  int event = 0;
  int error = 0;
  if (!XQueryExtension(xdisplay, "XInputExtension", &opcode_, &event, &error)) return false;
  // GDK has already announced its own XInput version on this connection; asking for an older
  // one than 2.2 now is a fatal protocol error.
  int major = 2;
  int minor = 2;
  if (XIQueryVersion(xdisplay, &major, &minor) != Success) return false;
  if (major < 2 || (major == 2 && minor < 2)) return false;

  gdk_x11_display_error_trap_push(display);
  selectRawPresses(xdisplay, GDK_WINDOW_XID(gdk_get_default_root_window()), true);
  if (gdk_x11_display_error_trap_pop(display) != 0) return false;
  onClick_ = std::move(onClick);
  // Raw events belong to no GDK window, so only a filter for all events sees them.
  gdk_window_add_filter(nullptr, filter, this);
  installed_ = true;
  return true;
}

GdkFilterReturn X11ClickMonitor::filter(GdkXEvent* xevent, GdkEvent*, gpointer data) {
  auto* self = static_cast<X11ClickMonitor*>(data);
  auto* event = static_cast<XEvent*>(xevent);
  if (event->type != GenericEvent || event->xcookie.extension != self->opcode_ ||
      event->xcookie.evtype != XI_RawButtonPress || event->xcookie.data == nullptr) {
    return GDK_FILTER_CONTINUE;
  }
  const auto* raw = static_cast<const XIRawEvent*>(event->xcookie.data);
  if (raw->detail != Button1 && raw->detail != Button3) return GDK_FILTER_CONTINUE;

  GdkDisplay* display = gdk_display_get_default();
  GdkDevice* pointer = gdk_seat_get_pointer(gdk_display_get_default_seat(display));
  if (gdk_device_get_window_at_position(pointer, nullptr, nullptr) != nullptr) {
    return GDK_FILTER_CONTINUE;  // one of ours: GTK handles that click itself
  }
  auto* weak = new std::weak_ptr<X11ClickMonitor*>(self->self_);
  g_idle_add_full(
      G_PRIORITY_DEFAULT,
      [](gpointer p) -> gboolean {
        if (auto alive = static_cast<std::weak_ptr<X11ClickMonitor*>*>(p)->lock()) {
          if ((*alive)->onClick_) (*alive)->onClick_();
        }
        return G_SOURCE_REMOVE;
      },
      weak, [](gpointer p) { delete static_cast<std::weak_ptr<X11ClickMonitor*>*>(p); });
  return GDK_FILTER_CONTINUE;
}

}  // namespace quorvel
