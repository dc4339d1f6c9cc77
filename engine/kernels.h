// The kernels of the fast path: each reads the band's source in place, with
// exactly the arithmetic of the one-pixel path's kernels.
#pragma once

#include "tessaform.h"

// A source held in memory for a band: rows[y - y0] is where source row y
// (clamped into the source box) starts at column x0. Columns outside the
// source box repeat its edge pixels, so no tap clamps.
struct source_view {
  const unsigned char *const *rows;
  int32_t x0;
  int32_t y0;
};

// Renders the pixels i < n of a row whose source positions are (sx[i],
// sy[i]) into out (bpp bytes each); a position whose sx is not a number
// leaves its pixel as it is.
typedef void (*kernel_row_function)(const source_view &view, const float *sx,
                                    const float *sy, int32_t n,
                                    int32_t unbounded, unsigned char *out);

// Which kernels a vector level has: one per interpolation, sample type and
// pixel layout (1 to 4 channels, alpha last where there is one).
struct kernel_shape {
  int32_t interpolation;  // 0 nearest .. 3 Lanczos
  int32_t sample;         // a sample_type
  int32_t channels;
  bool alpha;
};

// What a row of positions reaches: how many pixels sample, the first and
// last that do, the box of their windows' corners, and the largest step in
// the corner's row between neighbours that both sample.
struct row_reach_result {
  int32_t count, first, last;
  int32_t x0, x1, y0, y1;
  double step;
};
typedef void (*row_reach_function)(const float *sx, const float *sy, int32_t n,
                                   row_reach_result *r);
