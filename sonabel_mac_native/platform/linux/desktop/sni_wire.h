// Wire shapes of a StatusNotifierItem on D-Bus: the bus names, the introspection data and the
// marshalling of its icon pixmaps and tool tip. No item logic lives here (see
// sni_status_item.h).
//
// Implements: IconPixmap a(iiay) as ARGB32 in network byte order with straight alpha (cairo
// draws premultiplied, native-endian), ToolTip (sa(iiay)ss) with a text title only.
// Missing: AttentionIconPixmap, OverlayIconPixmap and tool-tip icons (never shown by Quorvel).
#pragma once

#include <glib.h>

#include <cstdint>
#include <string>
#include <vector>

namespace quorvel::sni {

inline constexpr char kItemInterface[] = "org.kde.StatusNotifierItem";
inline constexpr char kItemObjectPath[] = "/StatusNotifierItem";
inline constexpr char kWatcherName[] = "org.kde.StatusNotifierWatcher";
inline constexpr char kWatcherObjectPath[] = "/StatusNotifierWatcher";
inline constexpr char kWatcherInterface[] = "org.kde.StatusNotifierWatcher";
inline constexpr char kMenuObjectPath[] = "/MenuBar";

// The item's interface as the bus sees it.
extern const char kItemIntrospectionXml[];

// One picture: width × height pixels, 4 bytes each in the order A, R, G, B, alpha straight.
struct Pixmap {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> argb;
};

// Converts cairo's CAIRO_FORMAT_ARGB32 pixels (native-endian 32-bit words, premultiplied) into
// a Pixmap. `stride` is the number of bytes from one row to the next.
Pixmap pixmapFromCairoArgb32(const unsigned char* data, int width, int height, int stride);

// a(iiay), floating.
GVariant* pixmapsVariant(const std::vector<Pixmap>& pixmaps);

// (sa(iiay)ss): no icon name, no icon, `title` as the tool tip's title, no description.
GVariant* toolTipVariant(const std::string& title);

// "org.kde.StatusNotifierItem-<pid>-<n>".
std::string itemBusName(long pid, int serial);

}  // namespace quorvel::sni
