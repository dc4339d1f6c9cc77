// Engine fixtures on plain GEGL buffers: a source with its extent in image
// coordinates, and the destination the engine renders, as the hosts make
// them.
#pragma once

#include <memory>
#include <vector>

#include "tessaform.h"

struct plain_layer {
  std::shared_ptr<GeglBuffer> buffer;
  GeglRectangle extent{};  // image coordinates
  const Babl *format = nullptr;
  warp_status status = WARP_REFUSED;  // of the render that made it
};

plain_layer plain_new(const char *format, int width, int height, int x0 = 0,
                      int y0 = 0);
// Whole-buffer pixel access, in the buffer's format or `format`.
std::vector<unsigned char> plain_read(const plain_layer &layer,
                                      const Babl *format = nullptr);
void plain_write(const plain_layer &layer,
                 const std::vector<unsigned char> &pixels,
                 const Babl *format = nullptr);
// A new zeroed destination over the box, in the source's format, rendered.
plain_layer plain_render(const plain_layer &source, const warp_vals &vals,
                         const warp_render_options *options = nullptr);
int plain_bpp(const char *format);
// References to the buffer beyond the fixture's own.
int plain_extra_refs(const plain_layer &layer);
