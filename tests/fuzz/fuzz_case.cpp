// Decodes the fuzzer's bytes so most inputs are plausible calls: corners are
// a base point plus small offsets at a chosen scale, so small and degenerate
// quadrangles are common, bases reach the coordinate limit, and a few
// corners can be swapped for values at or past the edges of what is allowed.
#include "fuzz_case.h"

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include <fuzzer/FuzzedDataProvider.h>

namespace {

const char *const kModels[FUZZ_MODELS] = {"Y'",  "Y'A",  "R'G'B'", "R'G'B'A",
                                          "Y",   "YA",   "RGB",    "RGBA"};
const char *const kTypes[FUZZ_TYPES] = {"u8",   "u16",   "u32",
                                        "half", "float", "double"};

float special_value(FuzzedDataProvider &in) {
  const float limit = float(WARP_COORD_LIMIT);
  switch (in.ConsumeIntegralInRange<int>(0, 12)) {
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
      const uint32_t bits = in.ConsumeIntegral<uint32_t>();
      float f;
      std::memcpy(&f, &bits, sizeof f);
      return f;
    }
  }
}

void decode_quad(FuzzedDataProvider &in, float *xy) {
  const double base_scale = std::ldexp(1.0, in.ConsumeIntegralInRange(0, 8));
  const double bx = in.ConsumeIntegral<int16_t>() * base_scale;
  const double by = in.ConsumeIntegral<int16_t>() * base_scale;
  const double step = std::ldexp(1.0, in.ConsumeIntegralInRange(-6, 9));
  for (int i = 0; i < 8; ++i)
    xy[i] = float((i % 2 ? by : bx) + in.ConsumeIntegral<int8_t>() * step);
}

}  // namespace

void fuzz_format_name(int32_t index, char *out, size_t size) {
  std::snprintf(out, size, "%s %s", kModels[index % FUZZ_MODELS],
                kTypes[index / FUZZ_MODELS % FUZZ_TYPES]);
}

void fuzz_case_decode(fuzz_case *c, const uint8_t *data, size_t size) {
  FuzzedDataProvider in(data, size);
  fuzz_format_name(in.ConsumeIntegralInRange(0, FUZZ_MODELS * FUZZ_TYPES - 1),
                   c->format, sizeof c->format);
  c->vals = warp_vals{};
  c->vals.progress_name = "fuzz";
  // One index each side of the kernels, to reach the refusal.
  c->vals.interpolation = in.ConsumeIntegralInRange(-1, 4);
  c->vals.anti_aliasing = in.ConsumeBool();
  c->vals.pre_blur = in.ConsumeBool();
  c->threads = in.ConsumeIntegralInRange(1, 3);

  c->source_extent.width = in.ConsumeIntegralInRange(1, int(FUZZ_SOURCE_MAX_SIDE));
  c->source_extent.height = in.ConsumeIntegralInRange(1, int(FUZZ_SOURCE_MAX_SIDE));
  c->source_extent.x = in.ConsumeIntegral<int8_t>();
  c->source_extent.y = in.ConsumeIntegral<int8_t>();

  decode_quad(in, &c->vals.sx0);
  decode_quad(in, &c->vals.dx0);
  float *corners[2] = {&c->vals.sx0, &c->vals.dx0};
  for (int n = in.ConsumeIntegralInRange(0, 3); n > 0; --n) {
    const int slot = in.ConsumeIntegralInRange(0, 15);
    corners[slot / 8][slot % 8] = special_value(in);
  }

  // The rest are the source's bytes, repeated to fill it; samples of float
  // types may be any bit pattern, NaN and infinities included.
  const std::vector<uint8_t> rest = in.ConsumeRemainingBytes<uint8_t>();
  const size_t bytes = size_t(c->source_extent.width) *
                       size_t(c->source_extent.height) *
                       size_t(babl_format_get_bytes_per_pixel(babl_format(c->format)));
  c->source_pixels.resize(bytes);
  for (size_t i = 0; i < bytes; ++i)
    c->source_pixels[i] = rest.empty() ? static_cast<unsigned char>(i * 37 + 11)
                                       : rest[i % rest.size()];
}
