// Regions: the integer box of a quadrangle and the source and destination
// regions that tie a quadrangle to a drawable, its buffer and its solvers.
#include <climits>
#include <cmath>
#include <cstring>

#include "tessaform.h"

// floor/ceil results outside int32 (or not numbers) would be undefined to
// convert; such boxes saturate instead.
static int32_t saturate_int32(double v) {
  if (std::isnan(v)) return 0;
  if (v <= static_cast<double>(INT32_MIN)) return INT32_MIN;
  if (v >= static_cast<double>(INT32_MAX)) return INT32_MAX;
  return static_cast<int32_t>(v);
}

void bounds_set(bounds *b, const point quad[4]) {
  double min_x = 1e10, min_y = 1e10;
  double max_x = -1e10, max_y = -1e10;
  for (int i = 0; i < 4; ++i) {
    if (min_x > quad[i].x) min_x = quad[i].x;
    if (quad[i].x > max_x) max_x = quad[i].x;
    if (min_y > quad[i].y) min_y = quad[i].y;
    if (quad[i].y > max_y) max_y = quad[i].y;
  }
  b->x0 = saturate_int32(std::floor(min_x));
  b->y0 = saturate_int32(std::floor(min_y));
  b->x1 = saturate_int32(std::ceil(max_x) + 1.0);
  b->y1 = saturate_int32(std::ceil(max_y) + 1.0);
}

void bounds_intersection(bounds *b, const bounds *other) {
  if (b->x0 < other->x0) b->x0 = other->x0;
  if (b->y0 < other->y0) b->y0 = other->y0;
  if (b->x1 > other->x1) b->x1 = other->x1;
  if (b->y1 > other->y1) b->y1 = other->y1;
}

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

// Differences in 64 bits: a saturated box must not overflow.
int32_t bounds_width(const bounds *b) {
  return saturate_int32(static_cast<double>(int64_t(b->x1) - b->x0));
}

int32_t bounds_height(const bounds *b) {
  return saturate_int32(static_cast<double>(int64_t(b->y1) - b->y0));
}

void bounds_init(struct bounds *b, region *r) {
  b->owner = r;
  bounds_set(b, r->areal);
  if (r->is_source) {
    struct bounds extent = get_drawable_bounds(r->drawable);
    bounds_intersection(b, &extent);
  }
  b->width = bounds_width(b);
  b->height = bounds_height(b);
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

void region_init(region *r, warp *w, int32_t is_source) {
  r->owner = w;
  r->is_source = is_source;
  quad_grow(r->quad, r->areal, 1.0);
  r->drawable = w->drawable;
  r->bpp = w->bpp;
  r->bounds = &r->bounds_store;
  bounds_init(r->bounds, r);
  r->pixel_buffer = nullptr;

  if (!is_source) {
    gint32 layer =
        new_layer(w->image, r->drawable, r->bounds->width, r->bounds->height);
    gint32 source = r->drawable;
    r->drawable = layer;
    if (layer != -1) {
      // Directly above the source, in the source's own parent: never inside
      // a group that is being read.
      gint32 parent = gimp_item_get_parent(source);
      gint position = gimp_image_get_item_position(w->image, source);
      if (gimp_image_insert_layer(w->image, layer, parent, position)) {
        gimp_layer_set_offsets(layer, r->bounds->x0, r->bounds->y0);
      } else {
        gimp_item_delete(layer);
        r->drawable = -1;
      }
    }
  }

  // The destination is a new layer of our own: rendering straight into its
  // buffer keeps the result whole whatever selection the image has.
  if (r->drawable != -1) r->pixel_buffer = gimp_drawable_get_buffer(r->drawable);
  r->format = w->format;

  r->coord_u = &r->coord_u_store;
  qcoord_init(r->coord_u, r->quad[0], r->quad[1], r->quad[2], r->quad[3]);
  r->coord_v = &r->coord_v_store;
  qcoord_init(r->coord_v, r->quad[1], r->quad[2], r->quad[3], r->quad[0]);
}

// Open bounds a pixel wider than the box on each side, compared with the
// exact position: truncating the position first would move the edge with the
// drawable's offsets (toward zero is a different way on either side of 0).
int32_t region_inside_at(const region *r, double px, double py) {
  const struct bounds *b = r->bounds;
  if (!(px > b->x0 - 1.0 && px < b->x1 + 1.0 && py > b->y0 - 1.0 &&
        py < b->y1 + 1.0))
    return 0;
  return quad_inside(r->areal, px, py);
}

int32_t region_inside(const region *r, int32_t x, int32_t y) {
  return region_inside_at(r, x, y);
}

void region_message(const region *r, const char *label) {
  char line[256];
  g_snprintf(line, sizeof line, "%s: [ %d, %d ] ---> [ %d, %d ]", label,
             r->bounds->x0, r->bounds->y0, r->bounds->x1, r->bounds->y1);
  g_log(nullptr, G_LOG_LEVEL_MESSAGE, "%s", line);
  quad_message(r->areal, "areal");
  quad_message(r->quad, "quad");
}
