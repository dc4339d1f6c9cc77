// Registration and run callback of plug_in_tessaform_path: reads the path,
// asks for or recalls the settings, and renders through the same checks and
// engine call as plug_in_tessaform.
#include "plug_in_tessaform_path.h"

#include "path_shape.h"
#include "plug_in_tessaform.h"

const char PATH_PROCEDURE_NAME[] = "plug_in_tessaform_path";

#define PARAM(type, name, description) \
  { type, const_cast<gchar *>(name), const_cast<gchar *>(description) }

void path_procedure_query() {
  static const GimpParamDef args[] = {
      PARAM(GIMP_PDB_INT32, "run-mode",
            "The run mode { RUN-INTERACTIVE (0), RUN-NONINTERACTIVE (1), "
            "RUN-WITH-LAST-VALS (2) }"),
      PARAM(GIMP_PDB_IMAGE, "image", "Input image"),
      PARAM(GIMP_PDB_DRAWABLE, "drawable", "Input drawable"),
      PARAM(GIMP_PDB_VECTORS, "path",
            "The path giving the quadrangles (interactive mode uses the "
            "image's active path)"),
      PARAM(GIMP_PDB_INT32, "interpolation",
            "Interpolation { NEAREST (0), BILINEAR (1), CUBIC (2), "
            "LANCZOS (3) }"),
      PARAM(GIMP_PDB_INT32, "anti-aliasing", "Anti-aliasing { FALSE, TRUE }"),
  };
  // As for the main procedure, GIMP heads the answer with the status.
  static const GimpParamDef return_vals[] = {
      PARAM(GIMP_PDB_INT32, "new_layer", "new Layer ID"),
  };

  gimp_install_procedure(
      PATH_PROCEDURE_NAME,
      "Warp the layer onto a quadrangle drawn as a path",
      "Carries pixels onto a quadrangle by a bilinear mapping, into a new "
      "layer. The path's anchors are taken in drawing order; handles are "
      "ignored. A path of one stroke with 4 anchors takes the whole layer "
      "onto that quadrangle: its top-left, top-right, bottom-right and "
      "bottom-left corners go to anchors 1 to 4. A path of two strokes with "
      "4 anchors each, or of one stroke with 8, gives the source quadrangle "
      "(the first four anchors) and the destination (the last four).",
      "Tessaform developers", "Tessaform developers", "2026",
      "Quadrangle Warp from _Path...", "RGB*, GRAY*", GIMP_PLUGIN,
      G_N_ELEMENTS(args), G_N_ELEMENTS(return_vals), args, return_vals);
  gimp_plugin_menu_register(PATH_PROCEDURE_NAME, "<Image>/Filters/Distorts");
}

static void log_message(const char *text) {
  g_log(nullptr, G_LOG_LEVEL_MESSAGE, "%s", text);
}

static bool path_of_image(gint32 image, gint32 path) {
  return path != -1 && gimp_item_is_valid(path) && gimp_item_is_vectors(path) &&
         gimp_item_get_image(path) == image;
}

static void path_shape_read(path_shape *shape, gint32 image, gint32 path) {
  path_shape_init(shape, path_of_image(image, path));
  if (!shape->has_path) return;
  gint n_strokes = 0;
  gint *strokes = gimp_vectors_get_strokes(path, &n_strokes);
  for (gint i = 0; i < n_strokes; ++i) {
    gint n = 0;
    gdouble *points = nullptr;
    gboolean closed = FALSE;
    const GimpVectorsStrokeType type =
        gimp_vectors_stroke_get_points(path, strokes[i], &n, &points, &closed);
    path_shape_add_stroke(shape, points,
                          type == GIMP_VECTORS_STROKE_TYPE_BEZIER ? n : -1);
    g_free(points);
  }
  g_free(strokes);
}

// Stored settings are taken only when they are exactly a settings record.
static void path_settings_recall(path_settings *settings) {
  if (gimp_get_data_size(PATH_PROCEDURE_NAME) !=
      static_cast<gint>(sizeof *settings))
    return;
  path_settings stored;
  if (gimp_get_data(PATH_PROCEDURE_NAME, &stored)) *settings = stored;
}

