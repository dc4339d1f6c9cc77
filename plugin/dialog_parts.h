// What the plug-in's dialogs share: the window with its Help, Cancel and OK
// buttons round a column of rows, labelled choices, and running it.
#pragma once

#include <libgimp/gimp.h>
#include <libgimp/gimpui.h>

// Whether GIMP's display can be opened: gimp_ui_init ends the process when
// it cannot, so a dialog asks this first.
bool dialog_display_available();
// Starts GIMP's widgets and makes the dialog; `box` receives the column its
// rows go into.
GtkWidget *dialog_new(const char *title, const char *role, const char *help_id,
                      GtkWidget **box);
// A row of the column: the mnemonic label, then `widget` taking the rest.
GtkWidget *dialog_row(GtkWidget *box, const char *mnemonic, GtkWidget *widget);
// The choice of kernel, 0 nearest to 3 Lanczos, at `active`.
GtkWidget *dialog_interpolation(gint32 active);
// A combo box's choice, or `otherwise` when it has none.
gint32 dialog_choice(GtkWidget *combo, gint32 otherwise);
GtkWidget *dialog_check(GtkWidget *box, const char *mnemonic, gint32 active);
bool dialog_checked(GtkWidget *check);
// Shows the dialog and waits; true for OK. The dialog is destroyed by the
// caller once it has read the answers.
bool dialog_run(GtkWidget *dialog);
