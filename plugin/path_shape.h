// The anchors of a path and the quadrangles they give: one stroke of four
// anchors takes the whole drawable onto it; two strokes of four, or one of
// eight, give the source and then the destination quadrangle.
#pragma once

#include <cstddef>

#include "tessaform.h"

constexpr int PATH_SHAPE_KEPT_STROKES = 4;
constexpr int PATH_SHAPE_KEPT_ANCHORS = 8;

struct path_shape {
  bool has_path;
  int strokes;
  int anchors;                              // over all strokes
  int stroke_anchors[PATH_SHAPE_KEPT_STROKES];  // of the first strokes
  bool malformed;  // a stroke whose points are not handle, anchor, handle
  point anchor[PATH_SHAPE_KEPT_ANCHORS];    // the first anchors, drawing order
};

void path_shape_init(path_shape *shape, bool has_path);
// Takes the anchors of one Bezier stroke: its points come as handle, anchor,
// handle per anchor, `n` coordinates in all (x before y).
void path_shape_add_stroke(path_shape *shape, const double *points, int n);
// True when the anchors give two quadrangles; the whole-layer shape is
// reported through `whole_layer`.
bool path_shape_usable(const path_shape *shape, bool *whole_layer);
// Fills the corners of `vals` from a usable shape; (ox, oy, w, h) is the
// drawable's box, the source of a one-stroke path.
void path_shape_corners(const path_shape *shape, int ox, int oy, int w, int h,
                        warp_vals *vals);
// What the path holds and what is needed, for a shape that is not usable.
void path_shape_refusal(const path_shape *shape, char *out, size_t size);
// What the path holds, as the first sentence of a refusal (no full stop).
void path_shape_found(const path_shape *shape, char *out, size_t size);
