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

namespace {

// The source pixels destination pixel (x, y) reads through a kernel window
// of `window` pixels, clamped into `fetch` as the interpolator clamps; false
// when the pixel samples none.
bool pixel_window(const warp *w, int32_t x, int32_t y, int32_t window,
                  const GeglRectangle &fetch, GeglRectangle *out) {
  float sx, sy;
  if (!pixel_source_position(w, x, y, &sx, &sy)) return false;
  const int32_t before = window / 2 - 1, after = window / 2;
  auto clamp = [](int64_t v, int32_t lo, int32_t size) {
    return int32_t(std::max<int64_t>(lo, std::min<int64_t>(v, lo + size - 1)));
  };
  const int64_t ix = int64_t(std::floor(double(sx) - 0.5));
  const int64_t iy = int64_t(std::floor(double(sy) - 0.5));
  const int32_t x0 = clamp(ix - before, fetch.x, fetch.width);
  const int32_t y0 = clamp(iy - before, fetch.y, fetch.height);
  *out = {x0, y0, clamp(ix + after, fetch.x, fetch.width) - x0 + 1,
          clamp(iy + after, fetch.y, fetch.height) - y0 + 1};
  return true;
}

// A bounding box grown point by point, kept inline: it runs per pixel.
struct box_growth {
  int32_t x0 = INT32_MAX, y0 = INT32_MAX, x1 = INT32_MIN, y1 = INT32_MIN;
  void add(int32_t ax0, int32_t ay0, int32_t ax1, int32_t ay1) {
    x0 = std::min(x0, ax0);
    y0 = std::min(y0, ay0);
    x1 = std::max(x1, ax1);
    y1 = std::max(y1, ay1);
  }
  GeglRectangle rectangle() const {
    if (x0 > x1) return GeglRectangle{0, 0, 0, 0};
    return GeglRectangle{x0, y0, x1 - x0 + 1, y1 - y0 + 1};
  }
};

}  // namespace

GeglRectangle warp_area_source_reach(const warp *w, int32_t window) {
  const GeglRectangle fetch = source_fetch_box(w->src->bounds);
  if (w->anti_aliasing) return fetch;
  const GeglRectangle &a = w->area;
  box_growth reach;
  for (int32_t y = a.y; y < a.y + a.height; ++y)
    for (int32_t x = a.x; x < a.x + a.width; ++x) {
      GeglRectangle win;
      if (pixel_window(w, x, y, window, fetch, &win))
        reach.add(win.x, win.y, win.x + win.width - 1, win.y + win.height - 1);
    }
  return reach.rectangle();
}

GeglRectangle warp_area_invalidated(const warp *w, int32_t window,
                                    const GeglRectangle *changed) {
  const GeglRectangle fetch = source_fetch_box(w->src->bounds);
  if (!gegl_rectangle_intersect(nullptr, changed, &fetch))
    return GeglRectangle{0, 0, 0, 0};
  const GeglRectangle &a = w->area;
  box_growth hit;
  for (int32_t y = a.y; y < a.y + a.height; ++y)
    for (int32_t x = a.x; x < a.x + a.width; ++x) {
      GeglRectangle win;
      if (!pixel_window(w, x, y, window, fetch, &win)) continue;
      // Anti-aliasing may read any of the source box.
      if (w->anti_aliasing || gegl_rectangle_intersect(nullptr, &win, changed))
        hit.add(x, y, x, y);
    }
  return hit.rectangle();
}

warp_status warp_render(warp *w, interpolation *in,
                        const warp_render_options *options) {
  // Built before either path so both sample the same copies.
  source_mip mip{};
  if (w->anti_aliasing && source_mip_needed(w) && source_mip_build(&mip, w))
    w->mip = &mip;
  warp_status status = WARP_SUCCESS;
  if (options && options->straightforward)
    render_straightforward(w, in);
  else
    status = render_fast(w, in, options);
  w->mip = nullptr;
  source_mip_free(&mip);

  buffer_free(in->current);
  if (status == WARP_SUCCESS) report_progress(w, 1.0);
  return status;
}

void warp_transformation(warp *w, interpolation *in) {
  warp_render(w, in, nullptr);
}
