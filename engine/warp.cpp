// Warp engine: the entry a host calls, the context set-up, the source-point
// mapping and the checks made before anything is created.
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "tessaform.h"

static void point_pairs_to_quad(point quad[4], const float xy[8]) {
  for (int i = 0; i < 4; ++i) quad[i] = point_init(xy[2 * i], xy[2 * i + 1]);
}

static void warp_vals_source(const warp_vals *v, point quad[4]) {
  const float xy[8] = {v->sx0, v->sy0, v->sx1, v->sy1,
                       v->sx2, v->sy2, v->sx3, v->sy3};
  point_pairs_to_quad(quad, xy);
}

static void warp_vals_destination(const warp_vals *v, point quad[4]) {
  const float xy[8] = {v->dx0, v->dy0, v->dx1, v->dy1,
                       v->dx2, v->dy2, v->dx3, v->dy3};
  point_pairs_to_quad(quad, xy);
}

// Why the mapping cannot carry the source quadrangle onto the destination,
// or null. The perspective map of two convex quadrangles keeps the horizon
// off the destination; any other shape would fold the plane over.
static const char *warp_mapping_check(int32_t mapping, const point src[4],
                                      const point dst[4]) {
  if (mapping == WARP_BILINEAR) return nullptr;
  if (mapping != WARP_PERSPECTIVE) return "unknown mapping!";
  static const char *const refusals[2][4] = {
      {nullptr,
       "the perspective mapping needs a convex source quadrangle: three of its "
       "corners lie on a line",
       "the perspective mapping needs a convex source quadrangle: one corner "
       "lies inside the triangle of the other three",
       "the perspective mapping needs a convex source quadrangle: its edges "
       "cross (the corners must go round it in order)"},
      {nullptr,
       "the perspective mapping needs a convex destination quadrangle: three "
       "of its corners lie on a line",
       "the perspective mapping needs a convex destination quadrangle: one "
       "corner lies inside the triangle of the other three",
       "the perspective mapping needs a convex destination quadrangle: its "
       "edges cross (the corners must go round it in order)"}};
  for (int i = 0; i < 2; ++i)
    if (const char *refusal = refusals[i][quad_shape_of(i ? dst : src)])
      return refusal;
  homography h;
  if (!homography_init(&h, src, dst))
    return "the perspective mapping of these quadrangles is not finite";
  return nullptr;
}

const char *warp_vals_check(const warp_vals *vals) {
  if (vals->interpolation < 0 || vals->interpolation > 3)
    return "unknown interpolation!";

  point quads[2][4];
  warp_vals_source(vals, quads[0]);
  warp_vals_destination(vals, quads[1]);
  for (const auto &quad : quads)
    for (int i = 0; i < 4; ++i)
      if (!std::isfinite(quad[i].x) || !std::isfinite(quad[i].y) ||
          std::fabs(quad[i].x) > WARP_COORD_LIMIT ||
          std::fabs(quad[i].y) > WARP_COORD_LIMIT)
        return "coordinates must be finite and at most 8388608 in magnitude";
  if (const char *refusal = warp_mapping_check(vals->mapping, quads[0], quads[1]))
    return refusal;

  point areal[4];
  bounds box{};
  quad_grow(quads[1], areal, 1.0);
  bounds_set(&box, areal);
  const int64_t width = int64_t(box.x1) - box.x0;
  const int64_t height = int64_t(box.y1) - box.y0;
  if (width > WARP_MAX_SIDE || height > WARP_MAX_SIDE ||
      width * height > WARP_MAX_PIXELS)
    return "the destination quadrangle is too large for a layer";
  return nullptr;
}

void warp_init(warp *w, const warp_vals *vals, interpolation *in) {
  w->src = &w->src_region;
  w->dst = &w->dst_region;
  w->pre_blur = vals->pre_blur;
  w->anti_aliasing = vals->anti_aliasing;
  w->interpolation = vals->interpolation;
  w->mapping = vals->mapping;

  // An unknown index keeps interpolation_init's kernel; tessaform_warp has
  // refused it through warp_vals_check before getting here.
  switch (vals->interpolation) {
    case 0: interpolation_init_near(in); break;
    case 1: interpolation_init_linear(in); break;
    case 2: interpolation_init_cubic(in); break;
    case 3: interpolation_init_lanczos(in); break;
    default: break;
  }

  warp_vals_source(vals, w->src->quad);
  warp_vals_destination(vals, w->dst->quad);
  region_init(w->src, w, 1);
  region_init(w->dst, w, 0);

  const point *q = w->src->quad;
  w->c0 = q[0];
  w->c3 = q[3];
  w->e01 = point_from2(q[0], q[1]);
  w->e32 = point_from2(q[3], q[2]);
  w->c1 = q[1];
  w->e03 = point_from2(q[0], q[3]);
  w->e12 = point_from2(q[1], q[2]);
  if (w->mapping == WARP_PERSPECTIVE)
    homography_init(&w->perspective, w->src->quad, w->dst->quad);
}

