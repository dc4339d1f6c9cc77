// Paths for the stand-in: items of an image holding strokes of control
// points, and the image's active path.
#include <cstring>
#include <map>

#include "gimp_standin.h"

namespace {
std::map<gint32, std::vector<std::vector<double>>> paths;
std::map<gint32, gint32> active;  // image -> path
}  // namespace

namespace standin {

gint32 add_path(gint32 image, const std::vector<std::vector<double>> &strokes,
                bool make_active) {
  const gint32 id = add_channel(image, "Path", 1, 1);
  paths[id] = strokes;
  if (make_active) active[image] = id;
  return id;
}

}  // namespace standin

static bool is_path(gint32 id) {
  return standin::find(id) && paths.count(id) != 0;
}

gboolean gimp_item_is_vectors(gint32 id) { return is_path(id); }

gboolean gimp_item_is_drawable(gint32 id) {
  return standin::find(id) && !is_path(id);
}

gint32 gimp_image_get_active_vectors(gint32 image) {
  auto it = active.find(image);
  return it != active.end() && is_path(it->second) ? it->second : -1;
}

gint *gimp_vectors_get_strokes(gint32 id, gint *num_strokes) {
  *num_strokes = is_path(id) ? gint(paths[id].size()) : 0;
  gint *ids = g_new0(gint, *num_strokes + 1);
  for (gint i = 0; i < *num_strokes; ++i) ids[i] = 100 + i;
  return ids;
}

GimpVectorsStrokeType gimp_vectors_stroke_get_points(gint32 id, gint stroke,
                                                     gint *num_points,
                                                     gdouble **points,
                                                     gboolean *closed) {
  const auto &s = paths.at(id).at(size_t(stroke - 100));
  *num_points = gint(s.size());
  *points = g_new0(gdouble, s.size() + 1);
  if (!s.empty()) std::memcpy(*points, s.data(), s.size() * sizeof(double));
  *closed = FALSE;
  return GIMP_VECTORS_STROKE_TYPE_BEZIER;
}
