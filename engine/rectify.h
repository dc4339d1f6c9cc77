// Rectification: a photographed rectangle (a page, a whiteboard, a
// painting) taken back to an upright rectangle of its true proportions.
#pragma once

#include <cstddef>

#include "tessaform.h"

// What the aspect ratio rests on.
enum rectify_method {
  // Both vanishing points finite: the focal length comes from them.
  RECTIFY_VANISHING_POINTS,
  // One pair of sides parallel in the photograph: the focal length is not
  // determined and is assumed.
  RECTIFY_ONE_PAIR_PARALLEL,
  // Both pairs parallel: a view square on, the ratio of the side lengths.
  RECTIFY_BOTH_PAIRS_PARALLEL,
  // The vanishing points give no real focal length: assumed.
  RECTIFY_NOT_REAL,
};

struct rectify_estimate {
  // The photographed corners as the rectangle's top-left, top-right,
  // bottom-right and bottom-left: the one nearest the top-left corner of the
  // quadrangle's box first, then round as on the screen, so the result is
  // never mirrored.
  point corners[4];
  rectify_method method;
  double focal;   // pixels: estimated, or the assumption
  double aspect;  // width / height
  // The photographed sides: their means along the width and the height.
  double mean_width;
  double mean_height;
};

// Estimates from the four corners of the photographed rectangle, given in
// the order they go round it (either way, from any corner), over a
// photograph covering `photo` (its centre is taken as the principal point,
// pixels as square). Returns null, or why the corners cannot be used.
const char *rectify_estimate_init(rectify_estimate *e, const point quad[4],
                                  const GeglRectangle &photo);

// The output's size: `width` and `height` as asked, 0 for the estimate (one
// of them 0: that side from the ratio `aspect`; both: the longer side as long
// as the longer mean side). At least 1 and at most 2^30 each.
void rectify_size(const rectify_estimate *e, double aspect, int32_t width,
                  int32_t height, int32_t *out_width, int32_t *out_height);

// The warp of the photographed corners onto the upright rectangle (0, 0) to
// (width, height), with the perspective mapping.
void rectify_vals(const rectify_estimate *e, int32_t width, int32_t height,
                  warp_vals *vals);

// One line saying the ratio and what it rests on.
void rectify_describe(const rectify_estimate *e, char *out, size_t size);
