// The dialog of plug_in_tessaform_rectify: the estimate, the size (its
// ratio locked by a chain or free), interpolation and anti-aliasing.
#include "plug_in_tessaform_rectify.h"

#include <algorithm>
#include <cmath>

#include <libgimp/gimpui.h>

namespace {

struct size_fields {
  GtkAdjustment *width;
  GtkAdjustment *height;
  GtkWidget *chain;
  double ratio;  // width / height while the chain is locked
  bool updating;
  const rectify_dialog_facts *facts;
};

double side(double v) { return std::clamp(std::round(v), 1.0, double(WARP_MAX_SIDE)); }

// One side edited: with the chain locked the other follows the ratio.
void follow(size_fields *s, bool width_edited) {
  if (s->updating ||
      !gimp_chain_button_get_active(GIMP_CHAIN_BUTTON(s->chain)))
    return;
  s->updating = true;
  if (width_edited)
    gtk_adjustment_set_value(s->height,
                             side(gtk_adjustment_get_value(s->width) / s->ratio));
  else
    gtk_adjustment_set_value(s->width,
                             side(gtk_adjustment_get_value(s->height) * s->ratio));
  s->updating = false;
}

void width_changed(GtkAdjustment *, gpointer data) {
  follow(static_cast<size_fields *>(data), true);
}
void height_changed(GtkAdjustment *, gpointer data) {
  follow(static_cast<size_fields *>(data), false);
}

// Locking keeps the ratio the sides have at that moment.
void chain_toggled(GimpChainButton *chain, gpointer data) {
  auto *s = static_cast<size_fields *>(data);
  if (gimp_chain_button_get_active(chain))
    s->ratio = gtk_adjustment_get_value(s->width) /
               gtk_adjustment_get_value(s->height);
}

void estimate_clicked(GtkButton *, gpointer data) {
  auto *s = static_cast<size_fields *>(data);
  s->updating = true;
  gtk_adjustment_set_value(s->width, s->facts->width);
  gtk_adjustment_set_value(s->height, s->facts->height);
  s->updating = false;
  gimp_chain_button_set_active(GIMP_CHAIN_BUTTON(s->chain), TRUE);
  s->ratio = s->facts->aspect;
}

GtkWidget *labelled(GtkWidget *table, int row, const char *mnemonic,
                    GtkWidget *widget) {
  GtkWidget *label = gtk_label_new_with_mnemonic(mnemonic);
  gtk_misc_set_alignment(GTK_MISC(label), 0.0, 0.5);
  gtk_label_set_mnemonic_widget(GTK_LABEL(label), widget);
  gtk_table_attach(GTK_TABLE(table), label, 0, 1, row, row + 1, GTK_FILL,
                   GTK_FILL, 0, 0);
  gtk_table_attach(GTK_TABLE(table), widget, 1, 2, row, row + 1,
                   GtkAttachOptions(GTK_EXPAND | GTK_FILL), GTK_FILL, 0, 0);
  return widget;
}

}  // namespace

