// The XEmbed tray icon through its GtkStatusIcon: docking in a tray and the colour it is drawn in.
#include "platform/linux/desktop/xembed_status_item.h"

// gtest first: Xlib defines macros (None, Bool) that clash with its names.
#include "platform/linux/desktop/desktop_session.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <gdk/gdkx.h>

namespace quorvel::tray {
namespace {

G_GNUC_BEGIN_IGNORE_DEPRECATIONS

// A tray manager of the test's own on an X connection of its own: it owns the tray selection,
// announces a foreground colour when given one, and docks every icon that asks by taking its
// window in (the plug counts that as embedded).
class TrayManager {
 public:
  explicit TrayManager(const std::vector<long>& announced) {
    window_ = XCreateSimpleWindow(x_, DefaultRootWindow(x_), 0, 0, 64, 64, 0, 0, 0);
    if (!announced.empty()) {
      long values[12] = {announced[0], announced[1], announced[2]};
      XChangeProperty(x_, window_, atom("_NET_SYSTEM_TRAY_COLORS"), XA_CARDINAL, 32,
                      PropModeReplace, reinterpret_cast<unsigned char*>(values), 12);
    }
    XSetSelectionOwner(x_, atom("_NET_SYSTEM_TRAY_S0"), window_, CurrentTime);
    XSync(x_, False);
  }
  ~TrayManager() {
    XSync(GDK_DISPLAY_XDISPLAY(gdk_display_get_default()), False);  // the icon is gone first
    XCloseDisplay(x_);
  }
  // Handles the dock requests that have arrived.
  void serve() {
    while (XPending(x_)) {
      XEvent e;
      XNextEvent(x_, &e);
      if (e.type == ClientMessage && e.xclient.message_type == atom("_NET_SYSTEM_TRAY_OPCODE") &&
          e.xclient.data.l[1] == 0) {
        XReparentWindow(x_, e.xclient.data.l[2], window_, 0, 0);
        XSync(x_, False);
      }
    }
  }

 private:
  Atom atom(const char* name) { return XInternAtom(x_, name, False); }
  Display* x_ = XOpenDisplay(nullptr);
  Window window_;
};

// Red, green, blue and alpha of the picture at canvas point (x, y); it is drawn at twice the size.
std::vector<int> colourAt(XEmbedStatusItem& item, int x, int y) {
  GdkPixbuf* icon = gtk_status_icon_get_pixbuf(item.gtkStatusIcon());
  const guchar* px = gdk_pixbuf_get_pixels(icon) + (2 * y + 1) * gdk_pixbuf_get_rowstride(icon) +
                     2 * x * gdk_pixbuf_get_n_channels(icon);
  return {px[0], px[1], px[2], px[3]};
}

using XEmbedStatusItemTest = testing::DesktopTest;

TEST_F(XEmbedStatusItemTest, docks_in_the_tray_drawn_in_its_announced_colour_else_the_themes) {
  const struct {
    gboolean darkTheme;
    std::vector<long> announced;  // 16-bit red, green and blue of the tray's foreground
    std::vector<int> expected;
  } cases[] = {// Adwaita's text is #2e3436, its dark variant's #eeeeec.
               {false, {}, {0x2e, 0x34, 0x36, 255}},
               {true, {}, {0xee, 0xee, 0xec, 255}},
               {true, {0x1010, 0x8080, 0}, {0x10, 0x80, 0, 255}}};
  g_object_set(gtk_settings_get_default(), "gtk-theme-name", "Adwaita", nullptr);
  for (const auto& c : cases) {
    g_object_set(gtk_settings_get_default(), "gtk-application-prefer-dark-theme", c.darkTheme,
                 nullptr);
    TrayManager tray(c.announced);
    XEmbedStatusItem item;
    int docked = 0;
    item.setEmbeddedHandler([&](bool embedded) { docked += embedded; });
    EXPECT_TRUE(testing::runUntil([&] {
      tray.serve();
      return item.embedded();
    })) << "the icon did not dock";
    EXPECT_EQ(docked, 1);
    const std::vector<int> got = colourAt(item, 20, 4);
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(got[i], c.expected[i], 1) << c.darkTheme << i;
  }
}

G_GNUC_END_IGNORE_DEPRECATIONS

}  // namespace
}  // namespace quorvel::tray
