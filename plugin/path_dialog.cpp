// The dialog of plug_in_tessaform_path: interpolation, anti-aliasing, and
// which quadrangles the path gives.
#include "plug_in_tessaform_path.h"

#include <libgimp/gimpui.h>

// Whether GIMP's display can be opened: gimp_ui_init ends the process when
// it cannot, so GTK is asked first, by the call that only answers.
static bool display_available() {
  gchar *display = g_strdup_printf("--display=%s", gimp_display_name() ? gimp_display_name() : "");
  gchar *args[] = {const_cast<gchar *>("tessaform"), display, nullptr};
  int argc = gimp_display_name() ? 2 : 1;
  char **argv = args;
  const bool ok = gtk_init_check(&argc, &argv);
  g_free(display);
  return ok;
}

path_dialog_answer path_dialog_run(path_settings *settings, bool whole_layer) {
  if (!display_available()) return PATH_DIALOG_NO_DISPLAY;
  gimp_ui_init("tessaform", FALSE);
  GtkWidget *dialog = gimp_dialog_new(
      "Quadrangle Warp from Path", "tessaform-path", nullptr,
      GtkDialogFlags(0), gimp_standard_help_func, "plug-in-tessaform-path",
      "_Cancel", GTK_RESPONSE_CANCEL, "_OK", GTK_RESPONSE_OK, nullptr);
  gtk_dialog_set_alternative_button_order(GTK_DIALOG(dialog), GTK_RESPONSE_OK,
                                           GTK_RESPONSE_CANCEL, -1);
  gimp_window_set_transient(GTK_WINDOW(dialog));

  GtkWidget *box = gtk_vbox_new(FALSE, 12);
  gtk_container_set_border_width(GTK_CONTAINER(box), 12);
  gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(dialog))),
                     box, TRUE, TRUE, 0);

  GtkWidget *shape = gtk_label_new(whole_layer ? "whole layer → quadrangle"
                                               : "quadrangle → quadrangle");
  gtk_misc_set_alignment(GTK_MISC(shape), 0.0, 0.5);
  gtk_box_pack_start(GTK_BOX(box), shape, FALSE, FALSE, 0);

  GtkWidget *row = gtk_hbox_new(FALSE, 6);
  gtk_box_pack_start(GTK_BOX(box), row, FALSE, FALSE, 0);
  GtkWidget *label = gtk_label_new_with_mnemonic("_Interpolation:");
  gtk_box_pack_start(GTK_BOX(row), label, FALSE, FALSE, 0);
  GtkWidget *combo = gimp_int_combo_box_new(
      "Nearest neighbour", 0, "Bilinear", 1, "Cubic", 2, "Lanczos", 3, nullptr);
  gimp_int_combo_box_set_active(GIMP_INT_COMBO_BOX(combo),
                                settings->interpolation);
  gtk_label_set_mnemonic_widget(GTK_LABEL(label), combo);
  gtk_box_pack_start(GTK_BOX(row), combo, TRUE, TRUE, 0);

  GtkWidget *aa = gtk_check_button_new_with_mnemonic("_Anti-aliasing");
  gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(aa),
                               settings->anti_aliasing != 0);
  gtk_box_pack_start(GTK_BOX(box), aa, FALSE, FALSE, 0);

  // Return confirms straight away, as in GIMP's own filter dialogs; with the
  // combo box focused it would open its list instead.
  gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
  gtk_widget_show_all(dialog);
  gtk_widget_grab_focus(
      gtk_dialog_get_widget_for_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK));

  const bool ok = gimp_dialog_run(GIMP_DIALOG(dialog)) == GTK_RESPONSE_OK;
  if (ok) {
    gint interpolation = settings->interpolation;
    gimp_int_combo_box_get_active(GIMP_INT_COMBO_BOX(combo), &interpolation);
    settings->interpolation = interpolation;
    settings->anti_aliasing =
        gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(aa)) ? 1 : 0;
  }
  gtk_widget_destroy(dialog);
  return ok ? PATH_DIALOG_OK : PATH_DIALOG_CANCEL;
}
