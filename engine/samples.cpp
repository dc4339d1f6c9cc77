// Samples: the format the source is read and the layer written in, cells of
// wider samples as floats, and the quantising store of a kernel's result.
#include <cmath>
#include <cstring>
#include <limits>

#include "tessaform.h"

static bool type_is(const Babl *type, const char *name) {
  return type == babl_type(name);
}

void warp_samples_init(warp *w, const Babl *native) {
  const Babl *type = babl_format_get_type(native, 0);
  const char *kind = "u8";
  w->sample = SAMPLE_U8;
  if (type_is(type, "u16")) {
    kind = "u16";
    w->sample = SAMPLE_U16;
  } else if (!type_is(type, "u8")) {
    // u32 too: float holds more than the kernels' arithmetic resolves.
    kind = "float";
    w->sample = SAMPLE_FLOAT;
  }
  w->unbounded = type_is(type, "float") || type_is(type, "half") ||
                 type_is(type, "double");
  char name[64];
  g_snprintf(name, sizeof name, "%s %s",
             babl_get_name(babl_format_get_model(native)), kind);
  w->format = babl_format_with_space(name, babl_format_get_space(native));
  w->bpp = babl_format_get_bytes_per_pixel(w->format);
  w->channels = babl_format_get_n_components(w->format);
  w->has_alpha = babl_format_has_alpha(w->format);
}

void sample_cell_values(int32_t sample, int32_t channels,
                        const unsigned char *cell, float *out) {
  if (sample == SAMPLE_U16) {
    uint16_t v[CHANNELS_MAX];
    std::memcpy(v, cell, sizeof(uint16_t) * size_t(channels));
    // Within an ulp of v / 65535: the store's rounding gives v back.
    for (int32_t c = 0; c < channels; ++c)
      out[c] = float(v[c]) * (1.0f / 65535.0f);
  } else {
    std::memcpy(out, cell, sizeof(float) * size_t(channels));
  }
}

static float clamp_unit(float v) {
  return v < 0.0f ? 0.0f : v > 1.0f ? 1.0f : v;
}

// The 8-bit kernels' own rounding: half added in float, then floored.
static unsigned char quantise_u8(float v) {
  const float r = v + 0.5f;
  if (!(r >= 0.0f)) return 0;
  if (r > 255.0f) return 255;
  return static_cast<unsigned char>(std::floor(static_cast<double>(r)));
}

static uint16_t quantise_u16(float v) {
  const double q = std::floor(static_cast<double>(clamp_unit(v)) * 65535.0 + 0.5);
  return static_cast<uint16_t>(q);
}

void sample_store(const buffer *b, int32_t unbounded, const float *values,
                  int32_t computed, unsigned char *pixel) {
  const int32_t n = b->channels;
  if (b->sample == SAMPLE_U8) {
    for (int32_t c = 0; c < n; ++c) pixel[c] = quantise_u8(values[c]);
    if (computed && b->alpha >= 0 && pixel[b->alpha] == 0)
      std::memset(pixel, 0, size_t(n));
  } else if (b->sample == SAMPLE_U16) {
    uint16_t q[CHANNELS_MAX];
    for (int32_t c = 0; c < n; ++c) q[c] = quantise_u16(values[c]);
    if (computed && b->alpha >= 0 && q[b->alpha] == 0)
      std::memset(q, 0, sizeof q);
    std::memcpy(pixel, q, sizeof(uint16_t) * size_t(n));
  } else {
    float f[CHANNELS_MAX];
    // A computed result that is not a number is stored as the one quiet
    // NaN: which NaN an operation passes on (its sign, its payload) depends
    // on the order the compiler put the operands in, and means nothing.
    // Copied cells keep theirs.
    for (int32_t c = 0; c < n; ++c)
      f[c] = computed && std::isnan(values[c])
                 ? std::numeric_limits<float>::quiet_NaN()
             : unbounded ? values[c]
                         : clamp_unit(values[c]);
    if (computed && b->alpha >= 0) {
      // Alpha is a coverage whatever the precision.
      f[b->alpha] = clamp_unit(f[b->alpha]);
      if (!(f[b->alpha] > 0.0f)) std::memset(f, 0, sizeof f);
    }
    std::memcpy(pixel, f, sizeof(float) * size_t(n));
  }
}
