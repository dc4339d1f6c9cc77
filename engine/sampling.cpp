// Sampling: the neighbourhood buffer, the interpolator that fills it from the
// source, and the four interpolation kernels.
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "tessaform.h"

// ------------------------------------------------------ neighbourhood buffer

void buffer_free(buffer *) {}

void buffer_set(buffer *b, float x, float y) {
  b->x = x;
  b->y = y;
  b->ix = static_cast<int32_t>(std::floor(static_cast<double>(x) - 0.5));
  b->iy = static_cast<int32_t>(std::floor(static_cast<double>(y) - 0.5));
  b->x0 = b->ix - b->half + 1;
  b->y0 = b->iy - b->half + 1;
  b->x1 = b->x0 + b->size;
  b->y1 = b->y0 + b->size;
}

unsigned char *buffer_get_pixel(buffer *b, int32_t x, int32_t y) {
  if (!b->valid) return nullptr;
  int32_t k = x - b->x0;
  int32_t l = y - b->y0;
  if (k < 0 || l < 0 || k >= b->size || l >= b->size) return nullptr;
  return b->data[k][l];
}

void buffer_init(buffer *b, interpolation *owner, int32_t size) {
  b->owner = owner;
  b->valid = 0;
  b->size = size;
  b->half = size / 2;
  const warp *w = owner->warp;
  b->bpp = w->bpp;
  b->sample = w->sample;
  b->channels = w->sample == SAMPLE_U8 ? w->bpp : w->channels;
  b->alpha = w->has_alpha ? b->channels - 1 : -1;
  if (b != owner->previous) buffer_init(owner->previous, owner, size);
}

// -------------------------------------------------------------- interpolator

void interpolation_init(interpolation *in, warp *w) {
  in->warp = w;
  in->current = &in->buffers[0];
  in->previous = &in->buffers[1];
  in->get_pixel_value = interpolation_get_pixel_value_near;
  in->values = nullptr;
  in->offset_x = w->source_extent.x0;
  in->offset_y = w->source_extent.y0;
  in->memory = nullptr;
  buffer_init(in->current, in, 2);
}

// Clamps a window coordinate into the source box [b0, b0 + size); an empty
// box clamps everything to b0 + size - 1.
static int32_t clamp_to_box(int32_t v, int32_t b0, int32_t size) {
  int32_t c = v - b0;
  if (c < 0) c = 0;
  if (c >= size) c = size - 1;
  return b0 + c;
}

// Pixel (x, y) of a source held by tiles; the band's reach guarantees the
// tile and the pixel are held.
static const unsigned char *tile_pixel(const source_pixels *mem, int32_t x,
                                       int32_t y) {
  const uint32_t i = uint32_t(x - mem->tile_x0) >> mem->tile_shift;
  const uint32_t j = uint32_t(y - mem->tile_y0) >> mem->tile_shift;
  const source_tile &t =
      mem->tiles[mem->tile_index[j * uint32_t(mem->tile_columns) + i]];
  return t.data + size_t(y - t.y0) * t.stride +
         size_t(x - t.x0) * size_t(mem->bpp);
}

// Copies the window's cells from where `at(k, l)` finds them.
template <typename Address>
static void copy_cells(buffer *cur, Address at) {
  const int32_t size = cur->size;
  if (cur->sample == SAMPLE_U8) {
    for (int32_t k = 0; k < size; ++k)
      for (int32_t l = 0; l < size; ++l)
        std::memcpy(cur->data[k][l], at(k, l), PIXEL_MAX_BYTES);
    return;
  }
  for (int32_t k = 0; k < size; ++k)
    for (int32_t l = 0; l < size; ++l)
      sample_cell_values(cur->sample, cur->channels, at(k, l),
                         cur->values[k][l]);
}

