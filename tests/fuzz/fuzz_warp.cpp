// libFuzzer target over the settings check and the engine on in-memory GEGL
// buffers. Aborts when the check and the engine disagree, when the fast path
// writes other bytes than the one-pixel path, when the source changes or
// when progress goes backwards or does not finish at 1.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz_case.h"

namespace {

// Small destinations keep each input to a few milliseconds.
constexpr int64_t kMaxDestinationPixels = 1024;

struct progress_record {
  double last = -1.0;
  int32_t backwards = 0;
};

void progress_note(double done, void *data) {
  progress_record *p = static_cast<progress_record *>(data);
  if (!(done >= 0.0 && done <= 1.0 && done >= p->last)) ++p->backwards;
  p->last = done;
}

[[noreturn]] void fail(const fuzz_case &c, const char *what) {
  std::fprintf(stderr,
               "tessaform_fuzz: %s\n  format %s, interpolation %d, mapping %d, "
               "anti-aliasing %d, pre-blur %d, threads %d, tiles of %d\n"
               "  source extent "
               "%d,%d %dx%d\n  source %g,%g %g,%g %g,%g %g,%g\n  destination "
               "%g,%g %g,%g %g,%g %g,%g\n",
               what, c.format, c.vals.interpolation, c.vals.mapping,
               c.vals.anti_aliasing,
               c.vals.pre_blur, c.threads, 1 << c.tile_shift,
               c.source_extent.x, c.source_extent.y,
               c.source_extent.width, c.source_extent.height, c.vals.sx0,
               c.vals.sy0, c.vals.sx1, c.vals.sy1, c.vals.sx2, c.vals.sy2,
               c.vals.sx3, c.vals.sy3, c.vals.dx0, c.vals.dy0, c.vals.dx1,
               c.vals.dy1, c.vals.dx2, c.vals.dy2, c.vals.dx3, c.vals.dy3);
  std::abort();
}

std::vector<unsigned char> buffer_bytes(GeglBuffer *b, int32_t width,
                                        int32_t height, const Babl *format) {
  std::vector<unsigned char> out(size_t(width) * size_t(height) *
                                 size_t(babl_format_get_bytes_per_pixel(format)));
  const GeglRectangle r = {0, 0, width, height};
  gegl_buffer_get(b, &r, 1.0, format, out.data(), GEGL_AUTO_ROWSTRIDE,
                  GEGL_ABYSS_NONE);
  return out;
}

// Renders into a new zeroed destination over `box`; returns its bytes.
std::vector<unsigned char> render(const fuzz_case &c, GeglBuffer *source,
                                  const Babl *format, const GeglRectangle &box,
                                  const warp_render_options &options) {
  const GeglRectangle local = {0, 0, box.width, box.height};
  GeglBuffer *destination = gegl_buffer_new(&local, format);
  progress_record progress;
  const warp_status status =
      tessaform_warp(source, &c.source_extent, destination, &c.vals, &options,
                     progress_note, &progress);
  if (status != WARP_SUCCESS) fail(c, "accepted settings refused by the engine");
  if (progress.backwards) fail(c, "progress outside 0..1 or going backwards");
  if (progress.last != 1.0) fail(c, "progress did not finish at 1");
  std::vector<unsigned char> bytes =
      buffer_bytes(destination, box.width, box.height, format);
  g_object_unref(destination);
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  // GEGL's buffers only: no operation modules to load, no babl cache file.
  setenv("GEGL_PATH", TESSAFORM_FUZZ_NO_MODULES, 0);
  setenv("BABL_INHIBIT_CACHE", "1", 0);
  gegl_init(nullptr, nullptr);
  // Tiles small enough for ASan's pooled allocator: GEGL's default tiles
  // take a fresh mapping each, zeroed page by page, for every buffer.
  g_object_set(gegl_config(), "tile-width", 32, "tile-height", 32, nullptr);
  char name[32];
  for (int32_t i = 0; i < FUZZ_MODELS * FUZZ_TYPES; ++i) {
    fuzz_format_name(i, name, sizeof name);
    if (!babl_format_exists(name)) {
      std::fprintf(stderr, "tessaform_fuzz: babl has no format %s\n", name);
      std::abort();
    }
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz_case c;
  fuzz_case_decode(&c, data, size);
  const Babl *format = babl_format(c.format);
  const GeglRectangle src_local = {0, 0, c.source_extent.width,
                                   c.source_extent.height};
  GeglBuffer *source = gegl_buffer_new(&src_local, format);
  gegl_buffer_set(source, &src_local, 0, format, c.source_pixels.data(),
                  GEGL_AUTO_ROWSTRIDE);

  if (warp_vals_check(&c.vals)) {
    // Refused: the engine must not touch the destination.
    const GeglRectangle one = {0, 0, 1, 1};
    GeglBuffer *destination = gegl_buffer_new(&one, format);
    if (tessaform_warp(source, &c.source_extent, destination, &c.vals, nullptr,
                       nullptr, nullptr) != WARP_REFUSED)
      fail(c, "refused settings rendered by the engine");
    const std::vector<unsigned char> pixel = buffer_bytes(destination, 1, 1, format);
    if (std::any_of(pixel.begin(), pixel.end(), [](unsigned char b) { return b; }))
      fail(c, "refused settings wrote into the destination");
    g_object_unref(destination);
    g_object_unref(source);
    return 0;
  }

  const GeglRectangle box = warp_destination_box(&c.vals);
  if (box.width < 1 || box.height < 1 || box.width > WARP_MAX_SIDE ||
      box.height > WARP_MAX_SIDE ||
      int64_t(box.width) * box.height > WARP_MAX_PIXELS)
    fail(c, "accepted settings give a destination box out of bounds");
  // The one-pixel path reads each row of an anti-aliased pixel's ellipse
  // on the source through GEGL: dozens per pixel, so those destinations
  // stay smaller still.
  const int64_t limit = c.vals.anti_aliasing ? kMaxDestinationPixels / 4
                                             : kMaxDestinationPixels;
  if (int64_t(box.width) * box.height > limit) {
    g_object_unref(source);
    return -1;  // keeps inputs too slow to render out of the corpus
  }

  const std::vector<unsigned char> slow =
      render(c, source, format, box, warp_render_options{1, 1});
  // The fast path at every vector level the processor runs.
  static const bool avx2 = __builtin_cpu_supports("avx2");
  for (int32_t level = 1; level <= (avx2 ? 2 : 1); ++level) {
    warp_render_options options{0, c.threads};
    options.tile_shift = c.tile_shift;
    options.vector_level = level;
    const std::vector<unsigned char> fast = render(c, source, format, box, options);
    if (slow != fast) {
      const size_t bpp = size_t(babl_format_get_bytes_per_pixel(format));
      size_t i = 0;
      while (slow[i] == fast[i]) ++i;
      std::fprintf(stderr, "first difference at pixel %zu,%zu of %dx%d, level %d\n",
                   i / bpp % size_t(box.width), i / bpp / size_t(box.width),
                   box.width, box.height, level);
      fail(c, "the fast path wrote other bytes than the one-pixel path");
    }
  }
  if (buffer_bytes(source, c.source_extent.width, c.source_extent.height,
                   format) != c.source_pixels)
    fail(c, "the source changed");
  g_object_unref(source);
  return 0;
}
