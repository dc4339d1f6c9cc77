// Registration and run callback of plug_in_tessaform_rectify: reads the
// path on the photographed corners, estimates the rectangle, asks for or
// recalls the settings, and renders the upright rectangle into a new layer
// at the quadrangle's box, through the same checks and engine call as
// plug_in_tessaform.
#include "plug_in_tessaform_rectify.h"

#include <algorithm>
#include <cmath>

#include "path_shape.h"
#include "plug_in_tessaform.h"
#include "plug_in_tessaform_path.h"
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

// Stored settings are taken only when they are exactly a settings record.
static void rectify_settings_recall(rectify_settings *settings) {
  if (gimp_get_data_size(RECTIFY_PROCEDURE_NAME) !=
      static_cast<gint>(sizeof *settings))
    return;
  rectify_settings stored;
  if (gimp_get_data(RECTIFY_PROCEDURE_NAME, &stored)) *settings = stored;
}

// The estimate from the path's four anchors over the drawable (the
// photograph); false, with the reason logged, when there is none.
static bool estimate_from_path(gint32 image, gint32 drawable, gint32 path,
                               rectify_estimate *e) {
  path_shape shape;
  path_shape_read(&shape, image, path);
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
  GeglRectangle photo = {0, 0, 1, 1};
  if (gimp_item_is_valid(drawable) && gimp_item_is_drawable(drawable)) {
    gimp_drawable_offsets(drawable, &photo.x, &photo.y);
    photo.width = gimp_drawable_width(drawable);
    photo.height = gimp_drawable_height(drawable);
  }
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
  static GimpParam values[2];
  *nreturn_vals = 2;
  *return_vals = values;
  values[0].type = GIMP_PDB_STATUS;
  values[0].data.d_status = GIMP_PDB_CALLING_ERROR;
  values[1].type = GIMP_PDB_INT32;
  values[1].data.d_int32 = -1;

  const gint32 run_mode = nparams >= 1 && param ? param[0].data.d_int32 : -1;
  const bool enough = run_mode == GIMP_RUN_NONINTERACTIVE ? nparams == 8
                                                          : nparams >= 3;
  if (!param || !enough || run_mode < GIMP_RUN_INTERACTIVE ||
      run_mode > GIMP_RUN_WITH_LAST_VALS) {
    char text[128];
    g_snprintf(text, sizeof text,
               "Wrong Number of Parameters - there are %d - need 8", nparams);
    log_message(run_mode >= GIMP_RUN_INTERACTIVE &&
                        run_mode <= GIMP_RUN_WITH_LAST_VALS
                    ? text
                    : "Wrong run-mode");
    return;
  }
  const gint32 image = param[1].data.d_image;
  const gint32 drawable = param[2].data.d_drawable;

  // Cubic and anti-aliasing by default: rectifying magnifies the far side
  // of a photograph and usually shrinks the near one.
  rectify_settings settings = {2, 1, 1};
  gint32 path = -1, width = 0, height = 0;
  if (run_mode == GIMP_RUN_NONINTERACTIVE) {
    path = param[3].data.d_vectors;
    width = param[4].data.d_int32;
    height = param[5].data.d_int32;
    settings.interpolation = param[6].data.d_int32;
    settings.anti_aliasing = param[7].data.d_int32 != 0;
  } else {
    rectify_settings_recall(&settings);
    // Filters > Re-Apply passes no path: it then takes the active one.
    if (run_mode == GIMP_RUN_WITH_LAST_VALS && nparams >= 4)
      path = param[3].data.d_vectors;
    if (run_mode == GIMP_RUN_INTERACTIVE || !path_of_image(image, path))
      path = gimp_image_get_active_vectors(image);
  }
  if (width < 0 || height < 0) {
    log_message("width and height must be 0 (the estimate) or positive");
    return;
  }

  rectify_estimate e;
  if (!estimate_from_path(image, drawable, path, &e)) return;
  int32_t w = 0, h = 0;
  rectify_size(&e, e.aspect, width, height, &w, &h);

  if (run_mode == GIMP_RUN_INTERACTIVE) {
    char estimate[512];
    rectify_describe(&e, estimate, sizeof estimate);
    const rectify_dialog_facts facts = {estimate, e.aspect, w, h};
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
  values[0].data.d_status =
      plugin_render(image, drawable, &settings_vals, &layer, &placement);
  values[1].data.d_int32 = layer;
  if (values[0].data.d_status == GIMP_PDB_SUCCESS)
    gimp_set_data(RECTIFY_PROCEDURE_NAME, &settings, sizeof settings);
  gegl_exit();
}
