// Surveys of a warp for hosts that render it piece by piece (the GEGL
// operation): which source pixels a part of the destination reads, and
// which destination pixels a change of the source reaches. Both map every
// pixel of the area, lane by lane, as the render does.
#include <algorithm>
#include <climits>
#include <cmath>
#include <vector>

#include "render_job.h"

namespace {

// A bounding box grown a piece at a time.
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

// Calls row(y, sx, sy) with the source positions of each row of w->area.
template <typename Row>
void area_positions(const warp *w, Row row) {
  const GeglRectangle &a = w->area;
  if (a.width <= 0 || a.height <= 0) return;
  const vector_functions &vectors = vector_functions_for(VECTOR_BEST);
  position_plan plan;
  position_plan_init(&plan, w);
  // Lanes may read a few positions past the row's last.
  std::vector<float> sx(size_t(a.width) + 8), sy(size_t(a.width) + 8);
  for (int32_t y = a.y; y < a.y + a.height; ++y) {
    vectors.row_positions(plan, y, a.x, a.width, sx.data(), sy.data());
    row(y, sx.data(), sy.data());
  }
}

}  // namespace

GeglRectangle warp_area_source_reach(const warp *w, int32_t window) {
  const GeglRectangle fetch = source_fetch_box(w->src->bounds);
  if (w->anti_aliasing) return fetch;
  const int32_t before = window / 2 - 1, after = window / 2;
  const vector_functions &vectors = vector_functions_for(VECTOR_BEST);
  box_growth reach;
  area_positions(w, [&](int32_t, const float *sx, const float *sy) {
    row_reach_result r;
    vectors.row_reach(sx, sy, w->area.width, &r);
    if (!r.count) return;
    // Clamping keeps order: the clamped ends are the ends clamped.
    reach.add(clamp_into(int64_t(r.x0) - before, fetch.x, fetch.width),
              clamp_into(int64_t(r.y0) - before, fetch.y, fetch.height),
              clamp_into(int64_t(r.x1) + after, fetch.x, fetch.width),
              clamp_into(int64_t(r.y1) + after, fetch.y, fetch.height));
  });
  return reach.rectangle();
}

GeglRectangle warp_area_invalidated(const warp *w, int32_t window,
                                    const GeglRectangle *changed) {
  const GeglRectangle fetch = source_fetch_box(w->src->bounds);
  if (!gegl_rectangle_intersect(nullptr, changed, &fetch))
    return GeglRectangle{0, 0, 0, 0};
  const int32_t before = window / 2 - 1, after = window / 2;
  const int32_t cx1 = changed->x + changed->width - 1;
  const int32_t cy1 = changed->y + changed->height - 1;
  box_growth hit;
  area_positions(w, [&](int32_t y, const float *sx, const float *sy) {
    for (int32_t i = 0; i < w->area.width; ++i) {
      if (std::isnan(sx[i])) continue;
      // Anti-aliasing may read any of the source box.
      if (!w->anti_aliasing) {
        const int64_t ix = int64_t(std::floor(double(sx[i]) - 0.5));
        const int64_t iy = int64_t(std::floor(double(sy[i]) - 0.5));
        if (clamp_into(ix + after, fetch.x, fetch.width) < changed->x ||
            clamp_into(ix - before, fetch.x, fetch.width) > cx1 ||
            clamp_into(iy + after, fetch.y, fetch.height) < changed->y ||
            clamp_into(iy - before, fetch.y, fetch.height) > cy1)
          continue;
      }
      hit.add(w->area.x + i, y, w->area.x + i, y);
    }
  });
  return hit.rectangle();
}
