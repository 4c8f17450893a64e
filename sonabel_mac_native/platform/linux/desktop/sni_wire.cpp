// Marshalling of the StatusNotifierItem's pixmaps and tool tip, and its introspection data.
// Implements every wire shape the item exports; see sni_wire.h for what is left out.
#include "platform/linux/desktop/sni_wire.h"

#include <cstring>

namespace quorvel::sni {

const char kItemIntrospectionXml[] = R"xml(<node>
  <interface name="org.kde.StatusNotifierItem">
    <property name="Category" type="s" access="read"/>
    <property name="Id" type="s" access="read"/>
    <property name="Title" type="s" access="read"/>
    <property name="Status" type="s" access="read"/>
    <property name="IconName" type="s" access="read"/>
    <property name="IconThemePath" type="s" access="read"/>
    <property name="IconPixmap" type="a(iiay)" access="read"/>
    <property name="ToolTip" type="(sa(iiay)ss)" access="read"/>
    <property name="ItemIsMenu" type="b" access="read"/>
    <property name="Menu" type="o" access="read"/>
    <method name="Activate">
      <arg name="x" type="i" direction="in"/>
      <arg name="y" type="i" direction="in"/>
    </method>
    <method name="SecondaryActivate">
      <arg name="x" type="i" direction="in"/>
      <arg name="y" type="i" direction="in"/>
    </method>
    <method name="ContextMenu">
      <arg name="x" type="i" direction="in"/>
      <arg name="y" type="i" direction="in"/>
    </method>
    <method name="Scroll">
      <arg name="delta" type="i" direction="in"/>
      <arg name="orientation" type="s" direction="in"/>
    </method>
    <signal name="NewIcon"/>
    <signal name="NewToolTip"/>
    <signal name="NewTitle"/>
    <signal name="NewStatus">
      <arg name="status" type="s"/>
    </signal>
  </interface>
</node>)xml";

Pixmap pixmapFromCairoArgb32(const unsigned char* data, int width, int height, int stride) {
  Pixmap out;
  if (data == nullptr || width <= 0 || height <= 0 || stride < width * 4) return out;
  out.width = width;
  out.height = height;
  out.argb.resize(static_cast<size_t>(width) * height * 4);
  std::uint8_t* dst = out.argb.data();
  for (int y = 0; y < height; ++y) {
    const unsigned char* row = data + static_cast<size_t>(y) * stride;
    for (int x = 0; x < width; ++x) {
      std::uint32_t word;
      std::memcpy(&word, row + x * 4, sizeof word);
      const unsigned a = word >> 24;
      unsigned c[3] = {(word >> 16) & 0xffu, (word >> 8) & 0xffu, word & 0xffu};
      if (a == 0) {
        c[0] = c[1] = c[2] = 0;
      } else if (a < 255) {
        for (unsigned& v : c) {
          v = (v * 255 + a / 2) / a;
          if (v > 255) v = 255;
        }
      }
      *dst++ = static_cast<std::uint8_t>(a);
      *dst++ = static_cast<std::uint8_t>(c[0]);
      *dst++ = static_cast<std::uint8_t>(c[1]);
      *dst++ = static_cast<std::uint8_t>(c[2]);
    }
  }
  return out;
}

GVariant* pixmapsVariant(const std::vector<Pixmap>& pixmaps) {
  GVariantBuilder builder;
  g_variant_builder_init(&builder, G_VARIANT_TYPE("a(iiay)"));
  for (const Pixmap& p : pixmaps) {
    GVariant* bytes = g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, p.argb.data(), p.argb.size(),
                                                sizeof(std::uint8_t));
    g_variant_builder_add(&builder, "(ii@ay)", p.width, p.height, bytes);
  }
  return g_variant_builder_end(&builder);
}

GVariant* toolTipVariant(const std::string& title) {
  return g_variant_new("(s@a(iiay)ss)", "",
                       g_variant_new_array(G_VARIANT_TYPE("(iiay)"), nullptr, 0), title.c_str(),
                       "");
}

std::string itemBusName(long pid, int serial) {
  return "org.kde.StatusNotifierItem-" + std::to_string(pid) + "-" + std::to_string(serial);
}

}  // namespace quorvel::sni
