// One fuzz input decoded into a warp call: the source's format, extent and
// pixels, the settings and the fast path's thread count and tile side.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tessaform.h"

enum { FUZZ_MODELS = 8, FUZZ_TYPES = 6, FUZZ_SOURCE_MAX_SIDE = 24 };

struct fuzz_case {
  char format[32];  // babl name of the source's (and destination's) format
  warp_vals vals;
  int32_t threads;
  int32_t tile_shift;  // the fast path's tile side, as a power of two
  GeglRectangle source_extent;  // image coordinates
  std::vector<unsigned char> source_pixels;
};

// Every format the target can pick, by index, for checking they all exist.
void fuzz_format_name(int32_t index, char *out, size_t size);
void fuzz_case_decode(fuzz_case *c, const uint8_t *data, size_t size);
