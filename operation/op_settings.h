// The settings of the tessaform:warp operation as a plain record, and what
// they mean for the engine: the warp settings over the input's extent and
// the pixel format the warp runs in.
#pragma once

#include "tessaform.h"

struct op_settings {
  double destination[8];  // x0, y0 .. x3, y3, the input's pixel coordinates
  bool whole_layer;       // the source is the input's extent
  double source[8];       // used when whole_layer is false
  int32_t interpolation;  // the engine's index: nearest, bilinear, cubic, Lanczos
  bool anti_aliasing;
  int32_t mapping;  // a warp_mapping
};

// Fractions of the input's extent where the destination corners lie while
// all eight destination coordinates are 0 (the defaults): a page tilted in
// perspective, inside the input, so that a first look shows a warp.
extern const double OP_DEFAULT_DESTINATION[8];

// The engine's settings for `s` over an input whose pixels lie over
// `extent`.
warp_vals op_settings_vals(const op_settings &s, const GeglRectangle &extent);

// The format the warp reads and writes for an input in `source` (null: the
// input's format is unknown): the input's components and precision, with
// an alpha channel so that the area around the quadrangle is transparent,
// straight rather than premultiplied, as the engine samples.
const Babl *op_working_format(const Babl *source);
