// The GIMP 2.10 host: everything the warp needs from GIMP, around one call
// of the engine.
#include "gimp_host.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "gegl_ref.h"

bounds get_drawable_bounds(gint32 drawable) {
  bounds b{};
  gint ox = 0, oy = 0;
  gimp_drawable_offsets(drawable, &ox, &oy);
  b.x0 = ox;
  b.y0 = oy;
  b.x1 = ox + gimp_drawable_width(drawable);
  b.y1 = oy + gimp_drawable_height(drawable);
  return b;
}

gint32 new_layer(gint32 image, gint32 drawable, int32_t width,
                 int32_t height) {
  GimpImageType type = gimp_drawable_type(drawable);
  gchar *name = gimp_item_get_name(drawable);
  gchar *layer_name = g_strconcat(name ? name : "", "__", nullptr);
  gint32 layer = gimp_layer_new(image, layer_name, width, height, type, 100.0,
                                GIMP_LAYER_MODE_NORMAL_LEGACY);
  g_free(layer_name);
  g_free(name);
  return layer;
}

void warp_label(char *out, size_t size, const char *progress_name) {
  static const char suffix[] = " ...";
  const size_t room = size - sizeof suffix;  // the suffix and the terminator
  // GIMP refuses a progress text that is not UTF-8: bad bytes become U+FFFD.
  gchar *text = progress_name ? g_utf8_make_valid(progress_name, -1) : nullptr;
  size_t n = text ? std::strlen(text) : 0;
  if (n > room) {
    n = room;
    // Never leave half a UTF-8 character behind.
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  }
  if (n) std::memcpy(out, text, n);
  std::memcpy(out + n, suffix, sizeof suffix);
  g_free(text);
}

[[noreturn]] void error(const char *message) {
  char text[WARP_ERROR_SIZE];
  g_snprintf(text, sizeof text, "ERROR:\n%s", message);
  g_log(nullptr, G_LOG_LEVEL_MESSAGE, "%s", text);
  std::exit(-1);
}

static unplaced_layers unplaced_read() {
  unplaced_layers record{};
  if (gimp_get_data_size(UNPLACED_LAYERS_DATA) == gint(sizeof record))
    gimp_get_data(UNPLACED_LAYERS_DATA, &record);
  return record;
}

static void unplaced_write(const unplaced_layers &record) {
  gimp_set_data(UNPLACED_LAYERS_DATA, &record, sizeof record);
}

static bool process_ended(gint32 pid) {
  return kill(pid_t(pid), 0) != 0 && errno == ESRCH;
}

// In a group, or at the top of its image's stack.
static bool layer_placed(gint32 layer) {
  if (gimp_item_get_parent(layer) != -1) return true;
  const gint32 image = gimp_item_get_image(layer);
  if (image == -1 || !gimp_image_is_valid(image)) return false;
  gint n = 0;
  gint *layers = gimp_image_get_layers(image, &n);
  bool found = false;
  for (gint i = 0; i < n && !found; ++i) found = layers[i] == layer;
  g_free(layers);
  return found;
}

void unplaced_layers_sweep() {
  unplaced_layers record = unplaced_read();
  bool changed = false;
  for (unplaced_layer &e : record.entries) {
    if (e.pid == 0 || !process_ended(e.pid)) continue;
    if (gimp_item_is_valid(e.layer) && gimp_item_is_layer(e.layer) &&
        !layer_placed(e.layer))
      gimp_item_delete(e.layer);
    e = unplaced_layer{};
    changed = true;
  }
  if (changed) unplaced_write(record);
}

// Records `layer` as this process's unplaced layer, or with -1 forgets it.
// With every entry taken by live processes, the layer goes unrecorded.
static void unplaced_note(gint32 layer) {
  unplaced_layers record = unplaced_read();
  const gint32 self = gint32(getpid());
  unplaced_layer *slot = nullptr;
  for (unplaced_layer &e : record.entries)
    if (e.pid == self) slot = &e;
  for (unplaced_layer &e : record.entries)
    if (!slot && e.pid == 0) slot = &e;
  if (!slot) return;
  *slot = layer == -1 ? unplaced_layer{} : unplaced_layer{self, layer};
  unplaced_write(record);
}

