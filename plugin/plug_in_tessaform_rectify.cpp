// Registration and run callback of plug_in_tessaform_rectify: reads the
// path on the photographed corners, estimates the rectangle, asks for or
// recalls the settings, and renders the upright rectangle into a new layer
// at the quadrangle's box, through the same checks and engine call as
// plug_in_tessaform.
#include "plug_in_tessaform_rectify.h"

#include <algorithm>
#include <cmath>

#include "path_calls.h"
#include "plug_in_tessaform.h"
#include "rectify.h"

const char RECTIFY_PROCEDURE_NAME[] = "plug_in_tessaform_rectify";

#define PARAM(type, name, description) \
  { type, const_cast<gchar *>(name), const_cast<gchar *>(description) }

void rectify_procedure_query() {
  static const GimpParamDef args[] = {
      PARAM(GIMP_PDB_INT32, "run-mode",
            "The run mode { RUN-INTERACTIVE (0), RUN-NONINTERACTIVE (1), "
            "RUN-WITH-LAST-VALS (2) }"),
      PARAM(GIMP_PDB_IMAGE, "image", "Input image"),
      PARAM(GIMP_PDB_DRAWABLE, "drawable", "Input drawable (the photograph)"),
      PARAM(GIMP_PDB_VECTORS, "path",
            "One stroke of 4 anchors on the photographed rectangle's corners, "
            "in order round it (interactive mode uses the image's active "
            "path)"),
      PARAM(GIMP_PDB_INT32, "width",
            "The result's width, 0 for the estimate (with height 0 too) or "
            "for the estimated ratio to the height"),
      PARAM(GIMP_PDB_INT32, "height",
            "The result's height, 0 for the estimate (with width 0 too) or "
            "for the estimated ratio to the width"),
      PARAM(GIMP_PDB_INT32, "interpolation",
            "Interpolation { NEAREST (0), BILINEAR (1), CUBIC (2), "
            "LANCZOS (3) }"),
      PARAM(GIMP_PDB_INT32, "anti-aliasing", "Anti-aliasing { FALSE, TRUE }"),
  };
  static const GimpParamDef return_vals[] = {
      PARAM(GIMP_PDB_INT32, "new_layer", "new Layer ID"),
  };

  gimp_install_procedure(
      RECTIFY_PROCEDURE_NAME,
      "Flatten a photographed rectangle to its true proportions",
      "Takes a photographed rectangle (a page, a whiteboard, a painting) back "
      "to an upright rectangle by the perspective mapping, into a new layer "
      "placed at the top-left of the quadrangle's box. The path is one "
      "stroke of 4 anchors on its corners, clicked in order round it from "
      "any corner; the corner nearest the top-left of the quadrangle's box "
      "becomes the top-left, and the result is never mirrored. The aspect "
      "ratio is estimated from the two vanishing points of its sides (the "
      "principal point at the drawable's centre, square pixels); where a "
      "pair of sides is parallel or the estimate is not real, a phone "
      "camera's focal length (0.6 of the drawable's diagonal) is assumed. "
      "Width and height 0 take the estimate, the longer side as long as the "
      "quadrangle's longer sides.",
      "Tessaform developers", "Tessaform developers", "2026",
      "Rectify from _Path...", "RGB*, GRAY*", GIMP_PLUGIN,
      G_N_ELEMENTS(args), G_N_ELEMENTS(return_vals), args, return_vals);
  gimp_plugin_menu_register(RECTIFY_PROCEDURE_NAME, "<Image>/Filters/Distorts");
}

static void log_message(const char *text) {
  g_log(nullptr, G_LOG_LEVEL_MESSAGE, "%s", text);
}

// The estimate from the call's path, four anchors on the photographed
// corners over the drawable (the photograph); false, with the reason
// logged, when there is none.
static bool estimate_from_path(const path_call &call, rectify_estimate *e) {
  path_shape shape;
  path_call_shape(call, &shape);
  bool four = false;
  if (!path_shape_usable(&shape, &four) || !four) {
    char found[160], text[512];
    path_shape_found(&shape, found, sizeof found);
    g_snprintf(text, sizeof text,
               "%s. Needed: one stroke of 4 anchors on the corners of the "
               "photographed rectangle, in order round it.",
               found);
    log_message(text);
    return false;
  }
  point quad[4];
  for (int i = 0; i < 4; ++i) quad[i] = shape.anchor[i];
  const GeglRectangle photo = path_call_drawable_box(call.drawable);
  if (const char *refusal = rectify_estimate_init(e, quad, photo)) {
    char text[512];
    g_snprintf(text, sizeof text,
               "The path's anchors cannot be the corners of a photographed "
               "rectangle: %s.",
               refusal);
    log_message(text);
    return false;
  }
  return true;
}

void rectify_procedure_run(gint nparams, const GimpParam *param,
                           gint *nreturn_vals, GimpParam **return_vals) {
  GimpParam *values = path_call_answer(nreturn_vals, return_vals);
  path_call call;
  if (!path_call_read(nparams, param, 8, &call)) return;

  // Cubic and anti-aliasing by default: rectifying magnifies the far side
  // of a photograph and usually shrinks the near one.
  rectify_settings settings = {2, 1, 1};
  gint32 width = 0, height = 0;
  if (call.run_mode == GIMP_RUN_NONINTERACTIVE) {
    width = param[4].data.d_int32;
    height = param[5].data.d_int32;
    settings.interpolation = param[6].data.d_int32;
    settings.anti_aliasing = param[7].data.d_int32 != 0;
  } else {
    path_call_recall(RECTIFY_PROCEDURE_NAME, &settings, sizeof settings);
  }
  if (width < 0 || height < 0) {
    log_message("width and height must be 0 (the estimate) or positive");
    return;
  }

  rectify_estimate e;
  if (!estimate_from_path(call, &e)) return;
  int32_t w = 0, h = 0;
  rectify_size(&e, e.aspect, width, height, &w, &h);

  if (call.run_mode == GIMP_RUN_INTERACTIVE) {
    char estimate[512];
    rectify_describe(&e, estimate, sizeof estimate);
    const rectify_dialog_facts facts = {estimate, e.aspect, w, h};
    if (!dialog_display_available()) {
      log_message("Rectify from Path needs a display to show its dialog; "
                  "without one, call it with RUN-NONINTERACTIVE.");
      values[0].data.d_status = GIMP_PDB_EXECUTION_ERROR;
      return;
    }
    if (!rectify_dialog_run(&settings, facts, &w, &h)) {
      values[0].data.d_status = GIMP_PDB_CANCEL;
      return;
    }
  }

  warp_vals settings_vals{};
  settings_vals.progress_name = "Rectify";
  rectify_vals(&e, w, h, &settings_vals);
  settings_vals.interpolation = settings.interpolation;
  settings_vals.anti_aliasing = settings.anti_aliasing;
  // The rectangle alone, at the top-left of the quadrangle's box.
  double left = e.corners[0].x, top = e.corners[0].y;
  for (const point &c : e.corners) {
    left = std::min(left, c.x);
    top = std::min(top, c.y);
  }
  const layer_placement placement = {{0, 0, w, h},
                                     gint(std::floor(left)),
                                     gint(std::floor(top))};

  plugin_gegl_start();
  gint32 layer = -1;
  values[0].data.d_status = plugin_render(call.image, call.drawable,
                                          &settings_vals, &layer, &placement);
  values[1].data.d_int32 = layer;
  if (values[0].data.d_status == GIMP_PDB_SUCCESS)
    gimp_set_data(RECTIFY_PROCEDURE_NAME, &settings, sizeof settings);
  gegl_exit();
}
