// Registration and run callback of plug_in_tessaform_path: reads the path,
// asks for or recalls the settings, and renders through the same checks and
// engine call as plug_in_tessaform.
#include "plug_in_tessaform_path.h"

#include "path_calls.h"
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
      "Carries pixels onto a quadrangle by a bilinear mapping (the dialog "
      "also offers the perspective one), into a new layer. The path's "
      "anchors are taken in drawing order; handles are "
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

void path_procedure_run(gint nparams, const GimpParam *param,
                        gint *nreturn_vals, GimpParam **return_vals) {
  GimpParam *values = path_call_answer(nreturn_vals, return_vals);
  path_call call;
  if (!path_call_read(nparams, param, 6, &call)) return;
  const gint32 run_mode = call.run_mode, image = call.image,
               drawable = call.drawable;

  path_settings settings = {1, 0, WARP_BILINEAR};
  if (run_mode == GIMP_RUN_NONINTERACTIVE) {
    settings.interpolation = param[4].data.d_int32;
    settings.anti_aliasing = param[5].data.d_int32 != 0;
  } else {
    path_call_recall(PATH_PROCEDURE_NAME, &settings, sizeof settings);
  }

  path_shape shape;
  path_call_shape(call, &shape);
  bool whole_layer = false;
  if (!path_shape_usable(&shape, &whole_layer)) {
    char text[512];
    path_shape_refusal(&shape, text, sizeof text);
    log_message(text);
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
  const GeglRectangle box = path_call_drawable_box(drawable);
  path_shape_corners(&shape, box.x, box.y, box.width, box.height,
                     &settings_vals);
  settings_vals.interpolation = settings.interpolation;
  settings_vals.anti_aliasing = settings.anti_aliasing;
  // Scripts' six parameters name no mapping: theirs stays bilinear.
  settings_vals.mapping =
      run_mode == GIMP_RUN_NONINTERACTIVE ? WARP_BILINEAR : settings.mapping;

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