void path_procedure_run(gint nparams, const GimpParam *param,
                        gint *nreturn_vals, GimpParam **return_vals) {
  static GimpParam values[2];
  *nreturn_vals = 2;
  *return_vals = values;
  values[0].type = GIMP_PDB_STATUS;
  values[1].type = GIMP_PDB_INT32;
  values[1].data.d_int32 = -1;

  const gint32 run_mode = nparams >= 1 && param ? param[0].data.d_int32 : -1;
  const bool enough = run_mode == GIMP_RUN_NONINTERACTIVE ? nparams == 6
                                                          : nparams >= 3;
  if (!param || !enough || run_mode < GIMP_RUN_INTERACTIVE ||
      run_mode > GIMP_RUN_WITH_LAST_VALS) {
    char text[128];
    g_snprintf(text, sizeof text,
               "Wrong Number of Parameters - there are %d - need 6", nparams);
    log_message(run_mode >= GIMP_RUN_INTERACTIVE &&
                        run_mode <= GIMP_RUN_WITH_LAST_VALS
                    ? text
                    : "Wrong run-mode");
    values[0].data.d_status = GIMP_PDB_CALLING_ERROR;
    return;
  }
  const gint32 image = param[1].data.d_image;
  const gint32 drawable = param[2].data.d_drawable;

  path_settings settings = {1, 0};
  gint32 path = -1;
  if (run_mode == GIMP_RUN_NONINTERACTIVE) {
    path = param[3].data.d_vectors;
    settings.interpolation = param[4].data.d_int32;
    settings.anti_aliasing = param[5].data.d_int32 != 0;
  } else {
    path_settings_recall(&settings);
    // Filters > Re-Apply passes no path: it then takes the active one.
    if (run_mode == GIMP_RUN_WITH_LAST_VALS && nparams >= 4)
      path = param[3].data.d_vectors;
    if (run_mode == GIMP_RUN_INTERACTIVE || !path_of_image(image, path))
      path = gimp_image_get_active_vectors(image);
  }

  path_shape shape;
  path_shape_read(&shape, image, path);
  bool whole_layer = false;
  if (!path_shape_usable(&shape, &whole_layer)) {
    char text[512];
    path_shape_refusal(&shape, text, sizeof text);
    log_message(text);
    values[0].data.d_status = GIMP_PDB_CALLING_ERROR;
    return;
  }

  if (run_mode == GIMP_RUN_INTERACTIVE) {
    const path_dialog_answer answer = path_dialog_run(&settings, whole_layer);
    if (answer == PATH_DIALOG_NO_DISPLAY)
      log_message("Quadrangle Warp from Path needs a display to show its "
                  "dialog; without one, call it with RUN-NONINTERACTIVE.");
    if (answer != PATH_DIALOG_OK) {
      values[0].data.d_status = answer == PATH_DIALOG_CANCEL
                                    ? GIMP_PDB_CANCEL
                                    : GIMP_PDB_EXECUTION_ERROR;
      return;
    }
  }

  warp_vals settings_vals{};
  settings_vals.progress_name = "Quadrangle Warp";
  // An invalid drawable is refused by the render's checks; GIMP is not
  // asked about it before.
  gint ox = 0, oy = 0, w = 0, h = 0;
  if (gimp_item_is_valid(drawable) && gimp_item_is_drawable(drawable)) {
    gimp_drawable_offsets(drawable, &ox, &oy);
    w = gimp_drawable_width(drawable);
    h = gimp_drawable_height(drawable);
  }
  path_shape_corners(&shape, ox, oy, w, h, &settings_vals);
  settings_vals.interpolation = settings.interpolation;
  settings_vals.anti_aliasing = settings.anti_aliasing;

  plugin_gegl_start();
  gint32 layer = -1;
  values[0].data.d_status =
      plugin_render(image, drawable, &settings_vals, &layer);
  values[1].data.d_int32 = layer;
  // Only settings that rendered are worth repeating.
  if (values[0].data.d_status == GIMP_PDB_SUCCESS)
    gimp_set_data(PATH_PROCEDURE_NAME, &settings, sizeof settings);
  gegl_exit();
}
