// The render loop: every pixel of the destination area is tested at its
// centre, mapped to the source and sampled there. Two ways to run it: one
// pixel at a time, or in bulk on several threads (render_fast); both write
// the same bytes.
#include <algorithm>
#include <climits>
#include <cmath>

#include "render_job.h"

namespace {

// Source positions that are not finite or do not fit an int32 are outside.
bool source_position_usable(float sx, float sy) {
  return std::isfinite(sx) && std::isfinite(sy) && std::fabs(sx) < 2.0e9f &&
         std::fabs(sy) < 2.0e9f;
}

}  // namespace

bool pixel_source_position(const warp *w, int32_t x, int32_t y, float *sx,
                           float *sy) {
  const double cx = x + 0.5, cy = y + 0.5;
  if (!region_inside_at(w->dst, cx, cy)) return false;
  warp_convert(w, static_cast<float>(cx), static_cast<float>(cy), sx, sy);
  if (!source_position_usable(*sx, *sy)) return false;
  return region_inside_at(w->src, *sx, *sy);
}

namespace {

// Renders destination pixel (x, y) into `pixel`; false leaves it untouched.
bool render_pixel(const warp *w, interpolation *in, int32_t x, int32_t y,
                  unsigned char *pixel) {
  float sx, sy;
  if (!pixel_source_position(w, x, y, &sx, &sy)) return false;
  if (w->anti_aliasing &&
      footprint_render(w, in, x + 0.5, y + 0.5, sx, sy, pixel))
    return true;
  return interpolation_get_pixel(in, sx, sy, pixel) != nullptr;
}

void report_progress(const warp *w, double done) {
  if (w->progress) w->progress(done, w->progress_data);
}

void render_straightforward(warp *w, interpolation *in) {
  const GeglRectangle &a = w->area;
  unsigned char cell[SAMPLE_MAX_BYTES] = {};
  for (int32_t x = a.x; x < a.x + a.width; ++x) {
    for (int32_t y = a.y; y < a.y + a.height; ++y) {
      if (!render_pixel(w, in, x, y, cell)) continue;
      const GeglRectangle rect = {x - w->target_x, y - w->target_y, 1, 1};
      gegl_buffer_set(w->dst->pixel_buffer, &rect, 0, w->format, cell,
                      GEGL_AUTO_ROWSTRIDE);
    }
    if (x % 10 == 0)
      report_progress(w, static_cast<double>(x - a.x) / a.width);
  }
}

}  // namespace

warp_status warp_render(warp *w, interpolation *in,
                        const warp_render_options *options) {
  warp_status status = WARP_SUCCESS;
  if (options && options->straightforward) {
    // The fast path builds its own, from its copy of the source.
    footprint_context footprint{};
    const vector_functions &vectors =
        vector_functions_for(vector_level(options->vector_level));
    if (!w->anti_aliasing ||
        footprint_context_init(&footprint, w, vectors.ewa_rows4, nullptr, false))
      render_straightforward(w, in);
    else
      status = WARP_NO_MEMORY;
    footprint_context_free(&footprint, w);
  } else {
    status = render_fast(w, in, options);
  }

  buffer_free(in->current);
  if (status == WARP_SUCCESS) report_progress(w, 1.0);
  return status;
}

void warp_transformation(warp *w, interpolation *in) {
  warp_render(w, in, nullptr);
}
