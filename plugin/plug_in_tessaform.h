// The plug-in shell: registration and the run callback.
#pragma once

#include "gimp_host.h"

extern const GimpPlugInInfo PLUG_IN_INFO;
extern warp_vals vals;

void query();
void run(const gchar *name, gint nparams, const GimpParam *param,
         gint *nreturn_vals, GimpParam **return_vals);
