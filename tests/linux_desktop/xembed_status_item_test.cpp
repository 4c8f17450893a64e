// The XEmbed tray icon's behaviour through its GtkStatusIcon: clicks, the menu and the picture.
#include "platform/linux/desktop/xembed_status_item.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "linux_desktop/desktop_session.h"

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

TEST_F(XEmbedStatusItemTest, follows_a_theme_change_with_a_light_icon) {
  setenv("XDG_CURRENT_DESKTOP", "XFCE", 1);
  GtkSettings* settings = gtk_settings_get_default();
  g_object_set(settings, "gtk-theme-name", "Adwaita", "gtk-application-prefer-dark-theme", FALSE,
               nullptr);
  XEmbedStatusItem item;
  // The top line at (20, 4) on the 28 × 18 canvas, drawn at twice the size.
  auto topLine = [&] {
    GdkPixbuf* icon = gtk_status_icon_get_pixbuf(item.gtkStatusIcon());
    return gdk_pixbuf_get_pixels(icon) + 9 * gdk_pixbuf_get_rowstride(icon) +
           40 * gdk_pixbuf_get_n_channels(icon);
  };
  EXPECT_EQ(topLine()[0], 0);
  EXPECT_EQ(topLine()[3], 255);
  g_object_set(settings, "gtk-theme-name", "Adwaita-dark", nullptr);
  EXPECT_EQ(topLine()[0], 255);
  EXPECT_EQ(topLine()[3], 255);
  g_object_set(settings, "gtk-theme-name", "Adwaita", nullptr);
}

G_GNUC_END_IGNORE_DEPRECATIONS

}  // namespace
}  // namespace quorvel::tray
