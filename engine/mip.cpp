// Reduced copies of the source box for strong shrinks, in linear light with
// colour weighted by alpha, each level half the one before through the
// separable 12-tap filter Lanczos-3 gives at half the rate. Against the
// 2 x 2 box (or its smoother (1 3 3 1) / 8) it keeps what the elliptical
// average reads: at 8 texels across an ellipse, (1 3 3 1) / 8 passes 71% at
// the filter's cutoff and up to 9% of what folds back into its pass band,
// this one 99% and 1.3%; with (1 3 3 1) / 8 a zone plate shrunk 4x scored
// 3 to 5 dB lower.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <xmmintrin.h>
#endif

#include "tessaform.h"

namespace {

constexpr int32_t TAPS = 12;
// Source rows read and converted at a time.
constexpr int32_t CHUNK_ROWS = 16;

// Tap t weighs the finer texel 2 i - 5 + t for texel i: Lanczos-3 at the
// finer texels' distance from the coarse texel's centre, halved.
struct reduction {
  float weight[TAPS];
  reduction() {
    double w[TAPS], total = 0;
    for (int32_t t = 0; t < TAPS; ++t) {
      const double x = 0.5 * (t - 5.5), px = M_PI * x;
      w[t] = 3 * std::sin(px) * std::sin(px / 3) / (px * px);
      total += w[t];
    }
    for (int32_t t = 0; t < TAPS; ++t) weight[t] = float(w[t] / total);
  }
};

const reduction &reduction_get() {
  static const reduction r;
  return r;
}

// Texel i of a row of `width` texels, its edges repeated.
inline const float *texel_at(const float *row, int32_t i, int32_t width,
                             int32_t texel) {
  return row + size_t(std::clamp(i, 0, width - 1)) * size_t(texel);
}

// The taps are symmetric: mirrored texels are added before they are
// weighed, six products instead of twelve, and the products are summed in
// pairs, not each onto the sum of the ones before.
template <int32_t TEXEL>
void reduce_texel(const float *const *f, const float *w, float *out) {
  for (int32_t c = 0; c < TEXEL; ++c) {
    float p[TAPS / 2];
    for (int32_t t = 0; t < TAPS / 2; ++t)
      p[t] = w[t] * (f[t][c] + f[TAPS - 1 - t][c]);
    out[c] = ((p[0] + p[1]) + (p[2] + p[3])) + (p[4] + p[5]);
  }
}

#if defined(__SSE2__)
// Twelve vectors a, a + step, ... a + 11 step, weighed by the taps: the
// products of mirrored pairs summed in pairs, spelled out so that nothing
// goes through memory.
__attribute__((always_inline)) inline __m128 reduce_vectors(
    const float *w, const float *const *v) {
  auto pair = [&](int32_t t) {
    return _mm_mul_ps(_mm_set1_ps(w[t]), _mm_add_ps(_mm_loadu_ps(v[t]),
                                                    _mm_loadu_ps(v[TAPS - 1 - t])));
  };
  const __m128 p0 = pair(0), p1 = pair(1), p2 = pair(2), p3 = pair(3),
               p4 = pair(4), p5 = pair(5);
  return _mm_add_ps(_mm_add_ps(_mm_add_ps(p0, p1), _mm_add_ps(p2, p3)),
                    _mm_add_ps(p4, p5));
}
#endif

// One row reduced along x; texels whose taps all lie inside take no
// clamping.
template <int32_t TEXEL>
void reduce_across(const float *from, int32_t from_width, int32_t to_width,
                   float *to) {
  const float *w = reduction_get().weight;
  for (int32_t i = 0; i < to_width; ++i) {
    const float *f[TAPS];
    const int32_t first = 2 * i - 5;
    for (int32_t t = 0; t < TAPS; ++t)
      f[t] = first >= 0 && first + TAPS <= from_width
                 ? from + size_t(first + t) * TEXEL
                 : texel_at(from, first + t, from_width, TEXEL);
    reduce_texel<TEXEL>(f, w, to + size_t(i) * TEXEL);
  }
}

#if defined(__SSE2__)
template <>
void reduce_across<4>(const float *from, int32_t from_width, int32_t to_width,
                      float *to) {
  const float *w = reduction_get().weight;
  int32_t i = 0;
  auto edge = [&]() {
    const float *f[TAPS];
    for (int32_t t = 0; t < TAPS; ++t)
      f[t] = texel_at(from, 2 * i - 5 + t, from_width, 4);
    _mm_storeu_ps(to + size_t(i) * 4, reduce_vectors(w, f));
  };
  for (; i < to_width && 2 * i - 5 < 0; ++i) edge();
  for (; i < to_width && 2 * i + 7 <= from_width; ++i) {
    const float *b = from + size_t(2 * i - 5) * 4;
    const float *f[TAPS] = {b,      b + 4,  b + 8,  b + 12, b + 16, b + 20,
                            b + 24, b + 28, b + 32, b + 36, b + 40, b + 44};
    _mm_storeu_ps(to + size_t(i) * 4, reduce_vectors(w, f));
  }
  for (; i < to_width; ++i) edge();
}
#endif

void reduce_across(const float *from, int32_t from_width, int32_t texel,
                   int32_t to_width, float *to) {
  switch (texel) {
    case 1: reduce_across<1>(from, from_width, to_width, to); break;
    case 2: reduce_across<2>(from, from_width, to_width, to); break;
    case 3: reduce_across<3>(from, from_width, to_width, to); break;
    default: reduce_across<4>(from, from_width, to_width, to); break;
  }
}

// One output row from the TAPS rows reduced along x.
void reduce_down(const float *const *r, size_t floats, float *out) {
  const float *w = reduction_get().weight;
  size_t k = 0;
#if defined(__SSE2__)
  for (; k + 4 <= floats; k += 4) {
    const float *f[TAPS];
    for (int32_t t = 0; t < TAPS; ++t) f[t] = r[t] + k;
    _mm_storeu_ps(out + k, reduce_vectors(w, f));
  }
#endif
  for (; k < floats; ++k) {
    float p[TAPS / 2];
    for (int32_t t = 0; t < TAPS / 2; ++t)
      p[t] = w[t] * (r[t][k] + r[TAPS - 1 - t][k]);
    out[k] = ((p[0] + p[1]) + (p[2] + p[3])) + (p[4] + p[5]);
  }
}

// Rows of the finer level reduced along x, each kept for the TAPS output
// rows that read it; row y sits in slot y % TAPS.
struct reduced_rows {
  float *slot[TAPS];
  int32_t held[TAPS];
};

// Builds level `to` from a finer level of from_width x from_height texels,
// whose row y `row(y)` gives.
template <typename Row>
void reduce_level(Row row, int32_t from_width, int32_t from_height,
                  int32_t texel, reduced_rows &ring, const mip_level &to) {
  const size_t stride = size_t(to.width) * size_t(texel);
  for (int32_t s = 0; s < TAPS; ++s) ring.held[s] = -1;
  for (int32_t j = 0; j < to.height; ++j) {
    const float *r[TAPS];
    for (int32_t t = 0; t < TAPS; ++t) {
      const int32_t y = std::clamp(2 * j - 5 + t, 0, from_height - 1);
      const int32_t s = y % TAPS;
      if (ring.held[s] != y) {
        reduce_across(row(y), from_width, texel, to.width, ring.slot[s]);
        ring.held[s] = y;
      }
      r[t] = ring.slot[s];
    }
    reduce_down(r, stride, const_cast<float *>(to.data) + size_t(j) * stride);
  }
}

size_t level_floats(const mip_level &l, int32_t texel) {
  return size_t(l.width) * size_t(l.height) * size_t(texel);
}

}  // namespace

