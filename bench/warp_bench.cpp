// The warp alone, in process, on plain GEGL buffers: a W x H RGBA source
// onto a slightly tilted quadrangle, per interpolation. Prints one line per
// interpolation: name, seconds (median of the runs).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "gegl_ref.h"
#include "tessaform.h"

int main(int argc, char **argv) {
  const int width = argc > 1 ? std::atoi(argv[1]) : 4000;
  const int height = argc > 2 ? std::atoi(argv[2]) : 3000;
  const int runs = argc > 3 ? std::atoi(argv[3]) : 3;
  setenv("BABL_INHIBIT_CACHE", "1", 0);
  setenv("GEGL_PATH", "/nonexistent/warp-bench-needs-no-operations", 1);
  gegl_init(nullptr, nullptr);
  {
    const Babl *format = babl_format("R'G'B'A u8");
    const GeglRectangle extent = {0, 0, width, height};
    gegl_ref<GeglBuffer> source(gegl_buffer_new(&extent, format));
    std::vector<unsigned char> pixels(size_t(width) * height * 4);
    for (size_t i = 0; i < pixels.size(); ++i)
      pixels[i] = static_cast<unsigned char>(i * 2654435761u >> 13);
    gegl_buffer_set(source.get(), &extent, 0, format, pixels.data(),
                    GEGL_AUTO_ROWSTRIDE);

    // The corners scripts/bench-cli.sh gives ImageMagick and the tool.
    const float w = float(width) / 4000, h = float(height) / 3000;
    warp_vals v{};
    v.sx1 = float(width); v.sx2 = float(width); v.sy2 = float(height);
    v.sy3 = float(height);
    v.dx0 = 100 * w;  v.dy0 = 75 * h;   v.dx1 = 3900 * w; v.dy1 = 250 * h;
    v.dx2 = 3750 * w; v.dy2 = 2925 * h; v.dx3 = 250 * w;  v.dy3 = 2700 * h;
    const char *const names[] = {"nearest", "bilinear", "cubic", "lanczos"};
    for (int k = 0; k < 4; ++k) {
      v.interpolation = k;
      const GeglRectangle box = warp_destination_box(&v);
      const GeglRectangle local = {0, 0, box.width, box.height};
      std::vector<double> times;
      for (int r = 0; r < runs; ++r) {
        gegl_ref<GeglBuffer> out(gegl_buffer_new(&local, format));
        const auto t0 = std::chrono::steady_clock::now();
        tessaform_warp(source.get(), &extent, out.get(), &v, nullptr, nullptr,
                       nullptr);
        times.push_back(std::chrono::duration<double>(
                            std::chrono::steady_clock::now() - t0).count());
      }
      std::sort(times.begin(), times.end());
      std::printf("%s %.3f\n", names[k], times[times.size() / 2]);
    }
  }
  gegl_exit();
  return 0;
}
