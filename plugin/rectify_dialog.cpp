// The dialog of plug_in_tessaform_rectify: the estimate, the size (its
// ratio locked by a chain or free), interpolation and anti-aliasing.
#include "plug_in_tessaform_rectify.h"

#include <algorithm>
#include <cmath>

#include "dialog_parts.h"

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

// A spin button's row of the size table.
GtkWidget *size_row(GtkWidget *table, int row, const char *mnemonic,
                    GtkAdjustment *side) {
  GtkWidget *spin = gimp_spin_button_new(side, 1, 0);
  GtkWidget *label = gtk_label_new_with_mnemonic(mnemonic);
  gtk_misc_set_alignment(GTK_MISC(label), 0.0, 0.5);
  gtk_label_set_mnemonic_widget(GTK_LABEL(label), spin);
  gtk_table_attach(GTK_TABLE(table), label, 0, 1, row, row + 1, GTK_FILL,
                   GTK_FILL, 0, 0);
  gtk_table_attach(GTK_TABLE(table), spin, 1, 2, row, row + 1,
                   GtkAttachOptions(GTK_EXPAND | GTK_FILL), GTK_FILL, 0, 0);
  gtk_table_attach(GTK_TABLE(table), gtk_label_new("px"), 2, 3, row, row + 1,
                   GTK_FILL, GTK_FILL, 0, 0);
  return spin;
}

}  // namespace

bool rectify_dialog_run(rectify_settings *settings,
                        const rectify_dialog_facts &facts, int32_t *width,
                        int32_t *height) {
  GtkWidget *box = nullptr;
  GtkWidget *dialog = dialog_new("Rectify from Path", "tessaform-rectify",
                                 "plug-in-tessaform-rectify", &box);

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
  size_row(sizes, 0, "_Width:", size.width);
  size_row(sizes, 1, "_Height:", size.height);
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

  GtkWidget *combo = dialog_row(box, "_Interpolation:",
                                dialog_interpolation(settings->interpolation));
  GtkWidget *aa = dialog_check(box, "_Anti-aliasing", settings->anti_aliasing);

  const bool ok = dialog_run(dialog);
  if (ok) {
    *width = int32_t(gtk_adjustment_get_value(size.width));
    *height = int32_t(gtk_adjustment_get_value(size.height));
    settings->interpolation = dialog_choice(combo, settings->interpolation);
    settings->anti_aliasing = dialog_checked(aa) ? 1 : 0;
    settings->ratio_locked =
        gimp_chain_button_get_active(GIMP_CHAIN_BUTTON(size.chain)) ? 1 : 0;
  }
  gtk_widget_destroy(dialog);
  return ok;
}
