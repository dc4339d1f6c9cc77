// A band's two computing stages: every pixel's source position, once, then
// every pixel sampled from the band's source in memory.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "render_job.h"

void band_positions(const render_job &job, band_slot *slot) {
  const GeglRectangle &a = job.w->area;
  const int32_t row0 = slot->band * BAND_ROWS;
  const int32_t rows = std::min(BAND_ROWS, job.height - row0);
  for (int32_t r = 0; r < rows; ++r) {
    const size_t at = size_t(r) * size_t(job.width);
    job.vectors->row_positions(job.plan, a.y + row0 + r, a.x, job.width,
                               slot->sx + at, slot->sy + at);
  }
}

void render_band(render_job &job, interpolation *in, band_slot &slot) {
  const warp *w = job.w;
  const GeglRectangle &a = w->area;
  const int32_t row0 = slot.band * BAND_ROWS;
  const int32_t rows = std::min(BAND_ROWS, job.height - row0);
  // Zero is what a new layer holds: unrendered pixels keep it.
  std::memset(slot.pixels, 0, job.stride * size_t(rows));
  in->memory = job.whole ? job.whole : &slot.source;
  const source_view &view = job.whole_view ? *job.whole_view : slot.view;
  // Far-apart windows read by tiles, and pixel layouts no kernel handles,
  // go through the one-pixel path's windows.
  const bool windows = !job.kernel || (!job.whole && slot.by_tiles);
  const size_t bpp = size_t(job.bpp);
  for (int32_t r = 0; r < rows; ++r) {
    unsigned char *row = slot.pixels + size_t(r) * job.stride;
    float *sx = slot.sx + size_t(r) * size_t(job.width);
    const float *sy = slot.sy + size_t(r) * size_t(job.width);
    const int32_t y = a.y + row0 + r;
    if (w->anti_aliasing)
      for (int32_t c = 0; c < job.width; ++c) {
        // A shrinking pixel is done here; the rest take one sample.
        if (!std::isnan(sx[c]) &&
            footprint_render(w, in, a.x + c + 0.5, y + 0.5, sx[c], sy[c],
                             row + size_t(c) * bpp))
          sx[c] = NAN;
      }
    if (windows) {
      for (int32_t c = 0; c < job.width; ++c)
        if (!std::isnan(sx[c]))
          interpolation_get_pixel(in, sx[c], sy[c], row + size_t(c) * bpp);
    } else {
      job.kernel(view, sx, sy, job.width, w->unbounded, row);
    }
    const int64_t before = job.pixels_done.fetch_add(job.width);
    if ((before + job.width) / job.report_step != before / job.report_step)
      job.wake.notify_all();
  }
}
