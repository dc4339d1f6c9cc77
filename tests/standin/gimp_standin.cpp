// In-memory stand-in for libgimp: images, layers and groups with real GEGL
// buffers, and a record of every call a test wants to look at.
#include "gimp_standin.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>

namespace standin {

record calls;
bool fail_insert = false;
std::vector<unsigned char> stored_data;
bool has_stored_data = false;
std::vector<unsigned char> unplaced_data;

namespace {

std::map<gint32, item> all_items;
std::map<gint32, std::vector<gint32>> roots;  // image -> root layers
gint32 next_id = 1;

void log_to_record(const gchar *, GLogLevelFlags, const gchar *message,
                   gpointer) {
  calls.messages.emplace_back(message ? message : "");
}

// Every test binary starts GEGL once and logs into the record.
class environment : public ::testing::Environment {
 public:
  void SetUp() override {
    // As the plug-in does: loading babl's conversion cache costs about 2 s
    // per test process.
    setenv("BABL_INHIBIT_CACHE", "1", 0);
    gegl_init(nullptr, nullptr);
    g_log_set_default_handler(log_to_record, nullptr);
  }
  void TearDown() override {
    reset();
    gegl_exit();
  }
};

[[maybe_unused]] ::testing::Environment *const registered =
    ::testing::AddGlobalTestEnvironment(new environment);

std::vector<gint32> *siblings(const item &it) {
  if (it.parent == -1) return &roots[it.image];
  item *p = find(it.parent);
  return p ? &p->children : nullptr;
}

void detach(item &it) {
  if (!it.inserted) return;
  if (auto *list = siblings(it))
    list->erase(std::remove(list->begin(), list->end(), it.id), list->end());
  it.inserted = false;
}

void destroy(gint32 id) {
  item *it = find(id);
  if (!it) return;
  for (gint32 child : std::vector<gint32>(it->children)) destroy(child);
  detach(*it);
  if (it->buffer) g_object_unref(it->buffer);
  all_items.erase(id);
}

gint32 make_item(gint32 image, const char *name, GimpImageType type, gint w,
                 gint h, const Babl *format) {
  item it;
  it.id = next_id++;
  it.image = image;
  it.name = name;
  it.type = type;
  it.width = w;
  it.height = h;
  const GeglRectangle extent = {0, 0, w, h};
  it.buffer = gegl_buffer_new(&extent, format ? format : format_of(type));
  all_items[it.id] = it;
  return it.id;
}

void insert(item &it, gint32 parent, gint position) {
  it.parent = parent;
  auto *list = siblings(it);
  if (position < 0 || position > gint(list->size())) position = 0;
  list->insert(list->begin() + position, it.id);
  it.inserted = true;
}

}  // namespace

void reset() {
  for (gint32 id : items()) destroy(id);
  all_items.clear();
  roots.clear();
  calls = record();
  fail_insert = false;
  stored_data.clear();
  has_stored_data = false;
  unplaced_data.clear();
}

gint32 add_image() {
  gint32 id = next_id++;
  roots[id];
  return id;
}

gint32 add_layer(gint32 image, const char *name, GimpImageType type,
                 gint width, gint height, gint offset_x, gint offset_y,
                 gint32 parent, const Babl *format) {
  gint32 id = make_item(image, name, type, width, height, format);
  item &it = all_items[id];
  it.offset_x = offset_x;
  it.offset_y = offset_y;
  insert(it, parent, 0);
  return id;
}

gint32 add_group(gint32 image, const char *name, gint32 parent) {
  gint32 id = make_item(image, name, GIMP_RGBA_IMAGE, 1, 1, nullptr);
  item &it = all_items[id];
  it.is_group = true;
  insert(it, parent, 0);
  return id;
}

gint32 add_channel(gint32 image, const char *name, gint width, gint height) {
  gint32 id = make_item(image, name, GIMP_GRAY_IMAGE, width, height, nullptr);
  all_items[id].is_layer = false;
  return id;
}

item *find(gint32 id) {
  auto it = all_items.find(id);
  return it == all_items.end() ? nullptr : &it->second;
}

std::vector<gint32> layers(gint32 image, gint32 parent) {
  if (parent == -1) return roots[image];
  item *p = find(parent);
  return p ? p->children : std::vector<gint32>();
}

std::vector<gint32> items() {
  std::vector<gint32> ids;
  for (const auto &entry : standin::all_items) ids.push_back(entry.first);
  return ids;
}

int extra_refs(gint32 id) {
  item *it = find(id);
  return it ? int(G_OBJECT(it->buffer)->ref_count) - 1 : -1;
}

const Babl *format_of(GimpImageType type) {
  switch (type) {
    case GIMP_RGB_IMAGE: return babl_format("R'G'B' u8");
    case GIMP_RGBA_IMAGE: return babl_format("R'G'B'A u8");
    case GIMP_GRAY_IMAGE: return babl_format("Y' u8");
    case GIMP_GRAYA_IMAGE: return babl_format("Y'A u8");
    default: return babl_format("Y' u8");
  }
}

int bpp_of(GimpImageType type) {
  return babl_format_get_bytes_per_pixel(format_of(type));
}

std::vector<unsigned char> read(gint32 id, const Babl *format) {
  item *it = find(id);
  if (!format) format = gegl_buffer_get_format(it->buffer);
  std::vector<unsigned char> pixels(size_t(it->width) * it->height *
                                    babl_format_get_bytes_per_pixel(format));
  const GeglRectangle rect = {0, 0, it->width, it->height};
  gegl_buffer_get(it->buffer, &rect, 1.0, format, pixels.data(),
                  GEGL_AUTO_ROWSTRIDE, GEGL_ABYSS_NONE);
  return pixels;
}

void write(gint32 id, const std::vector<unsigned char> &pixels,
           const Babl *format) {
  item *it = find(id);
  if (!format) format = gegl_buffer_get_format(it->buffer);
  const GeglRectangle rect = {0, 0, it->width, it->height};
  gegl_buffer_set(it->buffer, &rect, 0, format, pixels.data(),
                  GEGL_AUTO_ROWSTRIDE);
}

}  // namespace standin

