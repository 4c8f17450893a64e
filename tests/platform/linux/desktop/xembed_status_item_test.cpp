// The XEmbed tray icon docking in a tray manager of the test's own, on an X connection of its
// own: it owns the tray selection and takes in the window of every icon that asks to dock (the
// icon's plug counts that as embedded).
#include "platform/linux/desktop/xembed_status_item.h"

// gtest first: Xlib defines macros (None, Bool) that clash with its names.
#include "platform/linux/desktop/desktop_session.h"

#include <X11/Xlib.h>
#include <gdk/gdkx.h>

namespace quorvel::tray {
G_GNUC_BEGIN_IGNORE_DEPRECATIONS

using XEmbedStatusItemTest = testing::DesktopTest;

TEST_F(XEmbedStatusItemTest, docks_in_the_screens_tray) {
  Display* x = XOpenDisplay(nullptr);
  auto atom = [&](const char* name) { return XInternAtom(x, name, False); };
  const Window tray = XCreateSimpleWindow(x, DefaultRootWindow(x), 0, 0, 64, 64, 0, 0, 0);
  XSetSelectionOwner(x, atom("_NET_SYSTEM_TRAY_S0"), tray, CurrentTime);
  XSync(x, False);
  {
    XEmbedStatusItem item;
    int docked = 0;
    item.setEmbeddedHandler([&](bool embedded) { docked += embedded; });
    EXPECT_TRUE(testing::runUntil([&] {
      for (XEvent e; XPending(x) && XNextEvent(x, &e) == 0;) {
        if (e.type == ClientMessage && e.xclient.message_type == atom("_NET_SYSTEM_TRAY_OPCODE") &&
            e.xclient.data.l[1] == 0) {  // a dock request
          XReparentWindow(x, e.xclient.data.l[2], tray, 0, 0);
          XSync(x, False);
        }
      }
      return item.embedded();
    })) << "the icon did not dock";
    EXPECT_EQ(docked, 1);
  }
  XSync(GDK_DISPLAY_XDISPLAY(gdk_display_get_default()), False);  // the icon is gone first
  XCloseDisplay(x);
}

G_GNUC_END_IGNORE_DEPRECATIONS

}  // namespace quorvel::tray
