#include "dialog_parts.h"

bool dialog_display_available() {
  // GTK is asked by the call that only answers.
  const gchar *name = gimp_display_name();
  gchar *display = g_strdup_printf("--display=%s", name ? name : "");
  gchar *args[] = {const_cast<gchar *>("tessaform"), display, nullptr};
  int argc = name ? 2 : 1;
  char **argv = args;
  const bool ok = gtk_init_check(&argc, &argv);
  g_free(display);
  return ok;
}

GtkWidget *dialog_new(const char *title, const char *role, const char *help_id,
                      GtkWidget **box) {
  gimp_ui_init("tessaform", FALSE);
  GtkWidget *dialog = gimp_dialog_new(
      title, role, nullptr, GtkDialogFlags(0), gimp_standard_help_func,
      help_id, "_Cancel", GTK_RESPONSE_CANCEL, "_OK", GTK_RESPONSE_OK, nullptr);
  gtk_dialog_set_alternative_button_order(GTK_DIALOG(dialog), GTK_RESPONSE_OK,
                                           GTK_RESPONSE_CANCEL, -1);
  gimp_window_set_transient(GTK_WINDOW(dialog));
  *box = gtk_vbox_new(FALSE, 12);
  gtk_container_set_border_width(GTK_CONTAINER(*box), 12);
  gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(dialog))),
                     *box, TRUE, TRUE, 0);
  return dialog;
}

GtkWidget *dialog_row(GtkWidget *box, const char *mnemonic, GtkWidget *widget) {
  GtkWidget *row = gtk_hbox_new(FALSE, 6);
  gtk_box_pack_start(GTK_BOX(box), row, FALSE, FALSE, 0);
  GtkWidget *label = gtk_label_new_with_mnemonic(mnemonic);
  gtk_box_pack_start(GTK_BOX(row), label, FALSE, FALSE, 0);
  gtk_label_set_mnemonic_widget(GTK_LABEL(label), widget);
  gtk_box_pack_start(GTK_BOX(row), widget, TRUE, TRUE, 0);
  return widget;
}

GtkWidget *dialog_interpolation(gint32 active) {
  GtkWidget *combo = gimp_int_combo_box_new(
      "Nearest neighbour", 0, "Bilinear", 1, "Cubic", 2, "Lanczos", 3, nullptr);
  gimp_int_combo_box_set_active(GIMP_INT_COMBO_BOX(combo), active);
  return combo;
}

gint32 dialog_choice(GtkWidget *combo, gint32 otherwise) {
  gint chosen = otherwise;
  gimp_int_combo_box_get_active(GIMP_INT_COMBO_BOX(combo), &chosen);
  return chosen;
}

GtkWidget *dialog_check(GtkWidget *box, const char *mnemonic, gint32 active) {
  GtkWidget *check = gtk_check_button_new_with_mnemonic(mnemonic);
  gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(check), active != 0);
  gtk_box_pack_start(GTK_BOX(box), check, FALSE, FALSE, 0);
  return check;
}

bool dialog_checked(GtkWidget *check) {
  return gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(check));
}

bool dialog_run(GtkWidget *dialog) {
  // Return confirms straight away, as in GIMP's own filter dialogs; with a
  // combo box focused it would open its list instead.
  gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
  gtk_widget_show_all(dialog);
  gtk_widget_grab_focus(
      gtk_dialog_get_widget_for_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK));
  return gimp_dialog_run(GIMP_DIALOG(dialog)) == GTK_RESPONSE_OK;
}
