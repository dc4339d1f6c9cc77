// Registration of plug_in_tessaform and the run callback that checks a call,
// fills the transform settings and answers with the status and the new layer.
#include "plug_in_tessaform.h"
#include "plug_in_tessaform_path.h"
#include "plug_in_tessaform_rectify.h"

#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>

warp_vals vals;

static const char PROCEDURE_NAME[] = "plug_in_tessaform";

// The benchmark builds a second plug-in that renders one pixel at a time, to
// measure the fast path against it in the same run.
#ifdef TESSAFORM_STRAIGHTFORWARD
static const warp_render_options render_options = {1, 1};
#else
static const warp_render_options render_options = {0, 0};
#endif

const GimpPlugInInfo PLUG_IN_INFO = {nullptr, nullptr, query, run};

#define PARAM(type, name, description) \
  { type, const_cast<gchar *>(name), const_cast<gchar *>(description) }

void query() {
  static const GimpParamDef args[] = {
      PARAM(GIMP_PDB_INT32, "run-mode", "Run mode"),
      PARAM(GIMP_PDB_IMAGE, "image", "Input image"),
      PARAM(GIMP_PDB_DRAWABLE, "drawable", "Input drawable"),
      PARAM(GIMP_PDB_STRING, "progress_name", "progress-name"),
      PARAM(GIMP_PDB_FLOAT, "sx0", "source coord. x0"),
      PARAM(GIMP_PDB_FLOAT, "sy0", "source coord. y0"),
      PARAM(GIMP_PDB_FLOAT, "sx1", "source coord. x1"),
      PARAM(GIMP_PDB_FLOAT, "sy1", "source coord. y1"),
      PARAM(GIMP_PDB_FLOAT, "sx2", "source coord. x2"),
      PARAM(GIMP_PDB_FLOAT, "sy2", "source coord. y2"),
      PARAM(GIMP_PDB_FLOAT, "sx3", "source coord. x3"),
      PARAM(GIMP_PDB_FLOAT, "sy3", "source coord. y3"),
      PARAM(GIMP_PDB_FLOAT, "dx0", "dest. coord. x0"),
      PARAM(GIMP_PDB_FLOAT, "dy0", "dest. coord. y0"),
      PARAM(GIMP_PDB_FLOAT, "dx1", "dest. coord. x1"),
      PARAM(GIMP_PDB_FLOAT, "dy1", "dest. coord. y1"),
      PARAM(GIMP_PDB_FLOAT, "dx2", "dest. coord. x2"),
      PARAM(GIMP_PDB_FLOAT, "dy2", "dest. coord. y2"),
      PARAM(GIMP_PDB_FLOAT, "dx3", "dest. coord. x3"),
      PARAM(GIMP_PDB_FLOAT, "dy3", "dest. coord. y3"),
      PARAM(GIMP_PDB_INT8, "interpolation", "interp.-index"),
      PARAM(GIMP_PDB_INT8, "pre_blur", "blur befor transf."),
      PARAM(GIMP_PDB_INT8, "anti_aliasing", "anti-aliasing"),
  };
  // GIMP heads every answer with the status itself: declaring it again
  // would make Script-Fu refuse every successful call.
  static const GimpParamDef layer_return_vals[] = {
      PARAM(GIMP_PDB_INT32, "new_layer", "new Layer ID"),
  };

  gimp_install_procedure(
      PROCEDURE_NAME, "Transform a Quadrangle bilinear",
      "Transform a Quadrangle bilinear to another Quadrangle",
      "Tessaform developers", "Tessaform developers", "2019",
      "_Tessaform...", "RGB*, GRAY*", GIMP_PLUGIN, G_N_ELEMENTS(args),
      G_N_ELEMENTS(layer_return_vals), args, layer_return_vals);
  path_procedure_query();
  rectify_procedure_query();
}

static void log_message(const char *text) {
  g_log(nullptr, G_LOG_LEVEL_MESSAGE, "%s", text);
}

// Values beyond float's range become infinities (refused later) rather than
// an undefined conversion.
static float narrow(gdouble d) {
  if (d > FLT_MAX) return HUGE_VALF;
  if (d < -FLT_MAX) return -HUGE_VALF;
  return static_cast<float>(d);
}

static void vals_from_params(const GimpParam *param) {
  vals.progress_name = param[3].data.d_string;
  float *const fields[16] = {&vals.sx0, &vals.sy0, &vals.sx1, &vals.sy1,
                             &vals.sx2, &vals.sy2, &vals.sx3, &vals.sy3,
                             &vals.dx0, &vals.dy0, &vals.dx1, &vals.dy1,
                             &vals.dx2, &vals.dy2, &vals.dx3, &vals.dy3};
  for (int i = 0; i < 16; ++i) *fields[i] = narrow(param[4 + i].data.d_float);
  vals.interpolation = param[20].data.d_int8;
  vals.pre_blur = param[21].data.d_int8;
  vals.anti_aliasing = param[22].data.d_int8;
}

