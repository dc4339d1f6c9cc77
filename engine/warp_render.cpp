// The render loop: every pixel of the destination box, column by column.
#include <cmath>

#include "tessaform.h"

// Source positions that are not finite or do not fit an int32 are outside.
static bool source_position_usable(float sx, float sy) {
  return std::isfinite(sx) && std::isfinite(sy) && std::fabs(sx) < 2.0e9f &&
         std::fabs(sy) < 2.0e9f;
}

static void pdb_plug_in_blur(const warp *w) {
  GimpParam params[3];
  params[0].type = GIMP_PDB_INT32;
  params[0].data.d_int32 = GIMP_RUN_NONINTERACTIVE;
  params[1].type = GIMP_PDB_IMAGE;
  params[1].data.d_image = w->image;
  params[2].type = GIMP_PDB_DRAWABLE;
  params[2].data.d_drawable = w->src->drawable;
  gint n = 0;
  GimpParam *result = gimp_run_procedure2("plug-in-blur", &n, 3, params);
  gimp_destroy_params(result, n);
}

void warp_transformation(warp *w, interpolation *in) {
  const bounds *db = w->dst->bounds;
  const int32_t x0 = db->x0, y0 = db->y0, x1 = db->x1, y1 = db->y1;
  const int32_t width = db->width, height = db->height;

  if (w->pre_blur && in->allow_blur) pdb_plug_in_blur(w);

  unsigned char cell[PIXEL_MAX_BYTES] = {0, 0, 0, 0};
  for (int32_t x = x0; x < x1; ++x) {
    for (int32_t y = y0; y < y1; ++y) {
      // Everything is decided at the pixel's centre: its own test, its
      // source position, and that position's test.
      const double cx = x + 0.5, cy = y + 0.5;
      if (!region_inside_at(w->dst, x, y, cx, cy)) continue;
      float sx, sy;
      warp_convert(w, static_cast<float>(cx), static_cast<float>(cy), &sx,
                   &sy);
      if (!source_position_usable(sx, sy)) continue;
      if (!region_inside_at(w->src, static_cast<int32_t>(sx),
                            static_cast<int32_t>(sy), sx, sy))
        continue;
      if (interpolation_get_pixel(in, sx, sy, cell)) {
        const GeglRectangle rect = {x - x0, y - y0, 1, 1};
        gegl_buffer_set(w->dst->pixel_buffer, &rect, 0, w->format, cell,
                        GEGL_AUTO_ROWSTRIDE);
      }
    }
    if (x % 10 == 0)
      gimp_progress_update(static_cast<double>(x - x0) / width);
  }

  buffer_free(in->current);
  const gint32 layer = w->dst->drawable;
  g_object_unref(w->dst->pixel_buffer);
  g_object_unref(w->src->pixel_buffer);
  w->dst->pixel_buffer = nullptr;
  w->src->pixel_buffer = nullptr;
  gimp_displays_flush();
  gimp_drawable_update(layer, 0, 0, width, height);
  gimp_progress_update(1.0);
  gimp_progress_end();
}
