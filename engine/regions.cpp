// Regions: the integer box of a quadrangle and the source and destination
// regions that tie a quadrangle to a buffer, a box and its solvers.
#include <climits>
#include <cmath>
#include <cstring>

#include "tessaform.h"

// floor/ceil results outside int32 (or not numbers) would be undefined to
// convert; such boxes saturate instead.
static int32_t saturate_int32(double v) {
  if (std::isnan(v)) return 0;
  if (v <= static_cast<double>(INT32_MIN)) return INT32_MIN;
  if (v >= static_cast<double>(INT32_MAX)) return INT32_MAX;
  return static_cast<int32_t>(v);
}

void bounds_set(bounds *b, const point quad[4]) {
  double min_x = 1e10, min_y = 1e10;
  double max_x = -1e10, max_y = -1e10;
  for (int i = 0; i < 4; ++i) {
    if (min_x > quad[i].x) min_x = quad[i].x;
    if (quad[i].x > max_x) max_x = quad[i].x;
    if (min_y > quad[i].y) min_y = quad[i].y;
    if (quad[i].y > max_y) max_y = quad[i].y;
  }
  b->x0 = saturate_int32(std::floor(min_x));
  b->y0 = saturate_int32(std::floor(min_y));
  b->x1 = saturate_int32(std::ceil(max_x) + 1.0);
  b->y1 = saturate_int32(std::ceil(max_y) + 1.0);
}

void bounds_intersection(bounds *b, const bounds *other) {
  if (b->x0 < other->x0) b->x0 = other->x0;
  if (b->y0 < other->y0) b->y0 = other->y0;
  if (b->x1 > other->x1) b->x1 = other->x1;
  if (b->y1 > other->y1) b->y1 = other->y1;
}

// Differences in 64 bits: a saturated box must not overflow.
int32_t bounds_width(const bounds *b) {
  return saturate_int32(static_cast<double>(int64_t(b->x1) - b->x0));
}

int32_t bounds_height(const bounds *b) {
  return saturate_int32(static_cast<double>(int64_t(b->y1) - b->y0));
}

void bounds_init(struct bounds *b, region *r) {
  b->owner = r;
  bounds_set(b, r->areal);
  if (r->is_source) {
    bounds_intersection(b, &r->owner->source_extent);
  }
  b->width = bounds_width(b);
  b->height = bounds_height(b);
}

void region_init(region *r, warp *w, int32_t is_source) {
  r->owner = w;
  r->is_source = is_source;
  quad_grow(r->quad, r->areal, 1.0);
  r->bpp = w->bpp;
  r->bounds = &r->bounds_store;
  bounds_init(r->bounds, r);
  // The destination's buffer is the host's, handed over by the driver.
  r->pixel_buffer = is_source ? w->gegl_buffer : nullptr;
  r->format = w->format;

  r->coord_u = &r->coord_u_store;
  qcoord_init(r->coord_u, r->quad[0], r->quad[1], r->quad[2], r->quad[3]);
  r->coord_v = &r->coord_v_store;
  qcoord_init(r->coord_v, r->quad[1], r->quad[2], r->quad[3], r->quad[0]);
}

// Open bounds a pixel wider than the box on each side, compared with the
// exact position: truncating the position first would move the edge with the
// drawable's offsets (toward zero is a different way on either side of 0).
int32_t region_inside_at(const region *r, double px, double py) {
  const struct bounds *b = r->bounds;
  if (!(px > b->x0 - 1.0 && px < b->x1 + 1.0 && py > b->y0 - 1.0 &&
        py < b->y1 + 1.0))
    return 0;
  return quad_inside(r->areal, px, py);
}

int32_t region_inside(const region *r, int32_t x, int32_t y) {
  return region_inside_at(r, x, y);
}

void region_message(const region *r, const char *label) {
  char line[256];
  g_snprintf(line, sizeof line, "%s: [ %d, %d ] ---> [ %d, %d ]", label,
             r->bounds->x0, r->bounds->y0, r->bounds->x1, r->bounds->y1);
  g_log(nullptr, G_LOG_LEVEL_MESSAGE, "%s", line);
  quad_message(r->areal, "areal");
  quad_message(r->quad, "quad");
}
