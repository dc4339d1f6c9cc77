// Warp engine: the driver, the context set-up, the source-point mapping and
// the checks made before anything is created.
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "tessaform.h"

[[noreturn]] void error(const char *message) {
  char text[WARP_ERROR_SIZE];
  g_snprintf(text, sizeof text, "ERROR:\n%s", message);
  g_log(nullptr, G_LOG_LEVEL_MESSAGE, "%s", text);
  std::exit(-1);
}

void warp_label(char *out, size_t size, const char *progress_name) {
  static const char suffix[] = " ...";
  const size_t room = size - sizeof suffix;  // the suffix and the terminator
  size_t n = progress_name ? std::strlen(progress_name) : 0;
  if (n > room) {
    n = room;
    // Never leave half a UTF-8 character behind.
    while (n > 0 && (static_cast<unsigned char>(progress_name[n]) & 0xC0) == 0x80)
      --n;
  }
  if (n) std::memcpy(out, progress_name, n);
  std::memcpy(out + n, suffix, sizeof suffix);
}

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

  point areal[4];
  bounds box{};
  quad_grow(quads[1], areal, 1.0);
  bounds_set(&box, areal);
  const int64_t width = int64_t(box.x1) - box.x0;
  const int64_t height = int64_t(box.y1) - box.y0;
  if (width > GIMP_MAX_IMAGE_SIZE || height > GIMP_MAX_IMAGE_SIZE ||
      width * height > WARP_MAX_PIXELS)
    return "the destination quadrangle is too large for a layer";
  return nullptr;
}

void warp_init(warp *w, const warp_vals *vals, interpolation *in) {
  w->src = &w->src_region;
  w->dst = &w->dst_region;
  w->pre_blur = vals->pre_blur;
  w->anti_aliasing = vals->anti_aliasing;

  // The kernel is chosen before any layer exists, so an unknown index ends
  // the call without leaving a layer behind.
  switch (vals->interpolation) {
    case 0: interpolation_init_near(in); break;
    case 1: interpolation_init_linear(in); break;
    case 2: interpolation_init_cubic(in); break;
    case 3: interpolation_init_lanczos(in); break;
    default: error("unknown interpolation!");
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
}

void warp_convert(const warp *w, float x, float y, float *sx, float *sy) {
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

// Gives up both regions' buffer references, the destination's first, so the
// rendered pixels reach GIMP; a reference not taken is skipped.
void warp_release(warp *w) {
  if (w->dst->pixel_buffer) g_object_unref(w->dst->pixel_buffer);
  if (w->src->pixel_buffer) g_object_unref(w->src->pixel_buffer);
  w->dst->pixel_buffer = nullptr;
  w->src->pixel_buffer = nullptr;
}

GimpPDBStatusType tessaform(gint32 image, gint32 drawable,
                            const warp_vals *vals, gint32 *layer) {
  return tessaform_render(image, drawable, vals, layer, nullptr);
}

GimpPDBStatusType tessaform_render(gint32 image, gint32 drawable,
                                   const warp_vals *vals, gint32 *layer,
                                   const warp_render_options *options) {
  GimpPDBStatusType status = GIMP_PDB_SUCCESS;
  warp w{};
  interpolation in{};
  char label[WARP_LABEL_SIZE];
  *layer = -1;

  w.image = image;
  w.drawable = drawable;
  w.gegl_buffer = gimp_drawable_get_buffer(drawable);
  warp_samples_init(&w, gegl_buffer_get_format(w.gegl_buffer));
  warp_label(label, sizeof label, vals->progress_name);
  w.label = label;
  interpolation_init(&in, &w);

  // Layer creation and its pixels form one undo step.
  gimp_image_undo_group_start(image);
  warp_init(&w, vals, &in);
  if (w.dst->drawable == -1 || !w.dst->pixel_buffer || !w.src->pixel_buffer) {
    g_log(nullptr, G_LOG_LEVEL_MESSAGE, "%s",
          "could not create the new layer");
    if (w.dst->drawable != -1) gimp_image_remove_layer(image, w.dst->drawable);
    warp_release(&w);
    status = GIMP_PDB_EXECUTION_ERROR;
  } else {
    gimp_progress_init(label);
    warp_render(&w, &in, options);
    *layer = w.dst->drawable;
  }
  gimp_image_undo_group_end(image);

  gimp_displays_flush();
  g_object_unref(w.gegl_buffer);
  return status;
}
