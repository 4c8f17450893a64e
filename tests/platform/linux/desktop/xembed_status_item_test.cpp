// The XEmbed tray icon's behaviour through its GtkStatusIcon: clicks, the menu and the picture.
#include "platform/linux/desktop/xembed_status_item.h"

#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <gdk/gdkx.h>

#include <array>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/desktop/desktop_session.h"

namespace quorvel::tray {
namespace {

G_GNUC_BEGIN_IGNORE_DEPRECATIONS

std::vector<std::string> labels(GtkWidget* menu) {
  std::vector<std::string> out;
  GList* rows = gtk_container_get_children(GTK_CONTAINER(menu));
  for (GList* l = rows; l; l = l->next) {
    if (GTK_IS_SEPARATOR_MENU_ITEM(l->data)) {
      out.emplace_back("-");
      continue;
    }
    std::string label = gtk_menu_item_get_label(GTK_MENU_ITEM(l->data));
    if (GTK_IS_CHECK_MENU_ITEM(l->data)) {
      label += gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(l->data)) ? " [x]" : " [ ]";
    }
    out.push_back(label);
  }
  g_list_free(rows);
  return out;
}

using XEmbedStatusItemTest = testing::DesktopTest;

TEST_F(XEmbedStatusItemTest, left_click_calls_the_handler_and_right_click_shows_a_fresh_menu) {
  XEmbedStatusItem item;
  int activations = 0;
  item.setActivateHandler([&](ScreenPoint) { ++activations; });
  std::string theme = "light";
  int chosen = 0;
  item.setMenuProvider([&] {
    MenuItem light{MenuItem::Kind::Action, "Light", theme == "light", "", [&] { ++chosen; }, {}};
    MenuItem dark{MenuItem::Kind::Action, "Dark", theme == "dark", "", [&] { ++chosen; }, {}};
    MenuItem quit{MenuItem::Kind::Action, "Quit Quorvel", false, "<Control>q", [] {}, {}};
    return MenuModel{MenuItem{MenuItem::Kind::Submenu, "Theme", false, "", {}, {light, dark}},
                     MenuItem{MenuItem::Kind::Separator, "", false, "", {}, {}}, quit};
  });

  g_signal_emit_by_name(item.gtkStatusIcon(), "activate");
  EXPECT_EQ(activations, 1);

  g_signal_emit_by_name(item.gtkStatusIcon(), "popup-menu", 3u, GDK_CURRENT_TIME);
  ASSERT_NE(item.shownMenu(), nullptr);
  EXPECT_EQ(labels(item.shownMenu()), (std::vector<std::string>{"Theme", "-", "Quit Quorvel"}));
  gtk_menu_shell_deactivate(GTK_MENU_SHELL(item.shownMenu()));

  theme = "dark";
  g_signal_emit_by_name(item.gtkStatusIcon(), "popup-menu", 3u, GDK_CURRENT_TIME);
  GList* rows = gtk_container_get_children(GTK_CONTAINER(item.shownMenu()));
  GtkWidget* themes = gtk_menu_item_get_submenu(GTK_MENU_ITEM(rows->data));
  g_list_free(rows);
  ASSERT_NE(themes, nullptr);
  EXPECT_EQ(labels(themes), (std::vector<std::string>{"Light [ ]", "Dark [x]"}));

  // Choosing a row runs its action once, after the menu's own handling.
  GList* choices = gtk_container_get_children(GTK_CONTAINER(themes));
  gtk_menu_item_activate(GTK_MENU_ITEM(choices->data));
  g_list_free(choices);
  EXPECT_EQ(chosen, 0);
  EXPECT_TRUE(testing::runUntil([&] { return chosen == 1; }));
  gtk_menu_shell_deactivate(GTK_MENU_SHELL(item.shownMenu()));
}

TEST_F(XEmbedStatusItemTest, shows_the_tool_tip_and_swaps_the_picture) {
  XEmbedStatusItem item;
  item.setToolTip("Recording...");
  gchar* tip = gtk_status_icon_get_tooltip_text(item.gtkStatusIcon());
  EXPECT_STREQ(tip, "Recording...");
  g_free(tip);

  item.setImage(StatusImage::RecordingBadge);
  GdkPixbuf* badge = gtk_status_icon_get_pixbuf(item.gtkStatusIcon());
  ASSERT_NE(badge, nullptr);
  const int w = gdk_pixbuf_get_width(badge);
  const int h = gdk_pixbuf_get_height(badge);
  EXPECT_EQ(w * 18, h * 28) << "the 28 × 18 canvas keeps its shape";
  const guchar* px = gdk_pixbuf_get_pixels(badge) + (h / 2) * gdk_pixbuf_get_rowstride(badge) +
                     (w / 2) * gdk_pixbuf_get_n_channels(badge);
  EXPECT_EQ(px[0], 255);
  EXPECT_EQ(px[1], 0);
  EXPECT_EQ(px[2], 0);
}

// A tray manager window of the test's own that owns the tray selection of screen 0 and
// announces `colours` (16-bit red, green and blue of the foreground), as panels do.
class AnnouncingTray {
 public:
  explicit AnnouncingTray(std::array<long, 3> colours) {
    display_ = gdk_x11_display_get_xdisplay(gdk_display_get_default());
    window_ = XCreateSimpleWindow(display_, DefaultRootWindow(display_), 0, 0, 1, 1, 0, 0, 0);
    long values[12] = {colours[0], colours[1], colours[2]};
    XChangeProperty(display_, window_, XInternAtom(display_, "_NET_SYSTEM_TRAY_COLORS", False),
                    XA_CARDINAL, 32, PropModeReplace, reinterpret_cast<unsigned char*>(values), 12);
    XSetSelectionOwner(display_, XInternAtom(display_, "_NET_SYSTEM_TRAY_S0", False), window_,
                       CurrentTime);
    XSync(display_, False);
  }
  ~AnnouncingTray() {
    XDestroyWindow(display_, window_);
    XSync(display_, False);
  }

