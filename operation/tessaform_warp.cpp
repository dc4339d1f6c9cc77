// tessaform:warp, the warp as a GEGL filter operation: GIMP runs it in its
// own process (Tools -> GEGL Operation, with an on-canvas preview; GIMP 3's
// filters), and so does GEGL's `gegl` command.
#define GETTEXT_PACKAGE "tessaform"
#include <glib/gi18n-lib.h>

#ifdef GEGL_PROPERTIES

enum_start (tessaform_warp_interpolation)
  enum_value (TESSAFORM_WARP_NEAREST, "nearest", N_("Nearest"))
  enum_value (TESSAFORM_WARP_BILINEAR, "bilinear", N_("Bilinear"))
  enum_value (TESSAFORM_WARP_CUBIC, "cubic", N_("Cubic"))
  enum_value (TESSAFORM_WARP_LANCZOS, "lanczos", N_("Lanczos"))
enum_end (TessaformWarpInterpolation)

enum_start (tessaform_warp_mapping)
  enum_value (TESSAFORM_WARP_MAP_BILINEAR, "bilinear", N_("Bilinear"))
  enum_value (TESSAFORM_WARP_MAP_PERSPECTIVE, "perspective", N_("Perspective"))
enum_end (TessaformWarpMapping)

// A pixel-coordinate pair: GIMP shows two spin buttons, a chain and a
// button that picks the point on the canvas. `extra`: more ui_meta.
#define corner(x, y, label_x, label_y, blurb, extra)                 \
  property_double (x, label_x, 0.0)                                  \
    description (blurb)                                              \
    value_range (-8388608.0, 8388608.0)                              \
    ui_range (0.0, 4096.0)                                           \
    ui_meta ("unit", "pixel-coordinate")                             \
    ui_meta ("axis", "x")                                            \
    extra                                                            \
  property_double (y, label_y, 0.0)                                  \
    description (blurb)                                              \
    value_range (-8388608.0, 8388608.0)                              \
    ui_range (0.0, 4096.0)                                           \
    ui_meta ("unit", "pixel-coordinate")                             \
    ui_meta ("axis", "y")                                            \
    extra

corner (dx0, dy0, _("Top-left X"), _("Top-left Y"),
        _("Where the source's corner 0 (the top-left corner of the whole "
          "layer) lands"), )
corner (dx1, dy1, _("Top-right X"), _("Top-right Y"),
        _("Where the source's corner 1 (top right) lands"), )
corner (dx2, dy2, _("Bottom-right X"), _("Bottom-right Y"),
        _("Where the source's corner 2 (bottom right) lands"), )
corner (dx3, dy3, _("Bottom-left X"), _("Bottom-left Y"),
        _("Where the source's corner 3 (bottom left) lands"), )

property_enum (interpolation, _("Interpolation"),
               TessaformWarpInterpolation, tessaform_warp_interpolation,
               TESSAFORM_WARP_CUBIC)
  description (_("How the source is sampled"))

property_enum (mapping, _("Mapping"),
               TessaformWarpMapping, tessaform_warp_mapping,
               TESSAFORM_WARP_MAP_BILINEAR)
  description (_("Bilinear spaces the layer evenly between the corners; "
                 "perspective keeps straight lines straight, as a camera "
                 "sees a flat thing (the quadrangles must be convex)"))

property_boolean (anti_aliasing, _("Anti-aliasing"), FALSE)
  description (_("Average the source over each pixel's footprint where "
                 "the warp shrinks it"))

property_boolean (whole_layer, _("Whole layer"), TRUE)
  description (_("Warp the whole input; off: only the source quadrangle "
                 "below"))

// Greyed out while the whole layer is the source.
#define source_only ui_meta ("sensitive", "! whole-layer")

corner (sx0, sy0, _("Source corner 0 X"), _("Source corner 0 Y"),
        _("Corner 0 of the source quadrangle, carried to the top-left "
          "corner"), source_only)
corner (sx1, sy1, _("Source corner 1 X"), _("Source corner 1 Y"),
        _("Corner 1 of the source quadrangle, carried to the top-right "
          "corner"), source_only)
corner (sx2, sy2, _("Source corner 2 X"), _("Source corner 2 Y"),
        _("Corner 2 of the source quadrangle, carried to the bottom-right "
          "corner"), source_only)
corner (sx3, sy3, _("Source corner 3 X"), _("Source corner 3 Y"),
        _("Corner 3 of the source quadrangle, carried to the bottom-left "
          "corner"), source_only)
#undef source_only
#undef corner

#else

#define GEGL_OP_FILTER
#define GEGL_OP_NAME tessaform_warp
#define GEGL_OP_C_SOURCE tessaform_warp.cpp

#include "gegl-op.h"

#include "gegl_ref.h"
#include "op_settings.h"

static op_settings settings_of(GeglOperation *operation) {
  const GeglProperties *o = GEGL_PROPERTIES(operation);
  return op_settings{{o->dx0, o->dy0, o->dx1, o->dy1,
                      o->dx2, o->dy2, o->dx3, o->dy3},
                     o->whole_layer != FALSE,
                     {o->sx0, o->sy0, o->sx1, o->sy1,
                      o->sx2, o->sy2, o->sx3, o->sy3},
                     static_cast<int32_t>(o->interpolation),
                     o->anti_aliasing != FALSE,
                     static_cast<int32_t>(o->mapping)};
}

