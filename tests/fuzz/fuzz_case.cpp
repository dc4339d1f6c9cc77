// Decodes the fuzzer's bytes, front to back, so most inputs are plausible
// calls and the seeds are easy to write: corners are a base point plus small
// offsets at a chosen scale, so small and degenerate quadrangles are common,
// bases reach the coordinate limit, and a few corners can be swapped for
// values at or past the edges of what is allowed. Missing bytes read as 0.
#include "fuzz_case.h"

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

namespace {

const char *const kModels[FUZZ_MODELS] = {"Y'",  "Y'A",  "R'G'B'", "R'G'B'A",
                                          "Y",   "YA",   "RGB",    "RGBA"};
const char *const kTypes[FUZZ_TYPES] = {"u8",   "u16",   "u32",
                                        "half", "float", "double"};

struct byte_reader {
  const uint8_t *data;
  size_t size;
  size_t at;
};

uint8_t read_u8(byte_reader &in) {
  return in.at < in.size ? in.data[in.at++] : 0;
}
int8_t read_i8(byte_reader &in) { return static_cast<int8_t>(read_u8(in)); }
int16_t read_i16(byte_reader &in) {
  const uint8_t lo = read_u8(in);
  return static_cast<int16_t>(uint16_t(lo | read_u8(in) << 8));
}
uint32_t read_u32(byte_reader &in) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= uint32_t(read_u8(in)) << (8 * i);
  return v;
}
// A value in lo..hi from one byte.
int read_range(byte_reader &in, int lo, int hi) {
  return lo + read_u8(in) % (hi - lo + 1);
}

float special_value(byte_reader &in) {
  const float limit = float(WARP_COORD_LIMIT);
  switch (read_range(in, 0, 12)) {
    case 0: return std::numeric_limits<float>::quiet_NaN();
    case 1: return std::numeric_limits<float>::infinity();
    case 2: return -std::numeric_limits<float>::infinity();
    case 3: return FLT_MAX;
    case 4: return -FLT_MAX;
    case 5: return limit;
    case 6: return -limit;
    case 7: return std::nextafter(limit, FLT_MAX);
    case 8: return std::nextafter(-limit, -FLT_MAX);
    case 9: return std::numeric_limits<float>::denorm_min();
    case 10: return -0.0f;
    case 11: return 0.5f;
    default: {
      const uint32_t bits = read_u32(in);
      float f;
      std::memcpy(&f, &bits, sizeof f);
      return f;
    }
  }
}

// Most quadrangles sit near `anchor` (the source's corner, or the origin),
// so sources overlap the drawable and destinations stay small; the rest
// start anywhere up to the coordinate limit.
void decode_quad(byte_reader &in, double anchor_x, double anchor_y,
                 float *xy) {
  double bx, by;
  if (read_range(in, 0, 3) < 3) {
    bx = anchor_x + read_i8(in) * 0.25;
    by = anchor_y + read_i8(in) * 0.25;
  } else {
    const double scale = std::ldexp(1.0, read_range(in, 0, 8));
    bx = read_i16(in) * scale;
    by = read_i16(in) * scale;
  }
  const double step = std::ldexp(1.0, read_range(in, -6, 6));
  for (int i = 0; i < 8; ++i)
    xy[i] = float((i % 2 ? by : bx) + read_i8(in) * step);
}

}  // namespace

void fuzz_format_name(int32_t index, char *out, size_t size) {
  std::snprintf(out, size, "%s %s", kModels[index % FUZZ_MODELS],
                kTypes[index / FUZZ_MODELS % FUZZ_TYPES]);
}

void fuzz_case_decode(fuzz_case *c, const uint8_t *data, size_t size) {
  byte_reader in{data, size, 0};
  fuzz_format_name(read_range(in, 0, FUZZ_MODELS * FUZZ_TYPES - 1), c->format,
                   sizeof c->format);
  c->vals = warp_vals{};
  c->vals.progress_name = "fuzz";
  // One index each side of the kernels, to reach the refusal; the rest of
  // the byte picks the mapping, one past the known ones included (the
  // seeds' small bytes stay bilinear).
  const uint8_t kernel = read_u8(in);
  c->vals.interpolation = -1 + kernel % 6;
  c->vals.mapping = kernel / 6 % 3;
  const uint8_t flags = read_u8(in);
  c->vals.anti_aliasing = flags & 1;
  c->vals.pre_blur = flags >> 1 & 1;
  c->threads = 1 + (flags >> 2) % 3;
  // Small tiles: the small sources span many, so bands read by tiles too.
  c->tile_shift = 1 + (flags >> 2) / 3 % 6;

  c->source_extent.width = read_range(in, 1, FUZZ_SOURCE_MAX_SIDE);
  c->source_extent.height = read_range(in, 1, FUZZ_SOURCE_MAX_SIDE);
  c->source_extent.x = read_i8(in);
  c->source_extent.y = read_i8(in);

  decode_quad(in, c->source_extent.x, c->source_extent.y, &c->vals.sx0);
  decode_quad(in, 0.0, 0.0, &c->vals.dx0);
  float *corners[2] = {&c->vals.sx0, &c->vals.dx0};
  for (int n = read_range(in, 0, 3); n > 0; --n) {
    const int slot = read_range(in, 0, 15);
    corners[slot / 8][slot % 8] = special_value(in);
  }

  // The rest are the source's bytes, repeated to fill it; samples of float
  // types may be any bit pattern, NaN and infinities included.
  const uint8_t *rest = data + in.at;
  const size_t rest_size = size - in.at;
  const size_t bytes = size_t(c->source_extent.width) *
                       size_t(c->source_extent.height) *
                       size_t(babl_format_get_bytes_per_pixel(babl_format(c->format)));
  c->source_pixels.resize(bytes);
  for (size_t i = 0; i < bytes; ++i)
    c->source_pixels[i] = rest_size == 0 ? static_cast<unsigned char>(i * 37 + 11)
                                         : rest[i % rest_size];
}
