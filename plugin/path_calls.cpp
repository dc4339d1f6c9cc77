#include "path_calls.h"

#include <cstring>
#include <vector>

static bool path_of_image(gint32 image, gint32 path) {
  return path != -1 && gimp_item_is_valid(path) && gimp_item_is_vectors(path) &&
         gimp_item_get_image(path) == image;
}

GimpParam *path_call_answer(gint *nreturn_vals, GimpParam **return_vals) {
  static GimpParam values[2];
  *nreturn_vals = 2;
  *return_vals = values;
  values[0].type = GIMP_PDB_STATUS;
  values[0].data.d_status = GIMP_PDB_CALLING_ERROR;
  values[1].type = GIMP_PDB_INT32;
  values[1].data.d_int32 = -1;
  return values;
}

bool path_call_read(gint nparams, const GimpParam *param, gint needed,
                    path_call *call) {
  call->run_mode = nparams >= 1 && param ? param[0].data.d_int32 : -1;
  const bool known = call->run_mode >= GIMP_RUN_INTERACTIVE &&
                     call->run_mode <= GIMP_RUN_WITH_LAST_VALS;
  const bool enough =
      call->run_mode == GIMP_RUN_NONINTERACTIVE ? nparams == needed : nparams >= 3;
  if (!param || !enough || !known) {
    char text[128];
    g_snprintf(text, sizeof text,
               "Wrong Number of Parameters - there are %d - need %d", nparams,
               needed);
    g_log(nullptr, G_LOG_LEVEL_MESSAGE, "%s", known ? text : "Wrong run-mode");
    return false;
  }
  call->image = param[1].data.d_image;
  call->drawable = param[2].data.d_drawable;
  call->path = call->run_mode == GIMP_RUN_INTERACTIVE || nparams < 4
                   ? -1
                   : param[3].data.d_vectors;
  if (call->run_mode != GIMP_RUN_NONINTERACTIVE &&
      !path_of_image(call->image, call->path))
    call->path = gimp_image_get_active_vectors(call->image);
  return true;
}

void path_call_shape(const path_call &call, path_shape *shape) {
  path_shape_init(shape, path_of_image(call.image, call.path));
  if (!shape->has_path) return;
  gint n_strokes = 0;
  gint *strokes = gimp_vectors_get_strokes(call.path, &n_strokes);
  for (gint i = 0; i < n_strokes; ++i) {
    gint n = 0;
    gdouble *points = nullptr;
    gboolean closed = FALSE;
    const GimpVectorsStrokeType type =
        gimp_vectors_stroke_get_points(call.path, strokes[i], &n, &points, &closed);
    path_shape_add_stroke(shape, points,
                          type == GIMP_VECTORS_STROKE_TYPE_BEZIER ? n : -1);
    g_free(points);
  }
  g_free(strokes);
}

GeglRectangle path_call_drawable_box(gint32 drawable) {
  GeglRectangle box = {0, 0, 0, 0};
  if (gimp_item_is_valid(drawable) && gimp_item_is_drawable(drawable)) {
    gimp_drawable_offsets(drawable, &box.x, &box.y);
    box.width = gimp_drawable_width(drawable);
    box.height = gimp_drawable_height(drawable);
  }
  return box;
}

void path_call_recall(const char *procedure, void *settings, size_t size) {
  if (gimp_get_data_size(procedure) != static_cast<gint>(size)) return;
  std::vector<unsigned char> stored(size);
  if (gimp_get_data(procedure, stored.data()))
    std::memcpy(settings, stored.data(), size);
}