// The window's pixels, clamped to the box, come in one read: a read's fixed
// cost is many times a pixel's.
static void fill_from_gegl(interpolation *in, buffer *cur, const bounds *sb,
                           int32_t bpp) {
  const int32_t px0 = clamp_to_box(cur->x0, sb->x0, sb->width);
  const int32_t py0 = clamp_to_box(cur->y0, sb->y0, sb->height);
  const int32_t cols = clamp_to_box(cur->x1 - 1, sb->x0, sb->width) - px0 + 1;
  const int32_t rows = clamp_to_box(cur->y1 - 1, sb->y0, sb->height) - py0 + 1;
  // Zeroed: 8-bit cells are copied 4 bytes at a time, past the last pixel.
  unsigned char window[BUFFER_MAX_SIZE * BUFFER_MAX_SIZE * SAMPLE_MAX_BYTES] = {};
  const GeglRectangle rect = {px0 - in->offset_x, py0 - in->offset_y, cols,
                              rows};
  gegl_buffer_get(in->warp->gegl_buffer, &rect, 1.0, in->warp->format, window,
                  GEGL_AUTO_ROWSTRIDE, GEGL_ABYSS_NONE);
  int32_t column[BUFFER_MAX_SIZE], row[BUFFER_MAX_SIZE];
  for (int32_t k = 0; k < cur->size; ++k)
    column[k] = clamp_to_box(cur->x0 + k, sb->x0, sb->width) - px0;
  for (int32_t l = 0; l < cur->size; ++l)
    row[l] = clamp_to_box(cur->y0 + l, sb->y0, sb->height) - py0;
  copy_cells(cur, [&](int32_t k, int32_t l) {
    return window + (size_t(row[l]) * size_t(cols) + size_t(column[k])) *
                        size_t(bpp);
  });
}

// A window of a source held by tiles. Most windows lie within one tile:
// rows and columns of one read.
static void fill_from_tiles(const source_pixels *mem, buffer *cur,
                            const bounds *sb) {
  const int32_t size = cur->size;
  int32_t px[BUFFER_MAX_SIZE], py[BUFFER_MAX_SIZE];
  for (int32_t k = 0; k < size; ++k)
    px[k] = clamp_to_box(cur->x0 + k, sb->x0, sb->width);
  for (int32_t l = 0; l < size; ++l)
    py[l] = clamp_to_box(cur->y0 + l, sb->y0, sb->height);
  const int32_t shift = mem->tile_shift;
  const uint32_t left = uint32_t(px[0] - mem->tile_x0) >> shift;
  const uint32_t top = uint32_t(py[0] - mem->tile_y0) >> shift;
  if (uint32_t(px[size - 1] - mem->tile_x0) >> shift != left ||
      uint32_t(py[size - 1] - mem->tile_y0) >> shift != top) {
    copy_cells(cur, [&](int32_t k, int32_t l) {
      return tile_pixel(mem, px[k], py[l]);
    });
    return;
  }
  const source_tile &t =
      mem->tiles[mem->tile_index[top * uint32_t(mem->tile_columns) + left]];
  size_t column[BUFFER_MAX_SIZE];
  const unsigned char *row[BUFFER_MAX_SIZE];
  for (int32_t k = 0; k < size; ++k)
    column[k] = size_t(px[k] - t.x0) * size_t(mem->bpp);
  for (int32_t l = 0; l < size; ++l)
    row[l] = t.data + size_t(py[l] - t.y0) * t.stride;
  copy_cells(cur, [&](int32_t k, int32_t l) { return row[l] + column[k]; });
}

// The memory holds every pixel the clamping can reach and is padded, so each
// 8-bit cell takes a whole 4-byte copy; bytes past `bpp` carry no meaning.
// Wider samples become floats as they are fetched: the source stays in its
// own, smaller, type.
static void fill_from_memory(const source_pixels *mem, buffer *cur,
                             const bounds *sb) {
  if (mem->tiles) {
    fill_from_tiles(mem, cur, sb);
    return;
  }
  const size_t stride = size_t(mem->width) * size_t(mem->bpp);
  size_t column[BUFFER_MAX_SIZE];
  const unsigned char *row[BUFFER_MAX_SIZE];
  const int32_t size = cur->size;
  for (int32_t k = 0; k < size; ++k)
    column[k] = size_t(clamp_to_box(cur->x0 + k, sb->x0, sb->width) - mem->x0) *
                size_t(mem->bpp);
  for (int32_t l = 0; l < size; ++l) {
    const size_t y = size_t(clamp_to_box(cur->y0 + l, sb->y0, sb->height) -
                            mem->y0);
    row[l] = mem->rows ? mem->rows[y] : mem->data + y * stride;
  }
  copy_cells(cur, [&](int32_t k, int32_t l) { return row[l] + column[k]; });
}

