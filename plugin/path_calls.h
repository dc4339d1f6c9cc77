// What the procedures that read a path (the path warp, rectification) share:
// checking a call, the path and drawable box it reads, remembered settings.
#pragma once

#include <cstddef>

#include "gimp_host.h"
#include "path_shape.h"

struct path_call {
  gint32 run_mode;
  gint32 image;
  gint32 drawable;
  gint32 path;
};

// The call's two answers, status first: a calling error and no layer (-1)
// until the run says otherwise.
GimpParam *path_call_answer(gint *nreturn_vals, GimpParam **return_vals);
// Checks the run mode and the parameter count (`needed` for a script's call)
// and reads the image, the drawable and the path to use: a script's own;
// interactively the image's active path; with last values the one given
// when it is the image's (Filters > Re-Apply gives none), else the active
// one. False, after logging why, for a call that cannot be read.
bool path_call_read(gint nparams, const GimpParam *param, gint needed,
                    path_call *call);
// The anchors of the call's path; no path when it is not the image's.
void path_call_shape(const path_call &call, path_shape *shape);
// The drawable's pixels in image coordinates; empty for a drawable GIMP does
// not know (the render's checks refuse it, GIMP is not asked before).
GeglRectangle path_call_drawable_box(gint32 drawable);
// `procedure`'s remembered settings into `settings`, taken only when they
// are exactly `size` bytes.
void path_call_recall(const char *procedure, void *settings, size_t size);