bool rectify_dialog_run(rectify_settings *settings,
                        const rectify_dialog_facts &facts, int32_t *width,
                        int32_t *height) {
  gimp_ui_init("tessaform", FALSE);
  GtkWidget *dialog = gimp_dialog_new(
      "Rectify from Path", "tessaform-rectify", nullptr, GtkDialogFlags(0),
      gimp_standard_help_func, "plug-in-tessaform-rectify", "_Cancel",
      GTK_RESPONSE_CANCEL, "_OK", GTK_RESPONSE_OK, nullptr);
  gtk_dialog_set_alternative_button_order(GTK_DIALOG(dialog), GTK_RESPONSE_OK,
                                           GTK_RESPONSE_CANCEL, -1);
  gimp_window_set_transient(GTK_WINDOW(dialog));

  GtkWidget *box = gtk_vbox_new(FALSE, 12);
  gtk_container_set_border_width(GTK_CONTAINER(box), 12);
  gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(dialog))),
                     box, TRUE, TRUE, 0);

  gchar *said = g_strdup_printf("Estimated %s.", facts.estimate);
  GtkWidget *estimate = gtk_label_new(said);
  g_free(said);
  gtk_label_set_line_wrap(GTK_LABEL(estimate), TRUE);
  gtk_widget_set_size_request(estimate, 360, -1);
  gtk_misc_set_alignment(GTK_MISC(estimate), 0.0, 0.5);
  gtk_box_pack_start(GTK_BOX(box), estimate, FALSE, FALSE, 0);

  // Width and height, and the chain that locks their ratio.
  size_fields size = {};
  size.facts = &facts;
  // The estimate's own ratio, as a script's call with one side gets it.
  size.ratio = facts.aspect;
  GtkWidget *sizes = gtk_table_new(2, 4, FALSE);
  gtk_table_set_col_spacings(GTK_TABLE(sizes), 6);
  gtk_table_set_row_spacings(GTK_TABLE(sizes), 4);
  gtk_box_pack_start(GTK_BOX(box), sizes, FALSE, FALSE, 0);
  size.width = GTK_ADJUSTMENT(
      gtk_adjustment_new(*width, 1, WARP_MAX_SIDE, 1, 10, 0));
  size.height = GTK_ADJUSTMENT(
      gtk_adjustment_new(*height, 1, WARP_MAX_SIDE, 1, 10, 0));
  labelled(sizes, 0, "_Width:", gimp_spin_button_new(size.width, 1, 0));
  labelled(sizes, 1, "_Height:", gimp_spin_button_new(size.height, 1, 0));
  for (int row = 0; row < 2; ++row)
    gtk_table_attach(GTK_TABLE(sizes), gtk_label_new("px"), 2, 3, row,
                     row + 1, GTK_FILL, GTK_FILL, 0, 0);
  size.chain = gimp_chain_button_new(GIMP_CHAIN_RIGHT);
  gimp_chain_button_set_active(GIMP_CHAIN_BUTTON(size.chain),
                               settings->ratio_locked != 0);
  gtk_table_attach(GTK_TABLE(sizes), size.chain, 3, 4, 0, 2, GTK_FILL,
                   GTK_FILL, 0, 0);
  g_signal_connect(size.width, "value-changed", G_CALLBACK(width_changed), &size);
  g_signal_connect(size.height, "value-changed", G_CALLBACK(height_changed), &size);
  g_signal_connect(size.chain, "toggled", G_CALLBACK(chain_toggled), &size);
  GtkWidget *again = gtk_button_new_with_mnemonic("_Estimated size");
  g_signal_connect(again, "clicked", G_CALLBACK(estimate_clicked), &size);
  GtkWidget *again_row = gtk_hbox_new(FALSE, 0);
  gtk_box_pack_start(GTK_BOX(again_row), again, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(box), again_row, FALSE, FALSE, 0);

  GtkWidget *options = gtk_table_new(1, 2, FALSE);
  gtk_table_set_col_spacings(GTK_TABLE(options), 6);
  gtk_box_pack_start(GTK_BOX(box), options, FALSE, FALSE, 0);
  GtkWidget *combo = gimp_int_combo_box_new(
      "Nearest neighbour", 0, "Bilinear", 1, "Cubic", 2, "Lanczos", 3, nullptr);
  gimp_int_combo_box_set_active(GIMP_INT_COMBO_BOX(combo),
                                settings->interpolation);
  labelled(options, 0, "_Interpolation:", combo);

  GtkWidget *aa = gtk_check_button_new_with_mnemonic("_Anti-aliasing");
  gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(aa),
                               settings->anti_aliasing != 0);
  gtk_box_pack_start(GTK_BOX(box), aa, FALSE, FALSE, 0);

  // Return confirms straight away, as in GIMP's own filter dialogs.
  gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
  gtk_widget_show_all(dialog);
  gtk_widget_grab_focus(
      gtk_dialog_get_widget_for_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK));

  const bool ok = gimp_dialog_run(GIMP_DIALOG(dialog)) == GTK_RESPONSE_OK;
  if (ok) {
    *width = int32_t(gtk_adjustment_get_value(size.width));
    *height = int32_t(gtk_adjustment_get_value(size.height));
    gint interpolation = settings->interpolation;
    gimp_int_combo_box_get_active(GIMP_INT_COMBO_BOX(combo), &interpolation);
    settings->interpolation = interpolation;
    settings->anti_aliasing =
        gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(aa)) ? 1 : 0;
    settings->ratio_locked =
        gimp_chain_button_get_active(GIMP_CHAIN_BUTTON(size.chain)) ? 1 : 0;
  }
  gtk_widget_destroy(dialog);
  return ok;
}