// Fills the current window around (x, y) and gives the sample's offset in
// it.
static void interpolation_fill(interpolation *in, float x, float y, float *dx,
                               float *dy) {
  const bounds *sb = in->warp->src->bounds;

  buffer *swap = in->current;
  in->current = in->previous;
  in->previous = swap;

  buffer *cur = in->current;
  buffer_set(cur, x, y);
  // Windows reaching past the source box repeat its edge pixels, so kernels
  // never test bounds.
  if (in->memory)
    fill_from_memory(in->memory, cur, sb);
  else
    fill_from_gegl(in, cur, sb, in->warp->bpp);
  cur->valid = 1;

  const int32_t h = cur->half;
  *dx = static_cast<float>(static_cast<double>(x) -
                           ((static_cast<double>(cur->x0 + h)) - 0.5));
  *dy = static_cast<float>(static_cast<double>(y) -
                           ((static_cast<double>(cur->y0 + h)) - 0.5));
}

unsigned char *interpolation_get_pixel(interpolation *in, float x, float y,
                                       unsigned char *pixel) {
  float dx, dy;
  interpolation_fill(in, x, y, &dx, &dy);
  return in->get_pixel_value(in, dx, dy, pixel);
}

// ------------------------------------------------------------------ kernels

static unsigned char clamp_floor(float v) {
  if (v < 0.0f) return 0;
  if (v > 255.0f) return 255;
  return static_cast<unsigned char>(std::floor(static_cast<double>(v)));
}

unsigned char *interpolation_get_pixel_value_near(interpolation *in, float dx,
                                                  float dy,
                                                  unsigned char *pixel) {
  const buffer *b = in->current;
  const int k = dx > 0.5f ? 1 : 0;
  const int l = dy > 0.5f ? 1 : 0;
  std::memcpy(pixel, b->data[k][l], size_t(b->bpp));
  return pixel;
}

static float linear(float t, float a, float b) {
  const double left = (1.0 - static_cast<double>(t)) * static_cast<double>(a);
  const float right = t * b;
  return static_cast<float>(left + static_cast<double>(right));
}

// ------------------------------------------------ colour weighted by alpha

// Cells of equal alpha need no weighting: their colour comes out of the
// plain arithmetic unchanged, so such windows give the same bytes as before
// alpha counted.
static bool alpha_uniform(const buffer *b) {
  if (b->alpha < 0) return true;
  const int32_t a = b->alpha, n = b->size;
  if (b->sample == SAMPLE_U8) {
    const unsigned char first = b->data[0][0][a];
    for (int32_t k = 0; k < n; ++k)
      for (int32_t l = 0; l < n; ++l)
        if (b->data[k][l][a] != first) return false;
  } else {
    const float first = b->values[0][0][a];
    for (int32_t k = 0; k < n; ++k)
      for (int32_t l = 0; l < n; ++l)
        if (b->values[k][l][a] != first) return false;
  }
  return true;
}

// Uniform alpha of zero: only stored colour of transparent pixels, which
// must not show.
static bool alpha_uniform_zero(const buffer *b) {
  if (b->alpha < 0) return false;
  return b->sample == SAMPLE_U8 ? b->data[0][0][b->alpha] == 0
                                : !(b->values[0][0][b->alpha] > 0.0f);
}

static void cells_weight_by_alpha(const cell_values &cells, int32_t size,
                                  int32_t channels, int32_t alpha,
                                  cell_values &weighted) {
  for (int32_t k = 0; k < size; ++k)
    for (int32_t l = 0; l < size; ++l) {
      const float *cell = cells[k][l];
      for (int32_t c = 0; c < channels; ++c)
        weighted[k][l][c] = c == alpha ? cell[c] : cell[c] * cell[alpha];
    }
}