// Puts a finished layer directly above the source in the source's own parent
// (never inside a group being read), at the box's corner.
static bool place_new_layer(gint32 image, gint32 drawable, gint32 layer,
                            const layer_placement &at) {
  const gint32 parent = gimp_item_get_parent(drawable);
  const gint position = gimp_image_get_item_position(image, drawable);
  if (!gimp_image_insert_layer(image, layer, parent, position)) return false;
  gimp_layer_set_offsets(layer, at.x, at.y);
  return true;
}

static void progress_to_gimp(double done, void *) {
  gimp_progress_update(done);
}

GimpPDBStatusType tessaform(gint32 image, gint32 drawable,
                            const warp_vals *vals, gint32 *layer) {
  return tessaform_render(image, drawable, vals, layer, nullptr);
}

GimpPDBStatusType tessaform_render(gint32 image, gint32 drawable,
                                   const warp_vals *vals, gint32 *layer,
                                   const warp_render_options *options) {
  return tessaform_render_placed(image, drawable, vals, nullptr, layer, options);
}

GimpPDBStatusType tessaform_render_placed(gint32 image, gint32 drawable,
                                          const warp_vals *vals,
                                          const layer_placement *placement,
                                          gint32 *layer,
                                          const warp_render_options *options) {
  *layer = -1;
  if (vals->interpolation < 0 || vals->interpolation > 3)
    error("unknown interpolation!");
  // Nothing is created for settings the engine would refuse.
  if (const char *refusal = warp_vals_check(vals)) {
    g_log(nullptr, G_LOG_LEVEL_MESSAGE, "%s", refusal);
    return GIMP_PDB_CALLING_ERROR;
  }

  char label[WARP_LABEL_SIZE];
  warp_label(label, sizeof label, vals->progress_name);
  const bounds extent = get_drawable_bounds(drawable);
  const GeglRectangle source_extent = {extent.x0, extent.y0,
                                       extent.x1 - extent.x0,
                                       extent.y1 - extent.y0};
  const GeglRectangle whole = warp_destination_box(vals);
  const layer_placement at =
      placement ? *placement : layer_placement{whole, whole.x, whole.y};
  const GeglRectangle &box = at.area;
  GimpPDBStatusType status = GIMP_PDB_SUCCESS;
  bool progress_shown = false;

  // The layer is rendered before it enters the image: a call that is
  // killed, cancelled or runs out of memory leaves the image as it was.
  unplaced_layers_sweep();
  const gint32 created = new_layer(image, drawable, box.width, box.height);
  if (created != -1) unplaced_note(created);
  {
    gegl_ref<GeglBuffer> source(gimp_drawable_get_buffer(drawable));
    // The destination is a new layer of our own: rendering straight into its
    // buffer keeps the result whole whatever selection the image has.
    gegl_ref<GeglBuffer> destination(
        created != -1 ? gimp_drawable_get_buffer(created) : nullptr);
    if (!source.get() || !destination.get()) {
      status = GIMP_PDB_EXECUTION_ERROR;
    } else {
      gimp_progress_init(label);
      progress_shown = true;
      const warp_target target = {destination.get(), box.x, box.y, box};
      const warp_status rendered =
          tessaform_warp_target(source.get(), &source_extent, &target, vals,
                                options, progress_to_gimp, nullptr);
      if (rendered == WARP_NO_MEMORY)
        g_log(nullptr, G_LOG_LEVEL_MESSAGE, "%s",
              "not enough memory to render the new layer");
      if (rendered != WARP_SUCCESS) status = GIMP_PDB_EXECUTION_ERROR;
    }
    // Both references go here, the destination's first, so the rendered
    // pixels reach GIMP before the layer enters the image.
  }
  // Inserting and placing the finished layer is the call's one undo step.
  gimp_image_undo_group_start(image);
  if (status == GIMP_PDB_SUCCESS &&
      !place_new_layer(image, drawable, created, at))
    status = GIMP_PDB_EXECUTION_ERROR;
  if (status == GIMP_PDB_SUCCESS) {
    gimp_drawable_update(created, 0, 0, box.width, box.height);
    *layer = created;
  } else {
    g_log(nullptr, G_LOG_LEVEL_MESSAGE, "%s", "could not create the new layer");
    if (created != -1) gimp_item_delete(created);
  }
  if (created != -1) unplaced_note(-1);
  if (progress_shown) gimp_progress_end();
  gimp_image_undo_group_end(image);

  gimp_displays_flush();
  return status;
}