// The engine's settings and the input's extent; false when there is no
// input or the settings are refused: the output is then empty.
static bool warp_of(GeglOperation *operation, warp_vals *vals,
                    GeglRectangle *extent) {
  const GeglRectangle *in =
      gegl_operation_source_get_bounding_box(operation, "input");
  if (!in || in->width <= 0 || in->height <= 0) return false;
  *extent = *in;
  *vals = op_settings_vals(settings_of(operation), *extent);
  return warp_vals_check(vals) == nullptr;
}

static void prepare(GeglOperation *operation) {
  const Babl *format = op_working_format(
      gegl_operation_get_source_format(operation, "input"));
  gegl_operation_set_format(operation, "input", format);
  gegl_operation_set_format(operation, "output", format);
}

// What `survey` gives for the warp over the input; empty without one.
template <typename F>
static GeglRectangle surveyed(GeglOperation *operation, F survey) {
  warp_vals vals;
  GeglRectangle extent;
  if (!warp_of(operation, &vals, &extent)) return GeglRectangle{0, 0, 0, 0};
  return survey(vals, extent);
}

static GeglRectangle get_bounding_box(GeglOperation *operation) {
  return surveyed(operation, [](const warp_vals &vals, const GeglRectangle &) {
    return warp_destination_box(&vals);
  });
}

static GeglRectangle get_required_for_output(GeglOperation *operation,
                                             const gchar *,
                                             const GeglRectangle *roi) {
  return surveyed(operation, [&](const warp_vals &vals,
                                 const GeglRectangle &extent) {
    return warp_source_reach(&vals, &extent, roi);
  });
}

static GeglRectangle get_invalidated_by_change(GeglOperation *operation,
                                               const gchar *,
                                               const GeglRectangle *region) {
  return surveyed(operation, [&](const warp_vals &vals,
                                 const GeglRectangle &extent) {
    return warp_invalidated_by(&vals, &extent, region);
  });
}

static gboolean process(GeglOperation *operation, GeglBuffer *input,
                        GeglBuffer *output, const GeglRectangle *result,
                        gint) {
  warp_vals vals;
  GeglRectangle extent;
  if (!input || !warp_of(operation, &vals, &extent)) {
    gegl_buffer_clear(output, result);
    return TRUE;
  }
  try {
    // GEGL hands the input over in its own format; the engine samples in
    // the format the buffer has, so the part read is converted first where
    // they differ (an input without alpha, or premultiplied).
    const Babl *working = gegl_operation_get_format(operation, "output");
    gegl_ref<GeglBuffer> read(GEGL_BUFFER(g_object_ref(input)));
    if (gegl_buffer_get_format(input) != working) {
      const GeglRectangle need = warp_source_reach(&vals, &extent, result);
      read.reset(gegl_buffer_new(&need, working));
      gegl_buffer_copy(input, &need, GEGL_ABYSS_NONE, read.get(), &need);
    }
    // The engine reads the source from its extent's corner.
    gegl_ref<GeglBuffer> source(GEGL_BUFFER(g_object_ref(read.get())));
    if (extent.x != 0 || extent.y != 0)
      source.reset(GEGL_BUFFER(g_object_new(GEGL_TYPE_BUFFER, "source",
                                            read.get(), "shift-x", extent.x,
                                            "shift-y", extent.y, nullptr)));
    const warp_target target = {output, 0, 0, *result};
    // GEGL's own threads render rectangles side by side: one each.
    const warp_render_options options = {0, 1};
    return tessaform_warp_target(source.get(), &extent, &target, &vals,
                                 &options, nullptr, nullptr) == WARP_SUCCESS;
  } catch (...) {
    return FALSE;
  }
}

static void gegl_op_class_init(GeglOpClass *klass) {
  GeglOperationClass *operation_class = GEGL_OPERATION_CLASS(klass);
  GeglOperationFilterClass *filter_class = GEGL_OPERATION_FILTER_CLASS(klass);

  operation_class->prepare = prepare;
  operation_class->get_bounding_box = get_bounding_box;
  operation_class->get_required_for_output = get_required_for_output;
  operation_class->get_invalidated_by_change = get_invalidated_by_change;
  operation_class->threaded = TRUE;
  filter_class->process = process;

  gegl_operation_class_set_keys(
      operation_class,
      "name", "tessaform:warp",
      "title", _("Quadrangle Warp"),
      "categories", "distort",
      // GIMP gives a layer without alpha one, so that the area around the
      // quadrangle can be transparent.
      "needs-alpha", "true",
      "description",
      _("Carries the layer (or a source quadrangle of it) onto the "
        "quadrangle of the four corners by a bilinear or a perspective map "
        "(Mapping): the layer's top-left corner (source corner 0) lands on "
        "Top-left, and so on around. Its edges stay straight. "
        "Coordinates are the layer's pixels; the pick buttons take them "
        "from the canvas. While all eight corner coordinates are 0, the "
        "corners lie on a tilted page inside the layer. Around the "
        "quadrangle the result is transparent; Clipping: Adjust grows the "
        "layer to the whole result."),
      nullptr);
}

#endif