float interpolation_values_weighted(interpolation_values values,
                                    const cell_values &cells, int32_t size,
                                    int32_t channels, int32_t alpha, float dx,
                                    float dy, float *out) {
  cell_values weighted;
  cells_weight_by_alpha(cells, size, channels, alpha, weighted);
  values(weighted, channels, dx, dy, out);
  const float a = out[alpha];
  for (int32_t c = 0; c < channels; ++c)
    if (c != alpha) out[c] = a > 0.0f ? out[c] / a : 0.0f;
  return a;
}

static void cells_to_values(const buffer *b, cell_values &cells) {
  for (int32_t k = 0; k < b->size; ++k)
    for (int32_t l = 0; l < b->size; ++l)
      for (int32_t c = 0; c < b->channels; ++c)
        cells[k][l][c] = b->data[k][l][c];
}

// One kernel over a window: weighted by alpha when alpha varies in it, then
// quantised into the pixel.
static unsigned char *kernel_sample(interpolation *in,
                                    interpolation_values values, float dx,
                                    float dy, unsigned char *pixel) {
  const buffer *b = in->current;
  float out[CHANNELS_MAX];
  if (b->sample == SAMPLE_U8) {
    cell_values cells;
    cells_to_values(b, cells);
    interpolation_values_weighted(values, cells, b->size, b->channels,
                                  b->alpha, dx, dy, out);
  } else if (alpha_uniform(b)) {
    values(b->values, b->channels, dx, dy, out);
  } else {
    interpolation_values_weighted(values, b->values, b->size, b->channels,
                                  b->alpha, dx, dy, out);
  }
  sample_store(b, in->warp->unbounded, out, 1, pixel);
  return pixel;
}

// Nearest copies a cell as it is, alpha and all.
static unsigned char *kernel_near_values(interpolation *in, float dx, float dy,
                                         unsigned char *pixel) {
  const buffer *b = in->current;
  const int k = dx > 0.5f ? 1 : 0;
  const int l = dy > 0.5f ? 1 : 0;
  sample_store(b, in->warp->unbounded, b->values[k][l], 0, pixel);
  return pixel;
}

template <interpolation_values Values>
static unsigned char *kernel_values(interpolation *in, float dx, float dy,
                                    unsigned char *pixel) {
  const buffer *b = in->current;
  if (alpha_uniform_zero(b) && alpha_uniform(b)) {
    std::memset(pixel, 0, size_t(b->bpp));
    return pixel;
  }
  return kernel_sample(in, Values, dx, dy, pixel);
}

// The 8-bit kernels below take their own faster arithmetic for windows of
// one alpha; this is the rest.
static bool needs_weighting(interpolation *in, float dx, float dy,
                            unsigned char *pixel, interpolation_values values) {
  const buffer *b = in->current;
  if (!alpha_uniform(b)) {
    kernel_sample(in, values, dx, dy, pixel);
    return true;
  }
  if (alpha_uniform_zero(b)) {
    std::memset(pixel, 0, size_t(b->bpp));
    return true;
  }
  return false;
}

// --------------------------------------------------------- 8-bit kernels

void interpolation_values_linear(const cell_values &v, int32_t channels,
                                 float dx, float dy, float *out) {
  for (int32_t c = 0; c < channels; ++c) {
    const float top = linear(dx, v[0][0][c], v[1][0][c]);
    const float bottom = linear(dx, v[0][1][c], v[1][1][c]);
    out[c] = linear(dy, top, bottom);
  }
}

unsigned char *interpolation_get_pixel_value_linear(interpolation *in,
                                                    float dx, float dy,
                                                    unsigned char *pixel) {
  if (needs_weighting(in, dx, dy, pixel, interpolation_values_linear))
    return pixel;
  const buffer *b = in->current;
  for (int32_t c = 0; c < b->bpp; ++c) {
    const float top = linear(dx, b->data[0][0][c], b->data[1][0][c]);
    const float bottom = linear(dx, b->data[0][1][c], b->data[1][1][c]);
    pixel[c] = clamp_floor(linear(dy, top, bottom) + 0.5f);
  }
  return pixel;
}

