// The GIMP 2.10 host around the engine: the new layer, its name, type and
// place, the undo group, progress display and display flush.
#pragma once

#include <libgimp/gimp.h>

#include "tessaform.h"

enum { WARP_LABEL_SIZE = 104, WARP_ERROR_SIZE = 256 };

// New layers not yet in their image, by the process that made them, kept in
// GIMP (gimp_set_data) for as long as GIMP runs: a plug-in killed or
// cancelled mid-render cannot delete its layer, so a later call does.
constexpr char UNPLACED_LAYERS_DATA[] = "plug-in-tessaform-unplaced-layers";
enum { UNPLACED_LAYERS_MAX = 16 };
struct unplaced_layer {
  gint32 pid;    // 0: a free entry
  gint32 layer;
};
struct unplaced_layers {
  unplaced_layer entries[UNPLACED_LAYERS_MAX];
};
// Deletes the recorded layers whose process has ended and which never
// entered an image.
void unplaced_layers_sweep();

// The drawable's extent in image coordinates.
bounds get_drawable_bounds(gint32 drawable);
gint32 new_layer(gint32 image, gint32 drawable, int32_t width, int32_t height);
// Builds the progress label: the caller's text, cut to fit, then " ...".
void warp_label(char *out, size_t size, const char *progress_name);
[[noreturn]] void error(const char *message);

// Warps `drawable` into a new layer placed directly above it; `layer`
// receives its ID, or -1.
GimpPDBStatusType tessaform(gint32 image, gint32 drawable,
                            const warp_vals *vals, gint32 *layer);
GimpPDBStatusType tessaform_render(gint32 image, gint32 drawable,
                                   const warp_vals *vals, gint32 *layer,
                                   const warp_render_options *options);

// What a new layer holds and where it goes: `area` of the destination (in
// the warp's image coordinates) rendered, the layer's corner at (x, y).
struct layer_placement {
  GeglRectangle area;
  gint x;
  gint y;
};
// tessaform_render for a layer of `placement`'s area; null: the
// destination's box, where it lies.
GimpPDBStatusType tessaform_render_placed(gint32 image, gint32 drawable,
                                          const warp_vals *vals,
                                          const layer_placement *placement,
                                          gint32 *layer,
                                          const warp_render_options *options);
