// The tray pictures, read back pixel by pixel (straight alpha, as they go on the wire), and the
// colour they are drawn in.
#include "platform/linux/desktop/tray_icon.h"

#include "platform/linux/desktop/desktop_session.h"
#include "platform/linux/desktop/sni_wire.h"

namespace quorvel::tray {
namespace {

// The alpha and red bytes of every device pixel, as (alpha, red) at canvas point (x, y).
struct Drawn {
  sni::Pixmap pixmap;
  int scale;
  std::pair<int, int> at(int x, int y) const {
    const size_t i = (static_cast<size_t>(y * scale) * pixmap.width + x * scale) * 4;
    return {pixmap.argb[i], pixmap.argb[i + 1]};
  }
  int opaqueIn(int x0, int y0, int x1, int y1) const {
    int n = 0;
    for (int y = y0; y < y1; ++y) {
      for (int x = x0; x < x1; ++x) n += at(x, y).first > 200;
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

TEST(TrayIcon, draws_a_microphone_and_three_lines_shorter_downwards_in_the_given_colour) {
  ASSERT_TRUE(testing::startGtk());
  for (int scale : {1, 2}) {
    for (bool theme : {true, false}) {
      SCOPED_TRACE(std::to_string(scale) + (theme ? " theme glyph" : " drawn glyph"));
      const Drawn d = draw(StatusImage::MenuBarIcon, scale, Rgb{1, 1, 1}, theme);
      ASSERT_EQ(std::make_pair(d.pixmap.width, d.pixmap.height),
                std::make_pair(28 * scale, 18 * scale));
      // Top row (y 4.5) ends at 26, middle (y 9) at 23.5, bottom (y 13.5) at 21.
      EXPECT_EQ(d.at(25, 4), std::make_pair(255, 255)) << "in the foreground colour";
      EXPECT_EQ(d.at(25, 8).first + d.at(23, 13).first + d.at(20, 1).first, 0);
      EXPECT_GT(d.at(22, 8).first, 100);
      EXPECT_EQ(d.at(20, 13).first, 255);
      if (scale == 1) continue;
      EXPECT_GT(d.opaqueIn(1, 2, 14, 16), 20) << "the microphone";
      EXPECT_EQ(d.opaqueIn(0, 0, 1, 18) + d.opaqueIn(0, 0, 28, 1), 0) << "clear of the edges";
    }
  }
  EXPECT_EQ(draw(StatusImage::MenuBarIcon, 1, Rgb{0, 0, 0}, true).at(25, 4),
            std::make_pair(255, 0));
  // adwaita-icon-theme is installed with the program: the theme's glyph is used, not the stand-in.
  EXPECT_NE(draw(StatusImage::MenuBarIcon, 1, Rgb{0, 0, 0}, true).pixmap.argb,
            draw(StatusImage::MenuBarIcon, 1, Rgb{0, 0, 0}, false).pixmap.argb);
  const Drawn badge = draw(StatusImage::RecordingBadge, 1, Rgb{1, 1, 1}, true);
  EXPECT_EQ(badge.pixmap.argb, draw(StatusImage::RecordingBadge, 1, Rgb{0, 0, 0}, true).pixmap.argb)
      << "the badge ignores the foreground colour";
  EXPECT_EQ(badge.at(14, 9), std::make_pair(255, 255));
  EXPECT_EQ(badge.opaqueIn(20, 0, 28, 18), 0) << "the dot spans x 8 to 20 only";
}

TEST(TrayIcon, foreground_is_light_on_gnome_and_with_a_dark_theme_otherwise_black) {
  ASSERT_TRUE(testing::startGtk());
  GtkSettings* settings = gtk_settings_get_default();
  const struct {
    const char* desktop;
    const char* theme;
    gboolean preferDark;
    Rgb expected;
  } cases[] = {{"XFCE", "Adwaita", FALSE, {0, 0, 0}},
               {"XFCE", "Adwaita-dark", FALSE, {1, 1, 1}},
               {"XFCE", "Adwaita", TRUE, {1, 1, 1}},
               {"ubuntu:GNOME", "Adwaita", FALSE, {1, 1, 1}}};
  for (const auto& c : cases) {
    setenv("XDG_CURRENT_DESKTOP", c.desktop, 1);
    g_object_set(settings, "gtk-theme-name", c.theme, "gtk-application-prefer-dark-theme",
                 c.preferDark, nullptr);
    EXPECT_EQ(panelForeground(), c.expected) << c.desktop << " " << c.theme << " " << c.preferDark;
  }
}

}  // namespace
}  // namespace quorvel::tray
