// Linear light for anti-aliasing: averaging code values darkens fine
// detail (a black and white pattern goes to 128, a fifth of white's light,
// not half), so samples are taken to linear light first and the average
// brought back to the drawable's own curve. babl knows the curve of every
// space: it converts wide samples (at double, see light_curve), and fills
// the tables 8-bit samples go through both ways.
#include <algorithm>
#include <cstring>

#include "tessaform.h"

namespace {

const Babl *double_format(const char *model, const Babl *space) {
  char name[64];
  g_snprintf(name, sizeof name, "%s double", model);
  return babl_format_with_space(name, space);
}

// Pixels converted at a time on the stack.
constexpr int32_t CHUNK = 64;

// babl's conversion to premultiplied float takes a slow general path for
// 8-bit samples (60 ns a pixel here against 1.3 ns to straight float):
// colour is weighted by alpha here instead.
void weight_by_alpha(const light_curve *l, int32_t n, float *texels) {
  if (l->alpha < 0) return;
  for (int32_t i = 0; i < n; ++i) {
    float *t = texels + size_t(i) * size_t(l->texel);
    for (int32_t c = 0; c < l->alpha; ++c) t[c] *= t[l->alpha];
  }
}

// The 8-bit tables: each byte's light, and the light where each code's
// rounding gives way to the next one's.
void tables_init(light_curve *l) {
  const int32_t n = l->channels;
  double codes[256 * CHANNELS_MAX], light[256 * CHANNELS_MAX];
  // Opaque: alpha has no curve, and a transparent pixel's colour may not
  // survive a conversion.
  for (int32_t i = 0; i < 256; ++i)
    for (int32_t c = 0; c < n; ++c)
      codes[i * n + c] = c == n - 1 && l->alpha >= 0 ? 1.0 : i / 255.0;
  babl_process(l->decode, codes, light, 256);
  for (int32_t i = 0; i < 256; ++i)
    for (int32_t c = 0; c < l->texel; ++c)
      l->bytes[c][i] =
          c == l->alpha ? float(i) / 255.0f : float(light[i * l->texel + c]);
  if (!l->encode) return;
  // Where code i's band ends: code i + 0.5, in light.
  for (int32_t i = 0; i < 256; ++i)
    for (int32_t c = 0; c < n; ++c)
      codes[i * n + c] = c == n - 1 && l->alpha >= 0
                             ? 1.0
                             : double(std::min(i + 0.5f, 255.0f) / 255.0f);
  babl_process(l->decode, codes, light, 256);
  for (int32_t c = 0; c < l->colours; ++c) {
    for (int32_t i = 0; i < 255; ++i)
      l->bounds[c][i] = float(light[i * l->texel + c]);
    l->bounds[c][255] = 1e30f;
    int32_t code = 0;
    for (int32_t g = 0; g < LIGHT_GUESSES; ++g) {
      const float v = float(g) / LIGHT_GUESSES;
      while (code < 255 && v >= l->bounds[c][code]) ++code;
      l->guess[c][g] = (unsigned char)code;
    }
  }
}

}  // namespace

void light_curve_init(light_curve *l, const warp *w) {
  *l = light_curve{};
  l->channels = w->channels;
  l->colours = w->has_alpha ? w->channels - 1 : w->channels;
  l->sample = w->sample;
  const Babl *model = babl_format_get_model(w->format);
  const Babl *space = babl_format_get_space(w->format);
  const char *model_name = babl_get_name(model);
  const int flags = babl_get_model_flags(model);
  const bool curved = (flags & (BABL_MODEL_FLAG_NONLINEAR |
                                BABL_MODEL_FLAG_PERCEPTUAL)) != 0;
  const Babl *texels = nullptr;
  if (!(flags & BABL_MODEL_FLAG_ASSOCIATED) && (flags & BABL_MODEL_FLAG_RGB)) {
    // RGB without alpha gains an opaque one: four floats a texel either way.
    texels = double_format("RGBA", space);
    l->texel = 4;
    l->alpha = w->has_alpha ? 3 : -1;
  } else if (!(flags & BABL_MODEL_FLAG_ASSOCIATED) &&
             (flags & BABL_MODEL_FLAG_GRAY)) {
    texels = double_format(w->has_alpha ? "YA" : "Y", space);
    l->texel = w->has_alpha ? 2 : 1;
    l->alpha = w->has_alpha ? 1 : -1;
  } else {
    // No curve we know how to undo: the values are averaged as they are.
    texels = double_format(model_name, space);
    l->texel = w->channels;
    l->alpha = w->has_alpha ? w->channels - 1 : -1;
  }
  const Babl *own = double_format(model_name, space);
  l->decode = babl_fish(own, texels);
  if (curved && texels != own) l->encode = babl_fish(texels, own);
  if (w->sample == SAMPLE_U8) tables_init(l);
}

