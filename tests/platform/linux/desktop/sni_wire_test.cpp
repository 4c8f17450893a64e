// Marshalling of the tray item's icon and tool tip, checked byte by byte without a display.
#include "platform/linux/desktop/sni_wire.h"

#include <gio/gio.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace quorvel::sni {
namespace {

// Cairo's ARGB32 pixels are native-endian words with premultiplied colour.
std::vector<unsigned char> cairoPixels(const std::vector<std::uint32_t>& words) {
  std::vector<unsigned char> bytes(words.size() * 4);
  std::memcpy(bytes.data(), words.data(), bytes.size());
  return bytes;
}

TEST(SniWire, writes_alpha_red_green_blue_in_that_byte_order_whatever_the_host_order) {
  const auto data = cairoPixels({0xff112233u});
  const Pixmap p = pixmapFromCairoArgb32(data.data(), 1, 1, 4);
  ASSERT_EQ(p.argb.size(), 4u);
  EXPECT_EQ(p.argb, (std::vector<std::uint8_t>{0xff, 0x11, 0x22, 0x33}));
}

TEST(SniWire, undoes_premultiplication_and_clears_colour_of_transparent_pixels) {
  // Half-transparent red drawn by cairo: 0x80 alpha, colour 0x80 (premultiplied full red).
  // Fully transparent pixels may carry stray colour bits in premultiplied form; they must not
  // come out as visible colour.
  const auto data = cairoPixels({0x80800000u, 0x40102030u, 0x00ffffffu});
  const Pixmap p = pixmapFromCairoArgb32(data.data(), 3, 1, 12);
  ASSERT_EQ(p.argb.size(), 12u);
  EXPECT_EQ(std::vector<std::uint8_t>(p.argb.begin(), p.argb.begin() + 4),
            (std::vector<std::uint8_t>{0x80, 0xff, 0x00, 0x00}));
  // 0x10 * 255 / 0x40 = 63.75 → 64; 0x20 → 128 (127.5 rounds up); 0x30 → 191.25 → 191.
  EXPECT_EQ(std::vector<std::uint8_t>(p.argb.begin() + 4, p.argb.begin() + 8),
            (std::vector<std::uint8_t>{0x40, 64, 128, 191}));
  EXPECT_EQ(std::vector<std::uint8_t>(p.argb.begin() + 8, p.argb.end()),
            (std::vector<std::uint8_t>{0, 0, 0, 0}));
}

TEST(SniWire, skips_row_padding_and_rejects_impossible_geometry) {
  // Two rows of one pixel each, rows 8 bytes apart: the padding word must not be read.
  const auto data = cairoPixels({0xff0000ffu, 0xdeadbeefu, 0xff00ff00u, 0xdeadbeefu});
  const Pixmap p = pixmapFromCairoArgb32(data.data(), 1, 2, 8);
  EXPECT_EQ(p.argb, (std::vector<std::uint8_t>{0xff, 0, 0, 0xff, 0xff, 0, 0xff, 0}));

  EXPECT_TRUE(pixmapFromCairoArgb32(data.data(), 2, 1, 4).argb.empty());  // stride too short
  EXPECT_TRUE(pixmapFromCairoArgb32(nullptr, 1, 1, 4).argb.empty());
  EXPECT_TRUE(pixmapFromCairoArgb32(data.data(), 0, 1, 4).argb.empty());
}

TEST(SniWire, packs_pixmaps_and_tool_tip_in_the_shapes_hosts_read) {
  Pixmap small{1, 1, {1, 2, 3, 4}};
  Pixmap large{2, 1, {5, 6, 7, 8, 9, 10, 11, 12}};
  GVariant* pixmaps = g_variant_ref_sink(pixmapsVariant({small, large}));
  EXPECT_STREQ(g_variant_get_type_string(pixmaps), "a(iiay)");
  ASSERT_EQ(g_variant_n_children(pixmaps), 2u);
  GVariant* second = g_variant_get_child_value(pixmaps, 1);
  gint32 w = 0;
  gint32 h = 0;
  GVariant* bytes = nullptr;
  g_variant_get(second, "(ii@ay)", &w, &h, &bytes);
  gsize n = 0;
  const auto* raw = static_cast<const std::uint8_t*>(g_variant_get_fixed_array(bytes, &n, 1));
  EXPECT_EQ(w, 2);
  EXPECT_EQ(h, 1);
  EXPECT_EQ(std::vector<std::uint8_t>(raw, raw + n), large.argb);
  g_variant_unref(bytes);
  g_variant_unref(second);
  g_variant_unref(pixmaps);

  GVariant* tip = g_variant_ref_sink(toolTipVariant("Recording..."));
  EXPECT_STREQ(g_variant_get_type_string(tip), "(sa(iiay)ss)");
  const gchar* title = nullptr;
  g_variant_get_child(tip, 2, "&s", &title);
  EXPECT_STREQ(title, "Recording...");
  g_variant_unref(tip);

  EXPECT_EQ(itemBusName(4242, 1), "org.kde.StatusNotifierItem-4242-1");
}

TEST(SniWire, introspection_data_parses_and_names_the_item_interface) {
  GError* error = nullptr;
  GDBusNodeInfo* info = g_dbus_node_info_new_for_xml(kItemIntrospectionXml, &error);
  ASSERT_NE(info, nullptr) << (error ? error->message : "");
  GDBusInterfaceInfo* iface = g_dbus_node_info_lookup_interface(info, kItemInterface);
  ASSERT_NE(iface, nullptr);
  EXPECT_NE(g_dbus_interface_info_lookup_method(iface, "Activate"), nullptr);
  EXPECT_NE(g_dbus_interface_info_lookup_method(iface, "ContextMenu"), nullptr);
  GDBusPropertyInfo* pixmap = g_dbus_interface_info_lookup_property(iface, "IconPixmap");
  ASSERT_NE(pixmap, nullptr);
  EXPECT_STREQ(pixmap->signature, "a(iiay)");
  g_dbus_node_info_unref(info);
}

}  // namespace
}  // namespace quorvel::sni
