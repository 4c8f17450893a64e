// The XEmbed tray icon docking in a tray manager of the test's own, on an X connection of its
// own: it owns the tray selection, may announce a foreground colour, and takes in the window of
// every icon that asks to dock (the icon's plug counts that as embedded).
#include "platform/linux/desktop/xembed_status_item.h"

// gtest first: Xlib defines macros (None, Bool) that clash with its names.
#include "platform/linux/desktop/desktop_session.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <gdk/gdkx.h>

namespace quorvel::tray {
namespace {

using XEmbedStatusItemTest = testing::DesktopTest;

TEST_F(XEmbedStatusItemTest, docks_in_the_tray_drawn_in_its_announced_colour_else_the_themes) {
  const struct {
    std::vector<long> announced;  // 16-bit red, green and blue of the tray's foreground
    std::vector<int> expected;    // Adwaita's text is #2e3436
  } cases[] = {{{}, {0x2e, 0x34, 0x36, 255}}, {{0x1010, 0x8080, 0}, {0x10, 0x80, 0, 255}}};
  g_object_set(gtk_settings_get_default(), "gtk-theme-name", "Adwaita", nullptr);
  for (const auto& c : cases) {
    Display* x = XOpenDisplay(nullptr);
    auto atom = [&](const char* name) { return XInternAtom(x, name, False); };
    const Window tray = XCreateSimpleWindow(x, DefaultRootWindow(x), 0, 0, 64, 64, 0, 0, 0);
    if (!c.announced.empty()) {
      long values[12] = {c.announced[0], c.announced[1], c.announced[2]};
      XChangeProperty(x, tray, atom("_NET_SYSTEM_TRAY_COLORS"), XA_CARDINAL, 32, PropModeReplace,
                      reinterpret_cast<unsigned char*>(values), 12);
    }
    XSetSelectionOwner(x, atom("_NET_SYSTEM_TRAY_S0"), tray, CurrentTime);
    XSync(x, False);
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS {
      XEmbedStatusItem item;
      int docked = 0;
      item.setEmbeddedHandler([&](bool embedded) { docked += embedded; });
      EXPECT_TRUE(testing::runUntil([&] {
        for (XEvent e; XPending(x) && XNextEvent(x, &e) == 0;) {
          if (e.type == ClientMessage &&
              e.xclient.message_type == atom("_NET_SYSTEM_TRAY_OPCODE") &&
              e.xclient.data.l[1] == 0) {  // a dock request
            XReparentWindow(x, e.xclient.data.l[2], tray, 0, 0);
            XSync(x, False);
          }
        }
        return item.embedded();
      })) << "the icon did not dock";
      EXPECT_EQ(docked, 1);
      // The picture is drawn at twice the size: canvas point (20, 4) on the top line.
      GdkPixbuf* icon = gtk_status_icon_get_pixbuf(item.gtkStatusIcon());
      const guchar* px = gdk_pixbuf_get_pixels(icon) + 9 * gdk_pixbuf_get_rowstride(icon) +
                         40 * gdk_pixbuf_get_n_channels(icon);
      for (int i = 0; i < 4; ++i) EXPECT_NEAR(px[i], c.expected[i], 1) << i;
    }
    G_GNUC_END_IGNORE_DEPRECATIONS
    XSync(GDK_DISPLAY_XDISPLAY(gdk_display_get_default()), False);  // the icon is gone first
    XCloseDisplay(x);
  }
}

}  // namespace
}  // namespace quorvel::tray
