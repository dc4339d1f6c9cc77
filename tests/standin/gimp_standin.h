// An in-memory stand-in for the few libgimp calls the host and the shell
// make, holding drawables in real GEGL buffers. Tests link it instead of
// libgimp; item IDs are small integers handed out in order.
#pragma once

#include <string>
#include <vector>

#include "gimp_host.h"

namespace standin {

struct item {
  gint32 id = -1;
  gint32 image = -1;
  std::string name;
  GimpImageType type = GIMP_RGBA_IMAGE;
  gint width = 0;
  gint height = 0;
  gint offset_x = 0;
  gint offset_y = 0;
  GeglBuffer *buffer = nullptr;  // owned by the stand-in
  bool is_layer = true;
  bool is_group = false;
  bool lock_content = false;
  bool inserted = false;
  gint32 parent = -1;
  double opacity = 100.0;
  GimpLayerMode mode = GIMP_LAYER_MODE_NORMAL;
  std::vector<gint32> children;  // groups only, top first
};

struct record {
  int progress_init = 0;
  int progress_end = 0;
  int undo_group_start = 0;
  int undo_group_end = 0;
  int displays_flush = 0;
  int merge_shadow = 0;
  int shadow_buffers = 0;
  std::string progress_label;
  std::vector<double> progress;
  std::vector<std::string> messages;  // g_log output
  std::vector<gint32> updated;  // drawables passed to gimp_drawable_update
  // What gimp_install_procedure received for the first procedure; every
  // procedure's name, label, types and tables are in `installs`.
  int install_calls = 0;
  std::string name, blurb, help, date, menu_label, image_types;
  GimpPDBProcType proc_type = GIMP_INTERNAL;
  std::vector<GimpParamDef> params;
  std::vector<GimpParamDef> return_vals;
  struct installed {
    std::string name, menu_label, image_types;
    std::vector<GimpParamDef> params, return_vals;
  };
  std::vector<installed> installs;
  std::vector<std::pair<std::string, std::string>> menus;  // name, menu path
  std::string set_data_name;  // the latest gimp_set_data
};

extern record calls;
extern bool fail_insert;            // gimp_image_insert_layer answers FALSE
extern std::vector<unsigned char> stored_data;  // PDB data of the procedure
extern bool has_stored_data;
// PDB data under UNPLACED_LAYERS_DATA, kept apart from the procedure's.
extern std::vector<unsigned char> unplaced_data;

// Forgets every image and item and clears `calls`; releases the buffers.
void reset();
gint32 add_image();
// A layer at the top of the image's root (or of `parent`), filled with zeros.
gint32 add_layer(gint32 image, const char *name, GimpImageType type,
                 gint width, gint height, gint offset_x = 0, gint offset_y = 0,
                 gint32 parent = -1, const Babl *format = nullptr);
gint32 add_group(gint32 image, const char *name, gint32 parent = -1);
gint32 add_channel(gint32 image, const char *name, gint width, gint height);
item *find(gint32 id);
// The image's root layers (or a group's children), top first.
std::vector<gint32> layers(gint32 image, gint32 parent = -1);
// All items that exist, inserted or not.
std::vector<gint32> items();
// References held on a drawable's buffer beyond the stand-in's own.
int extra_refs(gint32 id);

// 8-bit babl format of a GIMP image type.
const Babl *format_of(GimpImageType type);
int bpp_of(GimpImageType type);

// Whole-drawable pixel access in the drawable's format (or `format`).
std::vector<unsigned char> read(gint32 id, const Babl *format = nullptr);
void write(gint32 id, const std::vector<unsigned char> &pixels,
           const Babl *format = nullptr);

// A path of `image` whose strokes hold the given control points (x, y
// pairs, handle, anchor, handle per anchor); made the active path if asked.
gint32 add_path(gint32 image, const std::vector<std::vector<double>> &strokes,
                bool active = true);

}  // namespace standin
