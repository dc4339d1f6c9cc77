// The plug-in shell: registration and the run callback.
#pragma once

#include "gimp_host.h"

extern const GimpPlugInInfo PLUG_IN_INFO;
extern warp_vals vals;

void query();
void run(const gchar *name, gint nparams, const GimpParam *param,
         gint *nreturn_vals, GimpParam **return_vals);

// GEGL started as the renderer needs it: buffers and babl only.
void plugin_gegl_start();
// Checks the settings and the drawable, then renders into a new layer (over
// the destination's box, or as `placement` says); a refusal is logged and
// answered with a calling error.
GimpPDBStatusType plugin_render(gint32 image, gint32 drawable,
                                const warp_vals *settings, gint32 *layer,
                                const layer_placement *placement = nullptr);