// Mitchell-Netravali, B = C = 1/3, over samples at t + 1, t, 1 - t, 2 - t.
static float cubic(float t, float p0, float p1, float p2, float p3) {
  const double T = t, P0 = p0, P1 = p1, P2 = p2, P3 = p3;
  const double A = -7.0 * P0 + 21.0 * P1 - 21.0 * P2 + 7.0 * P3;
  const double B = 15.0 * P0 - 36.0 * P1 + 27.0 * P2 - 6.0 * P3;
  const double C = -9.0 * P0 + 9.0 * P2;
  const double D = P0 + 16.0 * P1 + P2;
  return static_cast<float>((((A * T + B) * T + C) * T + D) / 18.0);
}

void interpolation_values_cubic(const cell_values &v, int32_t channels,
                                float dx, float dy, float *out) {
  for (int32_t c = 0; c < channels; ++c) {
    float r[4];
    for (int l = 0; l < 4; ++l)
      r[l] = cubic(dx, v[0][l][c], v[1][l][c], v[2][l][c], v[3][l][c]);
    out[c] = cubic(dy, r[0], r[1], r[2], r[3]);
  }
}

#if defined(__SSE2__)
// The channels are independent and follow the same sequence of operations,
// so two (or four) of them share each vector instruction. Every lane does
// exactly the scalar arithmetic: the bytes are the same.

// A cell's four bytes as four int32 lanes.
static __m128i cell_lanes(const unsigned char *cell) {
  int32_t word;
  std::memcpy(&word, cell, sizeof word);
  const __m128i zero = _mm_setzero_si128();
  return _mm_unpacklo_epi16(
      _mm_unpacklo_epi8(_mm_cvtsi32_si128(word), zero), zero);
}

// Mitchell-Netravali, B = C = 1/3, over samples at t + 1, t, 1 - t, 2 - t,
// on two lanes, including the rounding of the result to float.
static __m128d cubic2(__m128d T, __m128d P0, __m128d P1, __m128d P2,
                      __m128d P3) {
  auto k = [](double v) { return _mm_set1_pd(v); };
  const __m128d A = _mm_add_pd(
      _mm_sub_pd(_mm_add_pd(_mm_mul_pd(k(-7.0), P0), _mm_mul_pd(k(21.0), P1)),
                 _mm_mul_pd(k(21.0), P2)),
      _mm_mul_pd(k(7.0), P3));
  const __m128d B = _mm_sub_pd(
      _mm_add_pd(_mm_sub_pd(_mm_mul_pd(k(15.0), P0), _mm_mul_pd(k(36.0), P1)),
                 _mm_mul_pd(k(27.0), P2)),
      _mm_mul_pd(k(6.0), P3));
  const __m128d C = _mm_add_pd(_mm_mul_pd(k(-9.0), P0), _mm_mul_pd(k(9.0), P2));
  const __m128d D = _mm_add_pd(_mm_add_pd(P0, _mm_mul_pd(k(16.0), P1)), P2);
  __m128d v = _mm_add_pd(_mm_mul_pd(A, T), B);
  v = _mm_add_pd(_mm_mul_pd(v, T), C);
  v = _mm_add_pd(_mm_mul_pd(v, T), D);
  v = _mm_div_pd(v, k(18.0));
  return _mm_cvtps_pd(_mm_cvtpd_ps(v));
}