bool source_mip_build(source_mip *m, const warp *w, const light_curve *l,
                      const source_pixels *memory, int32_t levels_max,
                      bool fail) {
  *m = source_mip{};
  const bounds *sb = w->src->bounds;
  if (sb->width < 1 || sb->height < 1) return true;
  const int32_t texel = l->texel;
  m->x0 = sb->x0;
  m->y0 = sb->y0;
  m->level[0] = {nullptr, sb->width, sb->height};
  size_t total = 0;
  int32_t levels = 0;
  while ((m->level[levels].width > 1 || m->level[levels].height > 1) &&
         levels < std::min(levels_max, MIP_LEVELS_MAX)) {
    const mip_level &from = m->level[levels];
    m->level[++levels] = {nullptr, (from.width + 1) / 2, (from.height + 1) / 2};
    total += level_floats(m->level[levels], texel);
  }
  if (levels == 0) return true;
  // Beside the levels: the reduced rows, and a chunk of source rows in
  // linear light and their bytes.
  const size_t ring = size_t(TAPS) * size_t(m->level[1].width) * size_t(texel);
  const size_t line = size_t(sb->width) * size_t(texel) * CHUNK_ROWS;
  // The source's bytes only where they are read from GEGL.
  const size_t bytes =
      memory ? 0 : size_t(sb->width) * size_t(w->bpp) * CHUNK_ROWS;
  if (!fail)
    m->storage = static_cast<float *>(
        pixel_memory_alloc(sizeof(float) * (total + ring + line) + bytes));
  if (!m->storage) {
    *m = source_mip{};
    return false;
  }
  m->levels = levels;
  float *next = m->storage;
  for (int32_t k = 1; k <= levels; ++k) {
    m->level[k].data = next;
    next += level_floats(m->level[k], texel);
  }
  reduced_rows rows{};
  for (int32_t s = 0; s < TAPS; ++s)
    rows.slot[s] = next + size_t(s) * size_t(m->level[1].width) * size_t(texel);
  float *decoded = next + ring;
  unsigned char *source = reinterpret_cast<unsigned char *>(decoded + line);

  // Rows are asked for in order: each chunk is read and converted once,
  // from the render's copy of the source where it holds one.
  int32_t chunk = -CHUNK_ROWS;
  const size_t line_floats = size_t(sb->width) * size_t(texel);
  auto source_row = [&](int32_t y) -> const float * {
    if (y < chunk || y >= chunk + CHUNK_ROWS) {
      chunk = y;
      const int32_t n = std::min(CHUNK_ROWS, sb->height - y);
      if (memory) {
        const size_t column = size_t(sb->x0 - memory->x0) * size_t(memory->bpp);
        for (int32_t r = 0; r < n; ++r)
          light_decode(l, memory->rows[sb->y0 + y + r - memory->y0] + column,
                       sb->width, decoded + size_t(r) * line_floats);
      } else {
        const GeglRectangle rect = {sb->x0 - w->source_extent.x0,
                                    sb->y0 + y - w->source_extent.y0,
                                    sb->width, n};
        gegl_buffer_get(w->gegl_buffer, &rect, 1.0, w->format, source,
                        GEGL_AUTO_ROWSTRIDE, GEGL_ABYSS_NONE);
        light_decode(l, source, sb->width * n, decoded);
      }
    }
    return decoded + size_t(y - chunk) * line_floats;
  };
  reduce_level(source_row, sb->width, sb->height, texel, rows, m->level[1]);
  for (int32_t k = 2; k <= levels; ++k) {
    const mip_level &from = m->level[k - 1];
    auto level_row = [&](int32_t y) {
      return from.data + size_t(y) * size_t(from.width) * size_t(texel);
    };
    reduce_level(level_row, from.width, from.height, texel, rows, m->level[k]);
  }
  return true;
}

void source_mip_free(source_mip *m) {
  std::free(m->storage);
  *m = source_mip{};
}
