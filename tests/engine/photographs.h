// Synthetic photographs of flat rectangles (pages, checkerboards) through
// known cameras: a pinhole with its principal point at the photograph's
// centre and square pixels, the rectangle tilted about the photograph's
// horizontal axis and then its vertical one. They know where every point
// of the rectangle lands, independently of the engine.
#pragma once

#include <cstdint>
#include <vector>

#include "tessaform.h"

struct camera_view {
  double focal;   // pixels
  double tilt_x;  // degrees, about the photograph's horizontal axis
  double tilt_y;  // degrees, then about its vertical axis
  double page_w;  // the rectangle's sides, in its own units
  double page_h;
  int32_t photo_w = 4000;
  int32_t photo_h = 3000;
  // The rectangle's diagonal seen square on, as a share of the photograph's
  // shorter side, and its centre's offset from the optical axis in the same
  // shares.
  double fill = 0.6;
  double shift_x = 0.0;
  double shift_y = 0.0;
};

// Where the rectangle's point (x, y) (0 <= x <= page_w, 0 <= y <= page_h)
// lands in the photograph.
point camera_project(const camera_view &c, double x, double y);
// The rectangle's top-left, top-right, bottom-right and bottom-left corners
// in the photograph.
void camera_corners(const camera_view &c, point out[4]);

// A photograph of a checkerboard of squares `square` units wide covering
// the rectangle (black where the column and row indices sum to an even
// number), on mid grey: 8-bit RGBA over `box`, each pixel the mean of
// 8 x 8 point samples, blurred by about a pixel as a lens blurs.
std::vector<unsigned char> camera_checkerboard(const camera_view &c,
                                               double square,
                                               const GeglRectangle &box);

// How far (output pixels) the rectangle's 9 x 9 grid of points lands from
// where it belongs on the width x height output of `vals`, a warp of the
// photograph onto an upright rectangle whose top-left is the rectangle's
// corner `first` (0 top-left, 1 top-right...): the worst point. Each is
// found by Newton's method on the engine's mapping, which assumes nothing
// of its arithmetic.
double camera_grid_error(const camera_view &c, int first, const warp_vals &vals,
                         int32_t width, int32_t height);