void light_decode(const light_curve *l, const unsigned char *pixels,
                  int32_t n, float *out) {
  if (l->sample != SAMPLE_U8) {
    const int32_t channels = l->channels, texel = l->texel;
    double values[CHUNK * CHANNELS_MAX], texels[CHUNK * CHANNELS_MAX];
    for (int32_t start = 0; start < n; start += CHUNK) {
      const int32_t k = std::min(CHUNK, n - start);
      const int32_t m = k * channels;
      if (l->sample == SAMPLE_U16) {
        const auto *v = reinterpret_cast<const uint16_t *>(pixels) +
                        size_t(start) * size_t(channels);
        for (int32_t i = 0; i < m; ++i) values[i] = v[i] / 65535.0;
      } else {
        const auto *v = reinterpret_cast<const float *>(pixels) +
                        size_t(start) * size_t(channels);
        for (int32_t i = 0; i < m; ++i) values[i] = v[i];
      }
      babl_process(l->decode, values, texels, k);
      float *o = out + size_t(start) * size_t(texel);
      for (int32_t i = 0; i < k * texel; ++i) o[i] = float(texels[i]);
    }
  } else if (l->texel == 4 && l->alpha == 3) {
    // RGBA, the common case, with colour weighted as it is read.
    for (int32_t i = 0; i < n; ++i) {
      const unsigned char *p = pixels + size_t(i) * 4;
      float *t = out + size_t(i) * 4;
      const float a = l->bytes[3][p[3]];
      t[0] = l->bytes[0][p[0]] * a;
      t[1] = l->bytes[1][p[1]] * a;
      t[2] = l->bytes[2][p[2]] * a;
      t[3] = a;
    }
    return;
  } else {
    // A texel may have a channel more than the pixel (RGB gains alpha).
    const int32_t channels = l->channels, texel = l->texel;
    for (int32_t i = 0; i < n; ++i) {
      const unsigned char *p = pixels + size_t(i) * size_t(channels);
      float *t = out + size_t(i) * size_t(texel);
      for (int32_t c = 0; c < texel; ++c)
        t[c] = c < channels ? l->bytes[c][p[c]] : 1.0f;
    }
  }
  weight_by_alpha(l, n, out);
}

void light_encode(const light_curve *l, const float *texel, float *out) {
  if (l->sample == SAMPLE_U8 && l->encode) {
    // The code whose rounding band holds the light: a guess from the
    // light's place in 0..1, moved to the band.
    for (int32_t c = 0; c < l->colours; ++c) {
      const float v = texel[c];
      const float *bound = l->bounds[c];
      int32_t code = l->guess[c][!(v > 0.0f) ? 0
                                 : v < 1.0f ? int32_t(v * LIGHT_GUESSES)
                                            : LIGHT_GUESSES - 1];
      while (code < 255 && v >= bound[code]) ++code;
      while (code > 0 && v < bound[code - 1]) --code;
      out[c] = float(code);
    }
    if (l->alpha >= 0) out[l->channels - 1] = texel[l->alpha] * 255.0f;
    return;
  }
  if (l->encode) {
    double in[CHANNELS_MAX], values[CHANNELS_MAX];
    for (int32_t c = 0; c < l->texel; ++c) in[c] = texel[c];
    babl_process(l->encode, in, values, 1);
    for (int32_t c = 0; c < l->channels; ++c) out[c] = float(values[c]);
  } else {
    std::memcpy(out, texel, sizeof(float) * size_t(l->channels));
  }
  if (l->sample != SAMPLE_U8) return;
  for (int32_t c = 0; c < l->channels; ++c) out[c] *= 255.0f;
}