 private:
  Display* display_ = nullptr;
  Window window_ = None;
};

TEST_F(XEmbedStatusItemTest, draws_in_the_trays_announced_colour_else_the_themes_text_colour) {
  struct Case {
    bool darkTheme;
    std::optional<std::array<long, 3>> announced;
    std::array<int, 3> expected;
  };
  // Adwaita's text is #2e3436, its dark variant's #eeeeec.
  const Case cases[] = {
      {false, std::nullopt, {0x2e, 0x34, 0x36}},
      {true, std::nullopt, {0xee, 0xee, 0xec}},
      {false, std::array<long, 3>{0xffff, 0xffff, 0xffff}, {255, 255, 255}},
      {true, std::array<long, 3>{0x1010, 0x8080, 0}, {0x10, 0x80, 0}},
  };
  GtkSettings* settings = gtk_settings_get_default();
  g_object_set(settings, "gtk-theme-name", "Adwaita", nullptr);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.darkTheme ? "dark" : "light") +
                 (c.announced ? " with colours announced" : ""));
    g_object_set(settings, "gtk-application-prefer-dark-theme", c.darkTheme, nullptr);
    std::optional<AnnouncingTray> tray;
    if (c.announced) tray.emplace(*c.announced);
    XEmbedStatusItem item;
    // The top line at (20, 4) on the 28 × 18 canvas, drawn at twice the size.
    GdkPixbuf* icon = gtk_status_icon_get_pixbuf(item.gtkStatusIcon());
    const guchar* px = gdk_pixbuf_get_pixels(icon) + 9 * gdk_pixbuf_get_rowstride(icon) +
                       40 * gdk_pixbuf_get_n_channels(icon);
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(px[i], c.expected[i], 1) << i;
    EXPECT_EQ(px[3], 255);
  }
  g_object_set(settings, "gtk-application-prefer-dark-theme", FALSE, nullptr);
}

G_GNUC_END_IGNORE_DEPRECATIONS

}  // namespace
}  // namespace quorvel::tray
