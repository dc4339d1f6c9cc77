// Reading a path's anchors as quadrangles.
#include "path_shape.h"

#include <cfloat>
#include <cmath>
#include <cstring>

void path_shape_init(path_shape *shape, bool has_path) {
  std::memset(shape, 0, sizeof *shape);
  shape->has_path = has_path;
}

void path_shape_add_stroke(path_shape *shape, const double *points, int n) {
  // Six coordinates per anchor: the handles on either side are ignored.
  if (n < 0 || n % 6 != 0 || (n > 0 && !points)) shape->malformed = true;
  const int count = n > 0 ? n / 6 : 0;
  if (shape->strokes < PATH_SHAPE_KEPT_STROKES)
    shape->stroke_anchors[shape->strokes] = count;
  ++shape->strokes;
  for (int i = 0; i < count; ++i) {
    if (shape->anchors < PATH_SHAPE_KEPT_ANCHORS)
      shape->anchor[shape->anchors] =
          point_init(points[6 * i + 2], points[6 * i + 3]);
    ++shape->anchors;
  }
}

bool path_shape_usable(const path_shape *shape, bool *whole_layer) {
  if (!shape->has_path || shape->malformed) return false;
  *whole_layer = shape->strokes == 1 && shape->anchors == 4;
  const bool two_quads =
      (shape->strokes == 1 && shape->anchors == 8) ||
      (shape->strokes == 2 && shape->stroke_anchors[0] == 4 &&
       shape->stroke_anchors[1] == 4);
  return *whole_layer || two_quads;
}

// Anchors beyond float's range become infinities, which the settings check
// refuses, rather than an undefined conversion.
static float narrow(double d) {
  if (d > FLT_MAX) return HUGE_VALF;
  if (d < -FLT_MAX) return -HUGE_VALF;
  return static_cast<float>(d);
}

void path_shape_corners(const path_shape *shape, int ox, int oy, int w, int h,
                        warp_vals *vals) {
  bool whole = false;
  path_shape_usable(shape, &whole);
  point src[4], dst[4];
  if (whole) {
    src[0] = point_init(ox, oy);
    src[1] = point_init(double(ox) + w, oy);
    src[2] = point_init(double(ox) + w, double(oy) + h);
    src[3] = point_init(ox, double(oy) + h);
    for (int i = 0; i < 4; ++i) dst[i] = shape->anchor[i];
  } else {
    for (int i = 0; i < 4; ++i) {
      src[i] = shape->anchor[i];
      dst[i] = shape->anchor[4 + i];
    }
  }
  float *const s[8] = {&vals->sx0, &vals->sy0, &vals->sx1, &vals->sy1,
                       &vals->sx2, &vals->sy2, &vals->sx3, &vals->sy3};
  float *const d[8] = {&vals->dx0, &vals->dy0, &vals->dx1, &vals->dy1,
                       &vals->dx2, &vals->dy2, &vals->dx3, &vals->dy3};
  for (int i = 0; i < 4; ++i) {
    *s[2 * i] = narrow(src[i].x);
    *s[2 * i + 1] = narrow(src[i].y);
    *d[2 * i] = narrow(dst[i].x);
    *d[2 * i + 1] = narrow(dst[i].y);
  }
}

static const char NEEDED[] =
    "Needed: one stroke of 4 anchors (the whole layer goes onto that "
    "quadrangle), or two strokes of 4 anchors or one stroke of 8 (the "
    "source quadrangle, then the destination).";

void path_shape_refusal(const path_shape *shape, char *out, size_t size) {
  char found[160];
  path_shape_found(shape, found, sizeof found);
  g_snprintf(out, size, "%s. %s", found, NEEDED);
}

void path_shape_found(const path_shape *shape, char *found, size_t size) {
  const int room = int(size);
  if (!shape->has_path) {
    g_snprintf(found, size, "The image has no path to use");
  } else if (shape->malformed) {
    g_snprintf(found, size,
               "The path has a stroke that is not a curve of anchors and "
               "handles");
  } else if (shape->strokes == 0) {
    g_snprintf(found, size, "The path is empty");
  } else if (shape->strokes == 1) {
    g_snprintf(found, size, "The path has one stroke of %d anchor%s",
               shape->anchors, shape->anchors == 1 ? "" : "s");
  } else {
    int n = g_snprintf(found, size, "The path has %d strokes of ",
                       shape->strokes);
    const int listed = shape->strokes < PATH_SHAPE_KEPT_STROKES
                           ? shape->strokes
                           : PATH_SHAPE_KEPT_STROKES;
    for (int i = 0; i < listed && n < room; ++i)
      n += g_snprintf(found + n, size - n, "%s%d",
                      i == 0 ? "" : (i + 1 == shape->strokes ? " and " : ", "),
                      shape->stroke_anchors[i]);
    if (n < room)
      g_snprintf(found + n, size - n, "%s anchors",
                 shape->strokes > listed ? ", ..." : "");
  }
}