using standin::calls;
using standin::find;

// ------------------------------------------------------------ libgimp calls

gboolean gimp_drawable_offsets(gint32 id, gint *x, gint *y) {
  auto *it = find(id);
  *x = it ? it->offset_x : 0;
  *y = it ? it->offset_y : 0;
  return it != nullptr;
}

gint gimp_drawable_width(gint32 id) {
  auto *it = find(id);
  return it ? it->width : -1;
}

gint gimp_drawable_height(gint32 id) {
  auto *it = find(id);
  return it ? it->height : -1;
}

GimpImageType gimp_drawable_type(gint32 id) {
  auto *it = find(id);
  return it ? it->type : GimpImageType(-1);
}

gboolean gimp_drawable_is_indexed(gint32 id) {
  auto *it = find(id);
  return it && (it->type == GIMP_INDEXED_IMAGE || it->type == GIMP_INDEXEDA_IMAGE);
}

gchar *gimp_item_get_name(gint32 id) {
  auto *it = find(id);
  return it ? g_strdup(it->name.c_str()) : nullptr;
}

gint32 gimp_item_get_parent(gint32 id) {
  auto *it = find(id);
  return it ? it->parent : -1;
}

gboolean gimp_item_get_lock_content(gint32 id) {
  auto *it = find(id);
  return it && it->lock_content;
}

gint32 gimp_item_get_image(gint32 id) {
  auto *it = find(id);
  return it ? it->image : -1;
}

gboolean gimp_item_is_valid(gint32 id) { return find(id) != nullptr; }

gboolean gimp_item_is_layer(gint32 id) {
  auto *it = find(id);
  return it && it->is_layer;
}

gboolean gimp_image_is_valid(gint32 image) {
  return standin::roots.count(image) != 0;
}

gint gimp_image_get_item_position(gint32 image, gint32 id) {
  auto *it = find(id);
  if (!it || !it->inserted || it->image != image) return -1;
  auto list = standin::layers(image, it->parent);
  return gint(std::find(list.begin(), list.end(), id) - list.begin());
}

gint32 gimp_layer_new(gint32 image, const gchar *name, gint width, gint height,
                      GimpImageType type, gdouble opacity, GimpLayerMode mode) {
  if (width <= 0 || height <= 0) return -1;
  // New layers have the image's precision: that of its layers of this type.
  const Babl *format = nullptr;
  for (const auto &entry : standin::all_items)
    if (entry.second.image == image && entry.second.is_layer &&
        !entry.second.is_group && entry.second.type == type)
      format = gegl_buffer_get_format(entry.second.buffer);
  gint32 id = standin::make_item(image, name, type, width, height, format);
  find(id)->opacity = opacity;
  find(id)->mode = mode;
  return id;
}

gboolean gimp_image_insert_layer(gint32 image, gint32 layer, gint32 parent,
                                 gint position) {
  auto *it = find(layer);
  if (standin::fail_insert || !it || it->inserted || it->image != image)
    return FALSE;
  if (parent != -1) {
    auto *p = find(parent);
    if (!p || !p->is_group || p->image != image) return FALSE;
  }
  standin::insert(*it, parent, position);
  return TRUE;
}

gboolean gimp_image_remove_layer(gint32, gint32 layer) {
  if (!find(layer)) return FALSE;
  standin::destroy(layer);
  return TRUE;
}

