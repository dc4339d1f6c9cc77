#include "plain_buffers.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

// GEGL's buffers only: the tests start without GEGL's operation modules,
// and, as the hosts do, without babl's conversion cache (about 2 s a process).
class gegl_environment : public ::testing::Environment {
 public:
  void SetUp() override {
    setenv("BABL_INHIBIT_CACHE", "1", 0);
    gegl_init(nullptr, nullptr);
  }
  void TearDown() override { gegl_exit(); }
};

[[maybe_unused]] ::testing::Environment *const registered =
    ::testing::AddGlobalTestEnvironment(new gegl_environment);

std::shared_ptr<GeglBuffer> held(GeglBuffer *b) {
  return std::shared_ptr<GeglBuffer>(b, [](GeglBuffer *p) { g_object_unref(p); });
}

}  // namespace

plain_layer plain_new(const char *format, int width, int height, int x0,
                      int y0) {
  plain_layer l;
  l.format = babl_format(format);
  l.extent = GeglRectangle{x0, y0, width, height};
  const GeglRectangle local = {0, 0, width, height};
  l.buffer = held(gegl_buffer_new(&local, l.format));
  return l;
}

std::vector<unsigned char> plain_read(const plain_layer &layer,
                                      const Babl *format) {
  if (!format) format = layer.format;
  std::vector<unsigned char> out(size_t(layer.extent.width) *
                                 size_t(layer.extent.height) *
                                 size_t(babl_format_get_bytes_per_pixel(format)));
  const GeglRectangle local = {0, 0, layer.extent.width, layer.extent.height};
  gegl_buffer_get(layer.buffer.get(), &local, 1.0, format, out.data(),
                  GEGL_AUTO_ROWSTRIDE, GEGL_ABYSS_NONE);
  return out;
}

void plain_write(const plain_layer &layer,
                 const std::vector<unsigned char> &pixels, const Babl *format) {
  const GeglRectangle local = {0, 0, layer.extent.width, layer.extent.height};
  gegl_buffer_set(layer.buffer.get(), &local, 0, format ? format : layer.format,
                  pixels.data(), GEGL_AUTO_ROWSTRIDE);
}

plain_layer plain_render(const plain_layer &source, const warp_vals &vals,
                         const warp_render_options *options) {
  const GeglRectangle box = warp_destination_box(&vals);
  plain_layer out = plain_new(babl_get_name(source.format), box.width,
                              box.height, box.x, box.y);
  out.status = tessaform_warp(source.buffer.get(), &source.extent,
                              out.buffer.get(), &vals, options, nullptr,
                              nullptr);
  return out;
}

int plain_bpp(const char *format) {
  return babl_format_get_bytes_per_pixel(babl_format(format));
}

int plain_extra_refs(const plain_layer &layer) {
  return int(G_OBJECT(layer.buffer.get())->ref_count) - 1;
}