// Stored data is taken only when it is exactly a settings record; the text
// pointer inside belongs to another process and is dropped.
static void vals_from_stored_data() {
  if (gimp_get_data_size(PROCEDURE_NAME) != static_cast<gint>(sizeof vals))
    return;
  warp_vals stored;
  if (gimp_get_data(PROCEDURE_NAME, &stored)) {
    vals = stored;
    vals.progress_name = nullptr;
  }
}

// Why the drawable cannot be rendered, or null.
static const char *drawable_check(gint32 image, gint32 drawable) {
  if (!gimp_image_is_valid(image) || !gimp_item_is_valid(drawable) ||
      !gimp_item_is_layer(drawable) || gimp_item_get_image(drawable) != image)
    return "the drawable must be a layer of the given image";
  if (gimp_drawable_is_indexed(drawable))
    return "indexed drawables are not supported: convert the image to RGB or "
           "grey first";
  // The new layer goes into the drawable's group; GIMP ends a plug-in that
  // writes into a group whose content is locked, at any level above it.
  for (gint32 group = gimp_item_get_parent(drawable); group != -1;
       group = gimp_item_get_parent(group))
    if (gimp_item_get_lock_content(group))
      return "the drawable is in a layer group whose content is locked (lock "
             "pixels): unlock the group first";
  return nullptr;
}

static void wrong_parameter_count(gint nparams) {
  char text[128];
  g_snprintf(text, sizeof text,
             "Wrong Number of Parameters - there are %d - need 23", nparams);
  log_message(text);
}

void plugin_gegl_start() {
  // Start-up cost, measured per call: babl's conversion cache takes about
  // 0.3 s to load and GEGL's operation modules about 0.25 s; this plug-in
  // uses neither, only buffers and babl's own conversions.
  // (POSIX setenv: GLib's warns once any thread exists, as in the tests.)
  setenv("BABL_INHIBIT_CACHE", "1", 0);
  setenv("GEGL_PATH", "/nonexistent/tessaform-needs-no-gegl-operations", 1);
  gegl_init(nullptr, nullptr);
  // GEGL's default cache would keep tiles of the source and the new layer
  // up to a large share of memory; finished bands are flushed to GIMP and
  // the source is read band by band, so a small cache is enough.
  g_object_set(gegl_config(), "tile-cache-size", guint64(64) << 20, nullptr);
}

GimpPDBStatusType plugin_render(gint32 image, gint32 drawable,
                                const warp_vals *settings, gint32 *layer,
                                const layer_placement *placement) {
  *layer = -1;
  const char *refusal = warp_vals_check(settings);
  if (!refusal) refusal = drawable_check(image, drawable);
  if (refusal) {
    log_message(refusal);
    return GIMP_PDB_CALLING_ERROR;
  }
  return tessaform_render_placed(image, drawable, settings, placement, layer,
                                 &render_options);
}

void run(const gchar *name, gint nparams, const GimpParam *param,
         gint *nreturn_vals, GimpParam **return_vals) {
  if (name && std::strcmp(name, PATH_PROCEDURE_NAME) == 0) {
    path_procedure_run(nparams, param, nreturn_vals, return_vals);
    return;
  }
  if (name && std::strcmp(name, RECTIFY_PROCEDURE_NAME) == 0) {
    rectify_procedure_run(nparams, param, nreturn_vals, return_vals);
    return;
  }
  static GimpParam values[2];
  GimpPDBStatusType status = GIMP_PDB_SUCCESS;

  // Every answer carries a layer ID: -1 unless a layer was made.
  *nreturn_vals = 2;
  *return_vals = values;
  values[0].type = GIMP_PDB_STATUS;
  values[0].data.d_status = status;
  values[1].type = GIMP_PDB_INT32;
  values[1].data.d_int32 = -1;

  // Run mode, image and drawable come first; a call without them cannot
  // even be dispatched.
  if (nparams < 3 || !param) {
    wrong_parameter_count(nparams);
    values[0].data.d_status = GIMP_PDB_CALLING_ERROR;
    return;
  }

  const gint32 run_mode = param[0].data.d_int32;
  const gint32 image = param[1].data.d_image;
  const gint32 drawable = param[2].data.d_drawable;

  if (run_mode == GIMP_RUN_NONINTERACTIVE) {
    if (nparams != 23) {
      wrong_parameter_count(nparams);
      status = GIMP_PDB_CALLING_ERROR;
    } else {
      vals_from_params(param);
    }
  } else if (run_mode == GIMP_RUN_INTERACTIVE) {
    log_message("run interactive . . .");
    vals_from_stored_data();
    status = GIMP_PDB_PASS_THROUGH;
  } else if (run_mode == GIMP_RUN_WITH_LAST_VALS) {
    log_message("run with last values . . .");
    vals_from_stored_data();
    status = GIMP_PDB_PASS_THROUGH;
  }

  plugin_gegl_start();

  if (status == GIMP_PDB_SUCCESS) {
    if (run_mode == GIMP_RUN_NONINTERACTIVE) {
      gint32 layer = -1;
      status = plugin_render(image, drawable, &vals, &layer);
      values[1].data.d_int32 = layer;
    } else {
      log_message("Wrong run-mode - need non-interactive");
      status = GIMP_PDB_PASS_THROUGH;
    }
  }

  values[0].data.d_status = status;
  gegl_exit();
}
