// plug_in_tessaform_floor: takes the parameters of plug_in_tessaform and does
// only the work every call of it must do, with nothing per pixel: start GEGL
// the same way, create the new layer over the destination box, read the
// clipped source box in one transfer, write the layer in one transfer and
// flush it.
// Its call time is the floor of a plug-in that moves these pixels.
//
// With BENCH_FLOOR_TRACE naming a file in the environment, every call
// appends the seconds its steps took: "init read write flush update end",
// where init is gegl_init, read the layer's creation and the source
// transfer, write the layer transfer, flush the release of the layer's
// buffer, update the layer's update and the progress's end, end the undo
// group's end and the release of the source buffer.
#include <algorithm>
#include <cstdio>
#include <vector>

#include "gimp_host.h"

namespace {

const char PROCEDURE_NAME[] = "plug_in_tessaform_floor";

#define PARAM(type, name) \
  { type, const_cast<gchar *>(name), const_cast<gchar *>(name) }

void query() {
  static const GimpParamDef args[] = {
      PARAM(GIMP_PDB_INT32, "run-mode"),
      PARAM(GIMP_PDB_IMAGE, "image"),
      PARAM(GIMP_PDB_DRAWABLE, "drawable"),
      PARAM(GIMP_PDB_STRING, "progress_name"),
      PARAM(GIMP_PDB_FLOAT, "sx0"), PARAM(GIMP_PDB_FLOAT, "sy0"),
      PARAM(GIMP_PDB_FLOAT, "sx1"), PARAM(GIMP_PDB_FLOAT, "sy1"),
      PARAM(GIMP_PDB_FLOAT, "sx2"), PARAM(GIMP_PDB_FLOAT, "sy2"),
      PARAM(GIMP_PDB_FLOAT, "sx3"), PARAM(GIMP_PDB_FLOAT, "sy3"),
      PARAM(GIMP_PDB_FLOAT, "dx0"), PARAM(GIMP_PDB_FLOAT, "dy0"),
      PARAM(GIMP_PDB_FLOAT, "dx1"), PARAM(GIMP_PDB_FLOAT, "dy1"),
      PARAM(GIMP_PDB_FLOAT, "dx2"), PARAM(GIMP_PDB_FLOAT, "dy2"),
      PARAM(GIMP_PDB_FLOAT, "dx3"), PARAM(GIMP_PDB_FLOAT, "dy3"),
      PARAM(GIMP_PDB_INT8, "interpolation"),
      PARAM(GIMP_PDB_INT8, "pre_blur"),
      PARAM(GIMP_PDB_INT8, "anti_aliasing"),
  };
  static const GimpParamDef return_vals[] = {
      PARAM(GIMP_PDB_INT32, "new_layer"),
  };
  gimp_install_procedure(
      PROCEDURE_NAME, "Tessaform's transfer floor (benchmark only)",
      "Reads the source box and writes a layer over the destination box, "
      "computing no pixel",
      "Tessaform developers", "Tessaform developers", "2019", nullptr,
      "RGB*, GRAY*", GIMP_PLUGIN, G_N_ELEMENTS(args),
      G_N_ELEMENTS(return_vals), args, return_vals);
}

// The boxes the plug-in derives from the same corners: each quadrangle grown
// by one pixel, the source's clipped to the drawable.
void boxes(gint32 drawable, const GimpParam *param, bounds *src, bounds *dst) {
  point quad[4], grown[4];
  for (int i = 0; i < 4; ++i)
    quad[i] = point_init(param[4 + 2 * i].data.d_float,
                         param[5 + 2 * i].data.d_float);
  quad_grow(quad, grown, 1.0);
  bounds_set(src, grown);
  const bounds extent = get_drawable_bounds(drawable);
  bounds_intersection(src, &extent);
  src->width = std::max(src->x1 - src->x0, 0);
  src->height = std::max(src->y1 - src->y0, 0);

  for (int i = 0; i < 4; ++i)
    quad[i] = point_init(param[12 + 2 * i].data.d_float,
                         param[13 + 2 * i].data.d_float);
  quad_grow(quad, grown, 1.0);
  bounds_set(dst, grown);
  dst->width = dst->x1 - dst->x0;
  dst->height = dst->y1 - dst->y0;
}

constexpr int MARKS = 7;
double marks[MARKS];
int nmarks = 0;
void mark() {
  if (nmarks < MARKS) marks[nmarks++] = g_get_monotonic_time() * 1e-6;
}

void write_trace() {
  const char *path = g_getenv("BENCH_FLOOR_TRACE");
  if (!path || !*path || nmarks != MARKS) return;
  if (FILE *f = std::fopen(path, "a")) {
    for (int i = 1; i < MARKS; ++i)
      std::fprintf(f, "%.4f%c", marks[i] - marks[i - 1],
                   i + 1 < MARKS ? ' ' : '\n');
    std::fclose(f);
  }
}

gint32 transfer(gint32 image, gint32 drawable, const GimpParam *param) {
  GeglBuffer *source = gimp_drawable_get_buffer(drawable);
  // The sample format the plug-in moves: bytes, u16 or float.
  warp samples{};
  warp_samples_init(&samples, gegl_buffer_get_format(source));
  const Babl *format = samples.format;
  const int bpp = samples.bpp;
  gint ox = 0, oy = 0;
  gimp_drawable_offsets(drawable, &ox, &oy);

  bounds src{}, dst{};
  boxes(drawable, param, &src, &dst);

  gimp_image_undo_group_start(image);
  gint32 layer = new_layer(image, drawable, dst.width, dst.height);
  if (layer != -1) {
    gimp_image_insert_layer(image, layer, gimp_item_get_parent(drawable),
                            gimp_image_get_item_position(image, drawable));
    gimp_layer_set_offsets(layer, dst.x0, dst.y0);
    gimp_progress_init("floor ...");

    std::vector<unsigned char> pixels(size_t(src.width) * size_t(src.height) *
                                      size_t(bpp));
    const GeglRectangle read = {src.x0 - ox, src.y0 - oy, src.width,
                                src.height};
    gegl_buffer_get(source, &read, 1.0, format, pixels.data(),
                    GEGL_AUTO_ROWSTRIDE, GEGL_ABYSS_NONE);
    mark();

    // Zeros, as the render path's untouched pixels are.
    std::vector<unsigned char>(size_t(dst.width) * size_t(dst.height) *
                               size_t(bpp))
        .swap(pixels);
    GeglBuffer *target = gimp_drawable_get_buffer(layer);
    const GeglRectangle whole = {0, 0, dst.width, dst.height};
    gegl_buffer_set(target, &whole, 0, format, pixels.data(),
                    GEGL_AUTO_ROWSTRIDE);
    mark();
    g_object_unref(target);
    mark();

    gimp_displays_flush();
    gimp_drawable_update(layer, 0, 0, dst.width, dst.height);
    gimp_progress_update(1.0);
    gimp_progress_end();
    mark();
  }
  gimp_image_undo_group_end(image);
  gimp_displays_flush();
  g_object_unref(source);
  mark();
  return layer;
}

void run(const gchar *, gint nparams, const GimpParam *param,
         gint *nreturn_vals, GimpParam **return_vals) {
  static GimpParam values[2];
  *nreturn_vals = 2;
  *return_vals = values;
  values[0].type = GIMP_PDB_STATUS;
  values[0].data.d_status = GIMP_PDB_CALLING_ERROR;
  values[1].type = GIMP_PDB_INT32;
  values[1].data.d_int32 = -1;
  if (nparams != 23 || param[0].data.d_int32 != GIMP_RUN_NONINTERACTIVE)
    return;

  mark();
  g_setenv("BABL_INHIBIT_CACHE", "1", TRUE);
  gegl_init(nullptr, nullptr);
  mark();
  values[1].data.d_int32 =
      transfer(param[1].data.d_image, param[2].data.d_drawable, param);
  values[0].data.d_status = values[1].data.d_int32 != -1
                                ? GIMP_PDB_SUCCESS
                                : GIMP_PDB_EXECUTION_ERROR;
  gegl_exit();
  write_trace();
}

}  // namespace

const GimpPlugInInfo PLUG_IN_INFO = {nullptr, nullptr, query, run};

MAIN()
