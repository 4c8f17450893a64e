// The tray pictures, read back pixel by pixel (straight alpha, as they go on the wire).
#include "platform/linux/desktop/tray_icon.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <cstdlib>
#include <string>

#include "platform/linux/desktop/desktop_session.h"
#include "platform/linux/desktop/sni_wire.h"

namespace quorvel::tray {
namespace {

struct Drawn {
  sni::Pixmap pixmap;
  int scale = 1;
  // Alpha of the device pixel under canvas point (x, y), counted from the top left.
  int alpha(int x, int y) const { return byte(x, y, 0); }
  int red(int x, int y) const { return byte(x, y, 1); }
  int byte(int x, int y, int channel) const {
    const size_t i = (static_cast<size_t>(y * scale) * pixmap.width + x * scale) * 4 + channel;
    return pixmap.argb[i];
  }
  int opaqueIn(int x0, int y0, int x1, int y1) const {
    int n = 0;
    for (int y = y0; y < y1; ++y) {
      for (int x = x0; x < x1; ++x) n += alpha(x, y) > 200;
    }
    return n;
  }
};

Drawn draw(StatusImage image, int scale, Rgb fg, bool themeGlyph) {
  cairo_surface_t* s = drawStatusImage(image, scale, fg, themeGlyph);
  Drawn d{sni::pixmapFromCairoArgb32(
              cairo_image_surface_get_data(s), cairo_image_surface_get_width(s),
              cairo_image_surface_get_height(s), cairo_image_surface_get_stride(s)),
          scale};
  cairo_surface_destroy(s);
  return d;
}

class TrayIconTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(testing::startGtk()); }
};

TEST_F(TrayIconTest, three_lines_get_shorter_downwards_in_the_given_colour) {
  for (int scale : {1, 2}) {
    for (bool theme : {true, false}) {
      const Drawn d = draw(StatusImage::MenuBarIcon, scale, Rgb{1, 1, 1}, theme);
      ASSERT_EQ(d.pixmap.width, 28 * scale);
      ASSERT_EQ(d.pixmap.height, 18 * scale);
      // Top row (y 4.5 from the top) ends at 26, middle (y 9) at 23.5, bottom (y 13.5) at 21.
      EXPECT_EQ(d.alpha(25, 4), 255) << "scale " << scale;
      EXPECT_EQ(d.alpha(25, 8), 0);
      EXPECT_GT(d.alpha(22, 8), 100);
      EXPECT_EQ(d.alpha(20, 13), 255);
      EXPECT_EQ(d.alpha(23, 13), 0);
      EXPECT_EQ(d.alpha(20, 1), 0) << "nothing above the top row";
      EXPECT_EQ(d.red(25, 4), 255) << "drawn in the foreground colour";
    }
  }
  const Drawn black = draw(StatusImage::MenuBarIcon, 1, Rgb{0, 0, 0}, true);
  EXPECT_EQ(black.alpha(25, 4), 255);
  EXPECT_EQ(black.red(25, 4), 0);
}

TEST_F(TrayIconTest, microphone_sits_left_of_the_lines_from_the_theme_or_drawn) {
  for (bool theme : {true, false}) {
    const Drawn d = draw(StatusImage::MenuBarIcon, 2, Rgb{0, 0, 0}, theme);
    EXPECT_GT(d.opaqueIn(1, 2, 14, 16), 20) << (theme ? "theme glyph" : "drawn glyph");
    EXPECT_EQ(d.opaqueIn(0, 0, 1, 18), 0) << "the glyph starts one point from the left edge";
    EXPECT_EQ(d.opaqueIn(0, 0, 28, 1), 0) << "and is centred, clear of the top edge";
  }
  // adwaita-icon-theme is installed with the program, so the theme's glyph must be the one
  // used, not the drawn stand-in.
  EXPECT_NE(draw(StatusImage::MenuBarIcon, 1, Rgb{0, 0, 0}, true).pixmap.argb,
            draw(StatusImage::MenuBarIcon, 1, Rgb{0, 0, 0}, false).pixmap.argb);
}

TEST_F(TrayIconTest, badge_ignores_the_foreground_colour) {
  const Drawn onDark = draw(StatusImage::RecordingBadge, 1, Rgb{1, 1, 1}, true);
  const Drawn onLight = draw(StatusImage::RecordingBadge, 1, Rgb{0, 0, 0}, true);
  EXPECT_EQ(onDark.pixmap.argb, onLight.pixmap.argb);
  EXPECT_EQ(onDark.red(14, 9), 255);
  EXPECT_EQ(onDark.opaqueIn(20, 0, 28, 18), 0) << "the dot spans x 8 to 20 only";
}

TEST_F(TrayIconTest, foreground_is_light_on_gnome_and_with_a_dark_theme_otherwise_black) {
  const char* saved = std::getenv("XDG_CURRENT_DESKTOP");
  const std::string desktop = saved ? saved : "";
  GtkSettings* settings = gtk_settings_get_default();
  gchar* themeName = nullptr;
  g_object_get(settings, "gtk-theme-name", &themeName, nullptr);

  setenv("XDG_CURRENT_DESKTOP", "XFCE", 1);
  g_object_set(settings, "gtk-application-prefer-dark-theme", FALSE, "gtk-theme-name", "Adwaita",
               nullptr);
  EXPECT_EQ(panelForeground(), (Rgb{0, 0, 0}));
  g_object_set(settings, "gtk-theme-name", "Adwaita-dark", nullptr);
  EXPECT_EQ(panelForeground(), (Rgb{1, 1, 1}));
  g_object_set(settings, "gtk-theme-name", "Adwaita", "gtk-application-prefer-dark-theme", TRUE,
               nullptr);
  EXPECT_EQ(panelForeground(), (Rgb{1, 1, 1}));
  g_object_set(settings, "gtk-application-prefer-dark-theme", FALSE, nullptr);
  setenv("XDG_CURRENT_DESKTOP", "ubuntu:GNOME", 1);
  EXPECT_EQ(panelForeground(), (Rgb{1, 1, 1}));

  if (saved) {
    setenv("XDG_CURRENT_DESKTOP", desktop.c_str(), 1);
  } else {
    unsetenv("XDG_CURRENT_DESKTOP");
  }
  g_object_set(settings, "gtk-theme-name", themeName, nullptr);
  g_free(themeName);
}

}  // namespace
}  // namespace quorvel::tray
