// What a host's IconPixmap read costs: drawing both pictures at scale 1 and 2 and marshalling
// them for the bus. The microphone here is the drawn one, so no display is needed; the icon
// theme's glyph adds its first load (tens of milliseconds, once) and then almost nothing.
#include <benchmark/benchmark.h>

#include <vector>

#include "platform/linux/desktop/sni_wire.h"
#include "platform/linux/desktop/tray_icon.h"

namespace {

using quorvel::StatusImage;
namespace sni = quorvel::sni;
namespace tray = quorvel::tray;

void iconPixmapProperty(benchmark::State& state, StatusImage image) {
  for (auto _ : state) {
    std::vector<sni::Pixmap> pixmaps;
    for (int scale : {1, 2}) {
      cairo_surface_t* s = tray::drawStatusImage(image, scale, tray::Rgb{}, false);
      pixmaps.push_back(sni::pixmapFromCairoArgb32(
          cairo_image_surface_get_data(s), cairo_image_surface_get_width(s),
          cairo_image_surface_get_height(s), cairo_image_surface_get_stride(s)));
      cairo_surface_destroy(s);
    }
    GVariant* v = g_variant_ref_sink(sni::pixmapsVariant(pixmaps));
    benchmark::DoNotOptimize(g_variant_get_size(v));
    g_variant_unref(v);
  }
}

void BM_MenuBarIconPixmaps(benchmark::State& state) {
  iconPixmapProperty(state, StatusImage::MenuBarIcon);
}
void BM_RecordingBadgePixmaps(benchmark::State& state) {
  iconPixmapProperty(state, StatusImage::RecordingBadge);
}

void BM_UnpremultiplyLargeIcon(benchmark::State& state) {
  cairo_surface_t* s = tray::drawStatusImage(StatusImage::MenuBarIcon, 4, tray::Rgb{}, false);
  for (auto _ : state) {
    sni::Pixmap p = sni::pixmapFromCairoArgb32(
        cairo_image_surface_get_data(s), cairo_image_surface_get_width(s),
        cairo_image_surface_get_height(s), cairo_image_surface_get_stride(s));
    benchmark::DoNotOptimize(p.argb.data());
  }
  cairo_surface_destroy(s);
}

BENCHMARK(BM_MenuBarIconPixmaps);
BENCHMARK(BM_RecordingBadgePixmaps);
BENCHMARK(BM_UnpremultiplyLargeIcon);

}  // namespace

BENCHMARK_MAIN();
