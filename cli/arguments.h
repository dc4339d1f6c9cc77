// The command line of tessaform-warp, parsed into plain settings.
#pragma once

#include <string>

#include "tessaform.h"

enum output_mode { OUTPUT_IMAGE, OUTPUT_CROP, OUTPUT_OVER };

struct cli_arguments {
  std::string input;
  std::string output;
  float from[8];
  bool has_from = false;  // absent: the whole input
  float to[8];
  int32_t interpolation = 1;
  int32_t anti_aliasing = 0;
  int32_t mapping = -1;  // a warp_mapping; -1: bilinear, perspective to rectify
  // --rectify: --from is a photographed rectangle, flattened onto an upright
  // one of the estimated (or given) proportions and size.
  bool rectify = false;
  double aspect = 0.0;  // --aspect W:H as W / H; 0: the estimate
  int32_t size_w = 0;   // --size WxH; 0: from the ratio
  int32_t size_h = 0;
  output_mode mode = OUTPUT_IMAGE;
  int32_t threads = 0;
  int64_t max_pixels = WARP_MAX_PIXELS;  // the input's declared size at most
  bool quiet = false;
  bool times = false;  // where the time went, on standard error
  bool help = false;
};

// Fills `args` from argv; false with `error` set when the line is wrong.
bool cli_arguments_parse(cli_arguments *args, int argc, char **argv,
                         std::string *error);
// Eight comma-separated finite numbers.
bool cli_corners_parse(const char *text, float out[8]);
const char *cli_usage();

// The warp --rectify makes of the photographed quadrangle in an input over
// `extent`, and the rectangle it renders (the output's pixels, from 0, 0).
// `report` says what the estimate rests on and the size chosen; false with
// `error` set when the quadrangle cannot be a photographed rectangle.
bool cli_rectify_settings(const cli_arguments &args, const GeglRectangle &extent,
                          warp_vals *vals, GeglRectangle *area,
                          std::string *report, std::string *error);
