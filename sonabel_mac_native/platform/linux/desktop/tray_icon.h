// The tray pictures, drawn with cairo: the menu-bar icon (a microphone and three lines, in the
// panel's foreground colour) and the recording badge (a red dot that keeps its colour).
//
// Implements: both pictures on a 28 × 18 point canvas at any whole scale, the microphone from
// the icon theme's "audio-input-microphone-symbolic" at 13 points with a drawn fallback, a
// guess of the panel's foreground colour, and the names and folder of the same pictures as
// icons of the hicolor theme (a symbolic one that hosts recolour, and a red one they keep).
// Missing: the panel's real colour is not knowable through the StatusNotifierItem protocol;
// see panelForeground().
#pragma once

#include <cairo.h>

#include <string>

#include "platform/status_item.h"

namespace quorvel::tray {

inline constexpr double kCanvasWidth = 28.0;
inline constexpr double kCanvasHeight = 18.0;

struct Rgb {
  double r = 0.0;
  double g = 0.0;
  double b = 0.0;
  bool operator==(const Rgb&) const = default;
};

// The colour the template icon is drawn in. Panels do not say their colour, so this guesses
// from the desktop: light on GNOME Shell (its top bar is dark whatever the theme), light when
// the GTK theme is dark (gtk-application-prefer-dark-theme, or a theme name ending in "dark"),
// otherwise black. Needs GTK initialised; without a screen it answers black.
Rgb panelForeground();

// The theme's name of the picture: "quorvel-symbolic" (recoloured by hosts) or
// "quorvel-recording" (full colour).
const char* statusIconName(StatusImage image);

// The folder that holds hicolor/scalable/status/<name>.svg: <prefix>/share/icons beside the
// installed program, else the sources' icons of an uninstalled build; "" when neither has them.
std::string iconThemeFolder();

// A new ARGB32 surface of (28 × scale) × (18 × scale) pixels; the caller destroys it.
// `useThemeGlyph` false draws the fallback microphone instead of looking up the icon theme.
cairo_surface_t* drawStatusImage(StatusImage image, int scale, Rgb foreground,
                                 bool useThemeGlyph = true);

}  // namespace quorvel::tray
