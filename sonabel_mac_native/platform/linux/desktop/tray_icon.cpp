// Draws the tray pictures with cairo. The canvas constants are given with the origin at the
// bottom left (y upwards); cairo's y runs downwards, so every y here is 18 − y − height.
// Implements both pictures; the panel colour is a guess (see tray_icon.h).
#include "platform/linux/desktop/tray_icon.h"

#include <gtk/gtk.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "store/ascii.h"

namespace quorvel::tray {
namespace {

constexpr double kGlyphPoints = 13.0;
constexpr double kGlyphX = 1.0;
constexpr double kLineStartX = 15.0;
constexpr double kLineWidth = 1.4;
struct Row {
  double y;  // from the bottom
  double length;
};
constexpr Row kRows[] = {{13.5, 11.0}, {9.0, 8.5}, {4.5, 6.0}};
constexpr double kDotDiameter = 12.0;

bool containsNoCase(const char* haystack, const char* needle) {
  return haystack != nullptr && asciiLowerCase(haystack).find(needle) != std::string::npos;
}

// The theme's symbolic microphone, recoloured, at 13 points on a device scale; or null.
GdkPixbuf* themeGlyph(int scale, Rgb fg) {
  if (gdk_screen_get_default() == nullptr) return nullptr;
  GtkIconTheme* theme = gtk_icon_theme_get_default();
  GtkIconInfo* info = gtk_icon_theme_lookup_icon_for_scale(theme, "audio-input-microphone-symbolic",
                                                           static_cast<int>(kGlyphPoints), scale,
                                                           GTK_ICON_LOOKUP_FORCE_SIZE);
  if (info == nullptr) return nullptr;
  const GdkRGBA colour{fg.r, fg.g, fg.b, 1.0};
  GdkPixbuf* pixbuf =
      gtk_icon_info_load_symbolic(info, &colour, nullptr, nullptr, nullptr, nullptr, nullptr);
  g_object_unref(info);
  return pixbuf;
}

// A filled microphone in a 13-point box whose top left corner is (x, top): capsule, cradle,
// stem and foot.
void drawFallbackGlyph(cairo_t* cr, double x, double top) {
  const double cx = x + 4.5;
  const double radius = 2.5;
  cairo_new_sub_path(cr);
  cairo_arc(cr, cx, top + 1.0 + radius, radius, M_PI, 2 * M_PI);
  cairo_arc(cr, cx, top + 8.0 - radius, radius, 0, M_PI);
  cairo_close_path(cr);
  cairo_fill(cr);
  cairo_set_line_width(cr, 1.2);
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
  cairo_arc(cr, cx, top + 6.0, 4.0, 0, M_PI);
  cairo_stroke(cr);
  cairo_move_to(cr, cx, top + 10.0);
  cairo_line_to(cr, cx, top + 12.4);
  cairo_move_to(cr, cx - 2.5, top + 12.4);
  cairo_line_to(cr, cx + 2.5, top + 12.4);
  cairo_stroke(cr);
}

void drawMenuBarIcon(cairo_t* cr, int scale, Rgb fg, bool useThemeGlyph) {
  cairo_set_source_rgb(cr, fg.r, fg.g, fg.b);
  GdkPixbuf* glyph = useThemeGlyph ? themeGlyph(scale, fg) : nullptr;
  if (glyph != nullptr) {
    const double w = gdk_pixbuf_get_width(glyph) / static_cast<double>(scale);
    const double h = gdk_pixbuf_get_height(glyph) / static_cast<double>(scale);
    // Centred vertically, snapped to whole device pixels so the glyph stays sharp.
    const double top = std::floor((kCanvasHeight - h) / 2.0 * scale) / scale;
    cairo_save(cr);
    cairo_translate(cr, kGlyphX, top);
    cairo_scale(cr, 1.0 / scale, 1.0 / scale);
    gdk_cairo_set_source_pixbuf(cr, glyph, 0, 0);
    cairo_rectangle(cr, 0, 0, w * scale, h * scale);
    cairo_fill(cr);
    cairo_restore(cr);
    g_object_unref(glyph);
    cairo_set_source_rgb(cr, fg.r, fg.g, fg.b);
  } else {
    drawFallbackGlyph(cr, kGlyphX, (kCanvasHeight - kGlyphPoints) / 2.0);
  }
  cairo_set_line_width(cr, kLineWidth);
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
  for (const Row& row : kRows) {
    const double y = kCanvasHeight - row.y;
    cairo_new_path(cr);
    cairo_move_to(cr, kLineStartX, y);
    cairo_line_to(cr, kLineStartX + row.length, y);
    cairo_stroke(cr);
  }
}

void drawRecordingBadge(cairo_t* cr) {
  const double x = (kCanvasWidth - kDotDiameter) * 0.5;
  const double yUp = (kCanvasHeight - kDotDiameter) * 0.5;
  const double top = kCanvasHeight - yUp - kDotDiameter;
  cairo_set_source_rgb(cr, 1.0, 0.0, 0.0);
  cairo_arc(cr, x + kDotDiameter / 2, top + kDotDiameter / 2, kDotDiameter / 2, 0, 2 * M_PI);
  cairo_fill(cr);
}

}  // namespace

const char* statusIconName(StatusImage image) {
  return image == StatusImage::RecordingBadge ? "quorvel-recording" : "quorvel-symbolic";
}

std::string iconThemeFolder() {
  namespace fs = std::filesystem;
  std::vector<fs::path> candidates;
  std::error_code error;
  const fs::path program = fs::read_symlink("/proc/self/exe", error);
  if (!error) candidates.push_back(program.parent_path().parent_path() / "share/icons");
#ifdef QUORVEL_UNINSTALLED_ICONS
  candidates.emplace_back(QUORVEL_UNINSTALLED_ICONS);
#endif
  for (const fs::path& folder : candidates) {
    if (fs::exists(folder / "hicolor/scalable/status/quorvel-symbolic.svg", error)) {
      return folder.string();
    }
  }
  return "";
}

Rgb panelForeground() {
  constexpr Rgb kLight{1.0, 1.0, 1.0};
  constexpr Rgb kDark{0.0, 0.0, 0.0};
  if (containsNoCase(std::getenv("XDG_CURRENT_DESKTOP"), "gnome")) return kLight;
  if (gdk_screen_get_default() == nullptr) return kDark;
  GtkSettings* settings = gtk_settings_get_default();
  if (settings == nullptr) return kDark;
  gboolean preferDark = FALSE;
  gchar* themeName = nullptr;
  g_object_get(settings, "gtk-application-prefer-dark-theme", &preferDark, "gtk-theme-name",
               &themeName, nullptr);
  bool dark = preferDark;
  if (themeName != nullptr) {
    dark = dark || asciiLowerCase(themeName).ends_with("dark");
    g_free(themeName);
  }
  return dark ? kLight : kDark;
}

cairo_surface_t* drawStatusImage(StatusImage image, int scale, Rgb foreground, bool useThemeGlyph) {
  if (scale < 1) scale = 1;
  cairo_surface_t* surface =
      cairo_image_surface_create(CAIRO_FORMAT_ARGB32, static_cast<int>(kCanvasWidth) * scale,
                                 static_cast<int>(kCanvasHeight) * scale);
  cairo_t* cr = cairo_create(surface);
  cairo_scale(cr, scale, scale);
  if (image == StatusImage::RecordingBadge) {
    drawRecordingBadge(cr);
  } else {
    drawMenuBarIcon(cr, scale, foreground, useThemeGlyph);
  }
  cairo_destroy(cr);
  cairo_surface_flush(surface);
  return surface;
}

}  // namespace quorvel::tray