void warp_convert(const warp *w, float x, float y, float *sx, float *sy) {
  if (w->mapping == WARP_PERSPECTIVE) {
    homography_map(&w->perspective, x, y, sx, sy);
    return;
  }
  const point P = point_init(x, y);
  const double u = qcoord_get(w->dst->coord_u, P);
  const double v = qcoord_get(w->dst->coord_v, P);
  const point U01 = point_add(w->c0, point_scale(w->e01, u));
  const point U32 = point_add(w->c3, point_scale(w->e32, u));
  const point V03 = point_add(w->c0, point_scale(w->e03, v));
  const point V12 = point_add(w->c1, point_scale(w->e12, v));
  get_intersect(U01, point_from2(U01, U32), V03, point_from2(V03, V12), sx,
                sy);
}

GeglRectangle warp_destination_box(const warp_vals *vals) {
  point quad[4], areal[4];
  warp_vals_destination(vals, quad);
  quad_grow(quad, areal, 1.0);
  bounds box{};
  bounds_set(&box, areal);
  return GeglRectangle{box.x0, box.y0, bounds_width(&box), bounds_height(&box)};
}

// The warp context for `vals` over a source lying at `source_extent`; the
// format is the source's own when there is a buffer.
static void warp_setup(warp *w, interpolation *in, GeglBuffer *source,
                       const GeglRectangle *source_extent,
                       const warp_vals *vals) {
  w->gegl_buffer = source;
  w->source_extent.x0 = source_extent->x;
  w->source_extent.y0 = source_extent->y;
  w->source_extent.x1 = source_extent->x + source_extent->width;
  w->source_extent.y1 = source_extent->y + source_extent->height;
  if (source) warp_samples_init(w, gegl_buffer_get_format(source));
  interpolation_init(in, w);
  warp_init(w, vals, in);
}

warp_status tessaform_warp_target(GeglBuffer *source,
                                  const GeglRectangle *source_extent,
                                  const warp_target *target,
                                  const warp_vals *vals,
                                  const warp_render_options *options,
                                  warp_progress progress, void *progress_data) {
  if (!source || !source_extent || !target || !target->buffer || !vals ||
      warp_vals_check(vals))
    return WARP_REFUSED;
  warp w{};
  interpolation in{};
  w.progress = progress;
  w.progress_data = progress_data;
  warp_setup(&w, &in, source, source_extent, vals);
  const GeglRectangle box = {w.dst->bounds->x0, w.dst->bounds->y0,
                             w.dst->bounds->width, w.dst->bounds->height};
  gegl_rectangle_intersect(&w.area, &box, &target->area);
  w.target_x = target->x;
  w.target_y = target->y;
  w.dst->pixel_buffer = target->buffer;
  return warp_render(&w, &in, options);
}

warp_status tessaform_warp(GeglBuffer *source,
                           const GeglRectangle *source_extent,
                           GeglBuffer *destination, const warp_vals *vals,
                           const warp_render_options *options,
                           warp_progress progress, void *progress_data) {
  if (!vals || warp_vals_check(vals)) return WARP_REFUSED;
  const GeglRectangle box = warp_destination_box(vals);
  const warp_target target = {destination, box.x, box.y, box};
  return tessaform_warp_target(source, source_extent, &target, vals, options,
                               progress, progress_data);
}

// The warp context of a source-free survey: `vals` over a source lying at
// `source_extent`, `area` of the destination box its part; false when the
// settings are refused.
static bool warp_survey(warp *w, interpolation *in, const warp_vals *vals,
                        const GeglRectangle *source_extent,
                        const GeglRectangle *area) {
  if (!vals || !source_extent || !area || warp_vals_check(vals)) return false;
  warp_setup(w, in, nullptr, source_extent, vals);
  const GeglRectangle box = {w->dst->bounds->x0, w->dst->bounds->y0,
                             w->dst->bounds->width, w->dst->bounds->height};
  gegl_rectangle_intersect(&w->area, &box, area);
  return true;
}

GeglRectangle warp_source_reach(const warp_vals *vals,
                                const GeglRectangle *source_extent,
                                const GeglRectangle *area) {
  GeglRectangle none = {0, 0, 0, 0};
  warp w{};
  interpolation in{};
  if (!warp_survey(&w, &in, vals, source_extent, area)) return none;
  GeglRectangle reach = warp_area_source_reach(&w, in.current->size);
  const GeglRectangle extent = *source_extent;
  gegl_rectangle_intersect(&reach, &reach, &extent);
  return reach;
}

GeglRectangle warp_invalidated_by(const warp_vals *vals,
                                  const GeglRectangle *source_extent,
                                  const GeglRectangle *changed) {
  GeglRectangle none = {0, 0, 0, 0};
  warp w{};
  interpolation in{};
  if (!changed || !vals || warp_vals_check(vals)) return none;
  const GeglRectangle box = warp_destination_box(vals);
  if (!warp_survey(&w, &in, vals, source_extent, &box)) return none;
  return warp_area_invalidated(&w, in.current->size, changed);
}