gboolean gimp_item_delete(gint32 id) {
  auto *it = find(id);
  if (!it || it->inserted) return FALSE;
  standin::destroy(id);
  return TRUE;
}

gboolean gimp_layer_set_offsets(gint32 id, gint x, gint y) {
  auto *it = find(id);
  if (!it) return FALSE;
  it->offset_x = x;
  it->offset_y = y;
  return TRUE;
}

GeglBuffer *gimp_drawable_get_buffer(gint32 id) {
  auto *it = find(id);
  return it ? GEGL_BUFFER(g_object_ref(it->buffer)) : nullptr;
}

GeglBuffer *gimp_drawable_get_shadow_buffer(gint32 id) {
  auto *it = find(id);
  if (!it) return nullptr;
  ++calls.shadow_buffers;
  return gegl_buffer_new(gegl_buffer_get_extent(it->buffer),
                         gegl_buffer_get_format(it->buffer));
}

gboolean gimp_drawable_merge_shadow(gint32, gboolean) {
  ++calls.merge_shadow;
  return TRUE;
}

gboolean gimp_drawable_update(gint32 id, gint, gint, gint, gint) {
  calls.updated.push_back(id);
  return TRUE;
}

gboolean gimp_progress_init(const gchar *message) {
  ++calls.progress_init;
  calls.progress_label = message ? message : "";
  return TRUE;
}

gboolean gimp_progress_update(gdouble value) {
  calls.progress.push_back(value);
  return TRUE;
}

gboolean gimp_progress_end() {
  ++calls.progress_end;
  return TRUE;
}

gboolean gimp_displays_flush() {
  ++calls.displays_flush;
  return TRUE;
}

gboolean gimp_image_undo_group_start(gint32) {
  ++calls.undo_group_start;
  return TRUE;
}

gboolean gimp_image_undo_group_end(gint32) {
  ++calls.undo_group_end;
  return TRUE;
}

static void capture_defs(std::vector<GimpParamDef> &out, gint n,
                         const GimpParamDef *defs) {
  out.clear();
  for (gint i = 0; i < n; ++i) out.push_back(defs[i]);
}

void gimp_install_procedure(const gchar *name, const gchar *blurb,
                            const gchar *help, const gchar *, const gchar *,
                            const gchar *date, const gchar *menu_label,
                            const gchar *image_types, GimpPDBProcType type,
                            gint n_params, gint n_return_vals,
                            const GimpParamDef *params,
                            const GimpParamDef *return_vals) {
  calls.installs.push_back({name, menu_label ? menu_label : "",
                            image_types ? image_types : "", {}, {}});
  capture_defs(calls.installs.back().params, n_params, params);
  capture_defs(calls.installs.back().return_vals, n_return_vals, return_vals);
  if (++calls.install_calls > 1) return;
  calls.name = name;
  calls.blurb = blurb;
  calls.help = help;
  calls.date = date;
  calls.menu_label = menu_label ? menu_label : "";
  calls.image_types = image_types ? image_types : "";
  calls.proc_type = type;
  capture_defs(calls.params, n_params, params);
  capture_defs(calls.return_vals, n_return_vals, return_vals);
}

static bool unplaced(const gchar *name) {
  return std::strcmp(name, UNPLACED_LAYERS_DATA) == 0;
}

gint gimp_procedural_db_get_data_size(const gchar *name) {
  if (unplaced(name)) return gint(standin::unplaced_data.size());
  return standin::has_stored_data ? gint(standin::stored_data.size()) : 0;
}

gboolean gimp_procedural_db_get_data(const gchar *name, gpointer data) {
  if (unplaced(name)) {
    if (standin::unplaced_data.empty()) return FALSE;
    std::memcpy(data, standin::unplaced_data.data(), standin::unplaced_data.size());
    return TRUE;
  }
  if (!standin::has_stored_data) return FALSE;
  std::memcpy(data, standin::stored_data.data(), standin::stored_data.size());
  return TRUE;
}

gboolean gimp_procedural_db_set_data(const gchar *name, gconstpointer data,
                                     guint32 size) {
  const auto *bytes = static_cast<const unsigned char *>(data);
  if (unplaced(name)) {
    standin::unplaced_data.assign(bytes, bytes + size);
    return TRUE;
  }
  standin::calls.set_data_name = name;
  standin::stored_data.assign(bytes, bytes + size);
  standin::has_stored_data = true;
  return TRUE;
}

gint *gimp_image_get_layers(gint32 image, gint *n) {
  const std::vector<gint32> list = standin::layers(image, -1);
  *n = gint(list.size());
  gint *out = g_new(gint, list.size() + 1);
  std::copy(list.begin(), list.end(), out);
  return out;
}

gboolean gimp_plugin_menu_register(const gchar *name, const gchar *path) {
  standin::calls.menus.emplace_back(name, path);
  return TRUE;
}
