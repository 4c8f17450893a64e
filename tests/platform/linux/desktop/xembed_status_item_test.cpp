// The XEmbed tray icon through its GtkStatusIcon: clicks, the menu and the picture.
#include "platform/linux/desktop/xembed_status_item.h"

// gtest first: Xlib defines macros (None, Bool) that clash with its names.
#include "platform/linux/desktop/desktop_session.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <gdk/gdkx.h>

namespace quorvel::tray {
namespace {

G_GNUC_BEGIN_IGNORE_DEPRECATIONS

std::vector<std::string> rows(GtkWidget* menu) {
  std::vector<std::string> out;
  GList* children = gtk_container_get_children(GTK_CONTAINER(menu));
  for (GList* l = children; l; l = l->next) {
    const bool check = GTK_IS_CHECK_MENU_ITEM(l->data);
    out.push_back(GTK_IS_SEPARATOR_MENU_ITEM(l->data)
                      ? "-"
                      : std::string(gtk_menu_item_get_label(GTK_MENU_ITEM(l->data))) +
                            (!check ? ""
                             : gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(l->data))
                                 ? " [x]"
                                 : " [ ]"));
  }
  g_list_free(children);
  return out;
}

GtkWidget* firstRow(GtkWidget* menu) {
  GList* children = gtk_container_get_children(GTK_CONTAINER(menu));
  GtkWidget* first = GTK_WIDGET(children->data);
  g_list_free(children);
  return first;
}

// Red, green, blue and alpha of the picture at canvas point (x, y); it is drawn at twice the size.
std::vector<int> colourAt(XEmbedStatusItem& item, int x, int y) {
  GdkPixbuf* icon = gtk_status_icon_get_pixbuf(item.gtkStatusIcon());
  EXPECT_EQ(gdk_pixbuf_get_width(icon) * 18, gdk_pixbuf_get_height(icon) * 28);
  const guchar* px = gdk_pixbuf_get_pixels(icon) + (2 * y + 1) * gdk_pixbuf_get_rowstride(icon) +
                     2 * x * gdk_pixbuf_get_n_channels(icon);
  return {px[0], px[1], px[2], px[3]};
}

using XEmbedStatusItemTest = testing::DesktopTest;

TEST_F(XEmbedStatusItemTest, clicks_tool_tip_badge_and_a_fresh_menu_whose_rows_act_once) {
  XEmbedStatusItem item;
  int activations = 0, chosen = 0;
  item.setActivateHandler([&](ScreenPoint) { ++activations; });
  std::string theme = "light";
  item.setMenuProvider([&] {
    MenuItem light{MenuItem::Kind::Action, "Light", theme == "light", "", [&] { ++chosen; }, {}};
    MenuItem dark{MenuItem::Kind::Action, "Dark", theme == "dark", "", [&] { ++chosen; }, {}};
    return MenuModel{MenuItem{MenuItem::Kind::Submenu, "Theme", false, "", {}, {light, dark}},
                     MenuItem{MenuItem::Kind::Separator, "", false, "", {}, {}},
                     MenuItem{MenuItem::Kind::Action, "Quit Quorvel", false, "", [] {}, {}}};
  });
  g_signal_emit_by_name(item.gtkStatusIcon(), "activate");
  EXPECT_EQ(activations, 1);
  g_signal_emit_by_name(item.gtkStatusIcon(), "popup-menu", 3u, GDK_CURRENT_TIME);
  EXPECT_EQ(rows(item.shownMenu()), (std::vector<std::string>{"Theme", "-", "Quit Quorvel"}));
  gtk_menu_shell_deactivate(GTK_MENU_SHELL(item.shownMenu()));
  theme = "dark";
  g_signal_emit_by_name(item.gtkStatusIcon(), "popup-menu", 3u, GDK_CURRENT_TIME);
  GtkWidget* themes = gtk_menu_item_get_submenu(GTK_MENU_ITEM(firstRow(item.shownMenu())));
  EXPECT_EQ(rows(themes), (std::vector<std::string>{"Light [ ]", "Dark [x]"}));
  gtk_menu_item_activate(GTK_MENU_ITEM(firstRow(themes)));
  EXPECT_EQ(chosen, 0) << "the action runs after the menu's own handling";
  EXPECT_TRUE(testing::runUntil([&] { return chosen == 1; }));
  gtk_menu_shell_deactivate(GTK_MENU_SHELL(item.shownMenu()));

  item.setToolTip("Recording...");
  gchar* tip = gtk_status_icon_get_tooltip_text(item.gtkStatusIcon());
  EXPECT_STREQ(tip, "Recording...");
  g_free(tip);
  item.setImage(StatusImage::RecordingBadge);
  EXPECT_EQ(colourAt(item, 14, 9), (std::vector<int>{255, 0, 0, 255}));
}

TEST_F(XEmbedStatusItemTest, draws_in_the_trays_announced_colour_else_the_themes_text_colour) {
  Display* display = gdk_x11_display_get_xdisplay(gdk_display_get_default());
  const struct {
    gboolean darkTheme;
    std::vector<long> announced;  // 16-bit red, green and blue of the tray's foreground
    std::vector<int> expected;
  } cases[] = {// Adwaita's text is #2e3436, its dark variant's #eeeeec.
               {false, {}, {0x2e, 0x34, 0x36, 255}},
               {true, {}, {0xee, 0xee, 0xec, 255}},
               {false, {0xffff, 0xffff, 0xffff}, {255, 255, 255, 255}},
               {true, {0x1010, 0x8080, 0}, {0x10, 0x80, 0, 255}}};
  g_object_set(gtk_settings_get_default(), "gtk-theme-name", "Adwaita", nullptr);
  for (const auto& c : cases) {
    g_object_set(gtk_settings_get_default(), "gtk-application-prefer-dark-theme", c.darkTheme,
                 nullptr);
    // A tray manager of the test's own that owns the tray selection and announces the colours.
    Window tray = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0);
    if (!c.announced.empty()) {
      long values[12] = {c.announced[0], c.announced[1], c.announced[2]};
      XChangeProperty(display, tray, XInternAtom(display, "_NET_SYSTEM_TRAY_COLORS", False),
                      XA_CARDINAL, 32, PropModeReplace, reinterpret_cast<unsigned char*>(values),
                      12);
      XSetSelectionOwner(display, XInternAtom(display, "_NET_SYSTEM_TRAY_S0", False), tray,
                         CurrentTime);
    }
    XSync(display, False);
    XEmbedStatusItem item;
    const std::vector<int> got = colourAt(item, 20, 4);
    for (int i = 0; i < 4; ++i)
      EXPECT_NEAR(got[i], c.expected[i], 1) << c.darkTheme << c.announced.size();
    XDestroyWindow(display, tray);
    XSync(display, False);
  }
}

G_GNUC_END_IGNORE_DEPRECATIONS

}  // namespace
}  // namespace quorvel::tray