unsigned char *interpolation_get_pixel_value_cubic(interpolation *in,
                                                   float dx, float dy,
                                                   unsigned char *pixel) {
  if (needs_weighting(in, dx, dy, pixel, interpolation_values_cubic))
    return pixel;
  const buffer *b = in->current;
  const __m128d tx = _mm_set1_pd(dx), ty = _mm_set1_pd(dy);
  __m128d rows_lo[4], rows_hi[4];  // channels 0-1 and 2-3 of each row
  for (int l = 0; l < 4; ++l) {
    __m128d lo[4], hi[4];
    for (int k = 0; k < 4; ++k) {
      const __m128i q = cell_lanes(b->data[k][l]);
      lo[k] = _mm_cvtepi32_pd(q);
      hi[k] = _mm_cvtepi32_pd(_mm_srli_si128(q, 8));
    }
    rows_lo[l] = cubic2(tx, lo[0], lo[1], lo[2], lo[3]);
    rows_hi[l] = cubic2(tx, hi[0], hi[1], hi[2], hi[3]);
  }
  double v[4];
  _mm_storeu_pd(v, cubic2(ty, rows_lo[0], rows_lo[1], rows_lo[2], rows_lo[3]));
  _mm_storeu_pd(v + 2,
                cubic2(ty, rows_hi[0], rows_hi[1], rows_hi[2], rows_hi[3]));
  for (int32_t c = 0; c < b->bpp; ++c)
    pixel[c] = clamp_floor(static_cast<float>(v[c]) + 0.5f);
  return pixel;
}
#else

static float get_cubic_row(const buffer *b, int32_t c, int l, float t) {
  return cubic(t, b->data[0][l][c], b->data[1][l][c], b->data[2][l][c],
               b->data[3][l][c]);
}

unsigned char *interpolation_get_pixel_value_cubic(interpolation *in,
                                                   float dx, float dy,
                                                   unsigned char *pixel) {
  if (needs_weighting(in, dx, dy, pixel, interpolation_values_cubic))
    return pixel;
  const buffer *b = in->current;
  for (int32_t c = 0; c < b->bpp; ++c) {
    const float r0 = get_cubic_row(b, c, 0, dx);
    const float r1 = get_cubic_row(b, c, 1, dx);
    const float r2 = get_cubic_row(b, c, 2, dx);
    const float r3 = get_cubic_row(b, c, 3, dx);
    pixel[c] = clamp_floor(cubic(dy, r0, r1, r2, r3) + 0.5f);
  }
  return pixel;
}
#endif

// Lanczos-3 at the six distances x_k = d + 2 - k of one axis. The sines
// repeat along the axis: sin(pi x_k) = (-1)^k sin(pi d), and
// sin(pi x_k / 3) = sin(a - k pi / 3) with a = pi (d + 2) / 3, which the
// angle-difference formula takes from sin a and cos a. Three sines per axis
// instead of twelve.
void lanczos_axis(float d, float *w) {
  static const double step_sin[BUFFER_MAX_SIZE] = {
      0.0, 0.86602540378443865, 0.86602540378443865,
      0.0, -0.86602540378443865, -0.86602540378443865};
  static const double step_cos[BUFFER_MAX_SIZE] = {1.0, 0.5, -0.5,
                                                   -1.0, -0.5, 0.5};
  const double s = std::sin(M_PI * static_cast<double>(d));
  const double a = M_PI * (static_cast<double>(d) + 2.0) / 3.0;
  const double sa = std::sin(a), ca = std::cos(a);
  for (int k = 0; k < BUFFER_MAX_SIZE; ++k) {
    const float x = d + 2.0f - static_cast<float>(k);
    if (!(std::fabs(x) < 3.0f)) {
      w[k] = 0.0f;
    } else if (std::fabs(static_cast<double>(x)) < 1e-6) {
      w[k] = 1.0f;
    } else {
      const double xd = static_cast<double>(d) + 2.0 - k;
      const double full = (k % 2 ? -s : s);
      const double third = sa * step_cos[k] - ca * step_sin[k];
      w[k] = static_cast<float>(3.0 * full * third / (M_PI * M_PI * xd * xd));
    }
  }
}

// One weight per column and per row; centre of column k lies dx + 2 - k
// from the sample.
static void lanczos_weights(float dx, float dy, float *wx, float *wy) {
  lanczos_axis(dx, wx);
  lanczos_axis(dy, wy);
}

