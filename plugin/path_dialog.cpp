// The dialog of plug_in_tessaform_path: interpolation, mapping,
// anti-aliasing, and which quadrangles the path gives.
#include "dialog_parts.h"
#include "plug_in_tessaform_path.h"

path_dialog_answer path_dialog_run(path_settings *settings, bool whole_layer) {
  if (!dialog_display_available()) return PATH_DIALOG_NO_DISPLAY;
  GtkWidget *box = nullptr;
  GtkWidget *dialog = dialog_new("Quadrangle Warp from Path", "tessaform-path",
                                 "plug-in-tessaform-path", &box);

  GtkWidget *shape = gtk_label_new(whole_layer ? "whole layer → quadrangle"
                                               : "quadrangle → quadrangle");
  gtk_misc_set_alignment(GTK_MISC(shape), 0.0, 0.5);
  gtk_box_pack_start(GTK_BOX(box), shape, FALSE, FALSE, 0);

  GtkWidget *combo = dialog_row(box, "_Interpolation:",
                                dialog_interpolation(settings->interpolation));
  GtkWidget *mapping = gimp_int_combo_box_new(
      "Bilinear", WARP_BILINEAR, "Perspective (straight lines stay straight)",
      WARP_PERSPECTIVE, nullptr);
  gimp_int_combo_box_set_active(GIMP_INT_COMBO_BOX(mapping), settings->mapping);
  dialog_row(box, "_Mapping:", mapping);
  GtkWidget *aa = dialog_check(box, "_Anti-aliasing", settings->anti_aliasing);

  const bool ok = dialog_run(dialog);
  if (ok) {
    settings->interpolation = dialog_choice(combo, settings->interpolation);
    settings->mapping = dialog_choice(mapping, settings->mapping);
    settings->anti_aliasing = dialog_checked(aa) ? 1 : 0;
  }
  gtk_widget_destroy(dialog);
  return ok ? PATH_DIALOG_OK : PATH_DIALOG_CANCEL;
}
