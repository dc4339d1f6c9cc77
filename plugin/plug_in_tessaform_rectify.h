// plug_in_tessaform_rectify: a photographed rectangle (a page, a whiteboard,
// a painting, a screen) flattened onto an upright rectangle of its true
// proportions, from a path on its four corners.
#pragma once

#include "gimp_host.h"

extern const char RECTIFY_PROCEDURE_NAME[];

// What the dialog asks and remembers, stored with gimp_set_data under the
// procedure's name; the size is estimated afresh for every photograph.
struct rectify_settings {
  gint32 interpolation;
  gint32 anti_aliasing;
  gint32 ratio_locked;  // width and height keep the ratio while edited
};

// What the dialog shows and starts from.
struct rectify_dialog_facts {
  const char *estimate;  // the ratio and what it rests on
  double aspect;         // width / height, estimated
  int32_t width;         // the size that gives
  int32_t height;
};

void rectify_procedure_query();
void rectify_procedure_run(gint nparams, const GimpParam *param,
                           gint *nreturn_vals, GimpParam **return_vals);

// Starts GIMP's widgets and shows the dialog; false when the person
// cancels. `width` and `height` receive the size chosen. Defined by the
// dialog's own file.
bool rectify_dialog_run(rectify_settings *settings,
                        const rectify_dialog_facts &facts, int32_t *width,
                        int32_t *height);
// Whether GIMP's display can be opened, asked before the dialog starts
// GIMP's widgets (which end the process without one).
bool dialog_display_available();
