// Source positions of many destination pixels at once. The vector levels
// evaluate pixel_source_position's arithmetic lane by lane, operation for
// operation, so every position is the float the one-pixel path computes.
#pragma once

#include "tessaform.h"

// An edge of a quadrangle as the even-odd test walks it: from the previous
// corner to this one, with the slope it divides by.
struct quad_edge {
  double prev_x, prev_y;
  double cur_x, cur_y;
  double slope;
};

// Everything the mapping needs from the warp, in the order it is used.
struct position_plan {
  quad_edge dst[4];  // the grown destination quadrangle
  quad_edge src[4];  // the grown source quadrangle
  // The open box a source position must lie in (a pixel wider than the
  // source box on each side).
  double src_left, src_right, src_top, src_bottom;
  // A grown source quadrangle with upright edges (the whole layer, say):
  // its even-odd test is inside a box, open at the low edges. Where that
  // box lies within the open box and far inside int32's range, passing it
  // passes those tests too.
  bool src_upright;
  bool src_upright_alone;
  double src_x_lo, src_x_hi, src_y_lo, src_y_hi;
  qcoord u, v;
  point c0, c3, e01, e32, c1, e03, e12;
  bool perspective;  // the perspective mapping: h instead of u, v, c0 ...
  homography h;
};

void position_plan_init(position_plan *p, const warp *w);

// Positions of pixels (x0 + i, y), i < n: (sx[i], sy[i]), or sx[i] not a
// number where the pixel samples nothing.
typedef void (*row_positions_function)(const position_plan &p, int32_t y,
                                       int32_t x0, int32_t n, float *sx,
                                       float *sy);
