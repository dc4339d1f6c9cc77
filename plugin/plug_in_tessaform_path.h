// plug_in_tessaform_path: the warp for people, from GIMP's menus, onto a
// quadrangle drawn as a path.
#pragma once

#include "gimp_host.h"

extern const char PATH_PROCEDURE_NAME[];

// What the dialog asks and last-values mode repeats; stored with
// gimp_set_data under the procedure's name.
struct path_settings {
  gint32 interpolation;
  gint32 anti_aliasing;
  gint32 mapping;  // the dialog's; calls from scripts keep bilinear
};

void path_procedure_query();
void path_procedure_run(gint nparams, const GimpParam *param,
                        gint *nreturn_vals, GimpParam **return_vals);

enum path_dialog_answer {
  PATH_DIALOG_OK,
  PATH_DIALOG_CANCEL,
  PATH_DIALOG_NO_DISPLAY,  // no screen to show it on (a headless GIMP)
};
// Starts GIMP's widgets and shows the dialog. Defined by the dialog's own
// file.
path_dialog_answer path_dialog_run(path_settings *settings, bool whole_layer);
