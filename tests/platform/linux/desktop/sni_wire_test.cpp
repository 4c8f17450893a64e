// The tray picture's pixels as they go on the wire, without a display. The variants' shapes are
// read back over the bus in sni_status_item_test.
#include "platform/linux/desktop/sni_wire.h"

#include <gtest/gtest.h>

#include <cstring>

namespace quorvel::sni {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(SniWire, writes_straight_alpha_argb_bytes_from_cairo_premultiplied_native_words) {
  const struct {
    std::vector<std::uint32_t> words;  // cairo's ARGB32: native-endian, premultiplied colour
    int width, height, stride;
    Bytes argb;
  } cases[] = {
      {{0xff112233u}, 1, 1, 4, {0xff, 0x11, 0x22, 0x33}},
      // Half-transparent red; 0x10 * 255 / 0x40 = 63.75 -> 64, 127.5 -> 128, 191.25 -> 191; a
      // transparent pixel's stray colour bits must not come out as visible colour.
      {{0x80800000u, 0x40102030u, 0x00ffffffu},
       3,
       1,
       12,
       {0x80, 0xff, 0, 0, 0x40, 64, 128, 191, 0, 0, 0, 0}},
      // Rows 8 bytes apart: the padding word is not read.
      {{0xff0000ffu, 0xdeadbeefu, 0xff00ff00u, 0xdeadbeefu},
       1,
       2,
       8,
       {0xff, 0, 0, 0xff, 0xff, 0, 0xff, 0}},
      {{0xff0000ffu}, 2, 1, 4, {}},  // stride too short
      {{0xff0000ffu}, 0, 1, 4, {}},
  };
  for (const auto& c : cases) {
    std::vector<unsigned char> data(c.words.size() * 4);
    std::memcpy(data.data(), c.words.data(), data.size());
    EXPECT_EQ(pixmapFromCairoArgb32(data.data(), c.width, c.height, c.stride).argb, c.argb);
  }
  EXPECT_TRUE(pixmapFromCairoArgb32(nullptr, 1, 1, 4).argb.empty());
}

}  // namespace
}  // namespace quorvel::sni