void interpolation_values_lanczos(const cell_values &v, int32_t channels,
                                  float dx, float dy, float *out) {
  float wx[BUFFER_MAX_SIZE], wy[BUFFER_MAX_SIZE];
  lanczos_weights(dx, dy, wx, wy);
  for (int32_t c = 0; c < channels; ++c) {
    float s = 0.0f, weights = 0.0f;
    for (int k = 0; k < BUFFER_MAX_SIZE; ++k) {
      for (int l = 0; l < BUFFER_MAX_SIZE; ++l) {
        const float w = wy[l] * wx[k];
        s = s + v[k][l][c] * w;
        weights = weights + w;
      }
    }
    out[c] = s / weights;
  }
}

unsigned char *interpolation_get_pixel_value_lanczos(interpolation *in,
                                                     float dx, float dy,
                                                     unsigned char *pixel) {
  if (needs_weighting(in, dx, dy, pixel, interpolation_values_lanczos))
    return pixel;
  const buffer *b = in->current;
  float wx[BUFFER_MAX_SIZE], wy[BUFFER_MAX_SIZE];
  lanczos_weights(dx, dy, wx, wy);
  // The raw weights sum to slightly less than one and vary with the offset;
  // dividing by their sum keeps flat areas flat.
#if defined(__SSE2__)
  __m128 s = _mm_setzero_ps();
  float weights = 0.0f;
  for (int k = 0; k < BUFFER_MAX_SIZE; ++k) {
    for (int l = 0; l < BUFFER_MAX_SIZE; ++l) {
      const float w = wy[l] * wx[k];
      const __m128 p = _mm_cvtepi32_ps(cell_lanes(b->data[k][l]));
      s = _mm_add_ps(s, _mm_mul_ps(p, _mm_set1_ps(w)));
      weights = weights + w;
    }
  }
  float v[4];
  _mm_storeu_ps(v, _mm_add_ps(_mm_div_ps(s, _mm_set1_ps(weights)),
                              _mm_set1_ps(0.5f)));
  for (int32_t c = 0; c < b->bpp; ++c) pixel[c] = clamp_floor(v[c]);
#else
  for (int32_t c = 0; c < b->bpp; ++c) {
    float s = 0.0f, weights = 0.0f;
    for (int k = 0; k < BUFFER_MAX_SIZE; ++k) {
      for (int l = 0; l < BUFFER_MAX_SIZE; ++l) {
        const float w = wy[l] * wx[k];
        s = s + static_cast<float>(b->data[k][l][c]) * w;
        weights = weights + w;
      }
    }
    pixel[c] = clamp_floor(s / weights + 0.5f);
  }
#endif
  return pixel;
}

// --------------------------------------------------------------- selection

// Each kernel's window, its 8-bit function, and its function for wider
// samples.
struct kernel_choice {
  int32_t size;
  interpolation_kernel function;
  interpolation_kernel wide;
  interpolation_values values;
};

static void interpolation_select(interpolation *in, kernel_choice choice) {
  buffer_init(in->current, in, choice.size);
  in->values = choice.values;
  in->get_pixel_value =
      in->warp->sample == SAMPLE_U8 ? choice.function : choice.wide;
}

void interpolation_init_near(interpolation *in) {
  interpolation_select(
      in, {2, interpolation_get_pixel_value_near, kernel_near_values, nullptr});
}

void interpolation_init_linear(interpolation *in) {
  interpolation_select(in, {2, interpolation_get_pixel_value_linear,
                            kernel_values<interpolation_values_linear>,
                            interpolation_values_linear});
}

void interpolation_init_cubic(interpolation *in) {
  interpolation_select(in, {4, interpolation_get_pixel_value_cubic,
                            kernel_values<interpolation_values_cubic>,
                            interpolation_values_cubic});
}

void interpolation_init_lanczos(interpolation *in) {
  interpolation_select(in, {6, interpolation_get_pixel_value_lanczos,
                            kernel_values<interpolation_values_lanczos>,
                            interpolation_values_lanczos});
}
