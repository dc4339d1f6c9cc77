// Anti-aliasing: each destination pixel that shrinks the source averages it
// over the pixel's footprint, the parallelogram the Jacobian of the map
// spans around the pixel's source position.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "tessaform.h"

namespace {

// Rounding leaves an identity's stretch a hair above one; such pixels must
// stay today's single sample.
constexpr double STRETCH_SLACK = 1e-6;

// The partial derivatives of a bilinear quadrangle at (u, v).
void quad_partials(const point q[4], double u, double v, point *du,
                   point *dv) {
  *du = point_add(point_scale(point_from2(q[0], q[1]), 1.0 - v),
                  point_scale(point_from2(q[3], q[2]), v));
  *dv = point_add(point_scale(point_from2(q[0], q[3]), 1.0 - u),
                  point_scale(point_from2(q[1], q[2]), u));
}

int32_t samples_along(double length) {
  const double n = std::ceil(length - STRETCH_SLACK);
  return int32_t(std::min<double>(FOOTPRINT_SAMPLES_MAX, std::max(1.0, n)));
}


// Bilinear on one reduced level, its edge texels repeated.
void mip_sample(const source_mip *m, int32_t k, double sx, double sy,
                float *out) {
  const mip_level &lv = m->level[k];
  const double scale = double(int64_t(1) << k);
  const double fx = (sx - m->x0) / scale - 0.5, fy = (sy - m->y0) / scale - 0.5;
  const double x0f = std::floor(fx), y0f = std::floor(fy);
  const float tx = float(fx - x0f), ty = float(fy - y0f);
  auto clamp = [](double v, int32_t size) {
    return v < 0.0 ? 0 : v >= size - 1 ? size - 1 : int32_t(v);
  };
  const int32_t xa = clamp(x0f, lv.width), xb = clamp(x0f + 1, lv.width);
  const int32_t ya = clamp(y0f, lv.height), yb = clamp(y0f + 1, lv.height);
  const int32_t n = m->channels;
  const float *r0 = lv.data + size_t(ya) * size_t(lv.width) * size_t(n);
  const float *r1 = lv.data + size_t(yb) * size_t(lv.width) * size_t(n);
  for (int32_t c = 0; c < n; ++c) {
    const float top = r0[xa * n + c] + tx * (r0[xb * n + c] - r0[xa * n + c]);
    const float bottom =
        r1[xa * n + c] + tx * (r1[xb * n + c] - r1[xa * n + c]);
    out[c] = top + ty * (bottom - top);
  }
}

// The reduced level a footprint samples: the finest on which 16 samples span
// its longer side. Coarser levels picked by the shorter side (a texel across
// it) blurred a zone plate shrunk 16x to 33 dB against 47 dB on this one,
// for the same time.
int32_t mip_level_for(const source_mip *m, const footprint &f) {
  const double longest =
      std::max(point_length(f.along_x), point_length(f.along_y));
  int32_t k = int32_t(std::ceil(std::log2(longest / FOOTPRINT_SAMPLES_MAX)));
  return std::max(1, std::min(k, m->levels));
}

// The footprint's longest stretch from its two columns.
bool footprint_major(footprint *f) {
  const double a = f->along_x.x * f->along_x.x + f->along_x.y * f->along_x.y;
  const double b = f->along_y.x * f->along_y.x + f->along_y.y * f->along_y.y;
  const double d = f->along_x.x * f->along_y.x + f->along_x.y * f->along_y.y;
  f->major = std::sqrt(0.5 * (a + b + std::sqrt((a - b) * (a - b) + 4 * d * d)));
  return std::isfinite(f->major);
}

}  // namespace

bool footprint_at(const warp *w, double x, double y, footprint *f) {
  if (w->mapping == WARP_PERSPECTIVE) {
    if (!homography_jacobian(&w->perspective, x, y, &f->along_x, &f->along_y))
      return false;
    return footprint_major(f);
  }
  const point P = point_init(x, y);
  const double u = qcoord_get(w->dst->coord_u, P);
  const double v = qcoord_get(w->dst->coord_v, P);
  point su, sv, du, dv;
  quad_partials(w->src->quad, u, v, &su, &sv);
  quad_partials(w->dst->quad, u, v, &du, &dv);
  const double det = point_cross(du, dv);
  if (!std::isfinite(det) || det == 0.0) return false;
  // J = J_S J_D^-1, column by column.
  f->along_x = point_scale(point_add(point_scale(su, dv.y), point_scale(sv, -du.y)),
                           1.0 / det);
  f->along_y = point_scale(point_add(point_scale(su, -dv.x), point_scale(sv, du.x)),
                           1.0 / det);
  return footprint_major(f);
}

bool footprint_render(const warp *w, interpolation *in, double cx, double cy,
                      float sx, float sy, unsigned char *pixel) {
  footprint f;
  if (!footprint_at(w, cx, cy, &f) || f.major <= 1.0 + STRETCH_SLACK)
    return false;
  const source_mip *m = w->mip;
  const double len_x = point_length(f.along_x), len_y = point_length(f.along_y);
  const bool reduced =
      m && m->levels > 0 && std::max(len_x, len_y) > FOOTPRINT_SAMPLES_MAX;
  const int32_t k = reduced ? mip_level_for(m, f) : 0;
  const double scale = double(int64_t(1) << k);
  const int32_t nx = samples_along(len_x / scale);
  const int32_t ny = samples_along(len_y / scale);
  // Nearest's point samples of fine detail do not average out at one per
  // source pixel (a checkerboard stays 40 levels off grey at 4x, 15 even at
  // four per pixel): its shrinking pixels take linear samples.
  const interpolation_values values =
      in->values ? in->values : interpolation_values_linear;

  const buffer *b = in->current;
  const int32_t channels = b->channels;
  const bounds *sb = w->src->bounds;
  const double lo_x = double(sb->x0) - BUFFER_MAX_SIZE,
               hi_x = double(sb->x1) + BUFFER_MAX_SIZE,
               lo_y = double(sb->y0) - BUFFER_MAX_SIZE,
               hi_y = double(sb->y1) + BUFFER_MAX_SIZE;
  float sum[CHANNELS_MAX] = {};
  for (int32_t j = 0; j < ny; ++j) {
    const double t = (j + 0.5) / ny - 0.5;
    for (int32_t i = 0; i < nx; ++i) {
      const double s = (i + 0.5) / nx - 0.5;
      // A footprint can reach far past the source (a tiny destination of a
      // huge quadrangle): beyond a window's width every tap repeats the
      // edge, so positions are held there, inside int32's range.
      const double px = std::clamp(sx + s * f.along_x.x + t * f.along_y.x,
                                   lo_x, hi_x);
      const double py = std::clamp(sy + s * f.along_x.y + t * f.along_y.y,
                                   lo_y, hi_y);
      float value[CHANNELS_MAX];
      if (reduced)
        mip_sample(m, k, px, py, value);
      else if (values == interpolation_values_linear)
        interpolation_get_weighted_linear(in, float(px), float(py), value);
      else
        interpolation_get_weighted(in, values, float(px), float(py), value);
      for (int32_t c = 0; c < channels; ++c) sum[c] += value[c];
    }
  }
  // Equal weights: against an average over each pixel's exact footprint a
  // tent over +-1 pixel scored 32 dB on a zone plate shrunk 4x, equal
  // weights 40 dB.
  const float share = 1.0f / float(nx * ny);
  float out[CHANNELS_MAX];
  for (int32_t c = 0; c < channels; ++c) out[c] = sum[c] * share;
  const int32_t alpha = in->current->alpha;
  if (alpha >= 0) {
    const float a = out[alpha];
    for (int32_t c = 0; c < channels; ++c)
      if (c != alpha) out[c] = a > 0.0f ? out[c] / a : 0.0f;
  }
  sample_store(in->current, w->unbounded, out, 1, pixel);
  return true;
}

// ---------------------------------------------------------- reduced copies

bool source_mip_needed(const warp *w) {
  const bounds *db = w->dst->bounds;
  if (db->width <= 0 || db->height <= 0) return false;
  // The Jacobian varies smoothly over a bilinear map: a grid finds where it
  // shrinks most.
  constexpr int32_t GRID = 33;
  for (int32_t j = 0; j < GRID; ++j)
    for (int32_t i = 0; i < GRID; ++i) {
      const double x = db->x0 + (i + 0.5) * db->width / GRID;
      const double y = db->y0 + (j + 0.5) * db->height / GRID;
      footprint f;
      if (!region_inside_at(w->dst, x, y) || !footprint_at(w, x, y, &f))
        continue;
      if (std::max(point_length(f.along_x), point_length(f.along_y)) >
          FOOTPRINT_SAMPLES_MAX)
        return true;
    }
  return false;
}

namespace {

// One source row as floats, colour weighted by alpha in the cells' scale.
void row_weighted(const warp *w, const unsigned char *bytes, int32_t width,
                  int32_t channels, float *out) {
  const int32_t alpha = w->has_alpha ? channels - 1 : -1;
  for (int32_t x = 0; x < width; ++x) {
    float *cell = out + size_t(x) * size_t(channels);
    const unsigned char *p = bytes + size_t(x) * size_t(w->bpp);
    if (w->sample == SAMPLE_U8)
      for (int32_t c = 0; c < channels; ++c) cell[c] = p[c];
    else
      sample_cell_values(w->sample, channels, p, cell);
    if (alpha >= 0)
      for (int32_t c = 0; c < alpha; ++c) cell[c] *= cell[alpha];
  }
}

// Averages up to 2 x 2 texels of `from` into each texel of `to`; an odd
// last row or column averages what it has.
void level_reduce(const mip_level &from, int32_t channels, mip_level &to,
                  float *data) {
  for (int32_t y = 0; y < to.height; ++y)
    for (int32_t x = 0; x < to.width; ++x) {
      float *cell = data + (size_t(y) * size_t(to.width) + size_t(x)) * size_t(channels);
      const int32_t x1 = std::min(2 * x + 1, from.width - 1);
      const int32_t y1 = std::min(2 * y + 1, from.height - 1);
      const float share = 1.0f / float((x1 - 2 * x + 1) * (y1 - 2 * y + 1));
      for (int32_t c = 0; c < channels; ++c) {
        float s = 0.0f;
        for (int32_t yy = 2 * y; yy <= y1; ++yy)
          for (int32_t xx = 2 * x; xx <= x1; ++xx)
            s += from.data[(size_t(yy) * size_t(from.width) + size_t(xx)) *
                               size_t(channels) + size_t(c)];
        cell[c] = s * share;
      }
    }
  to.data = data;
}

}  // namespace

bool source_mip_build(source_mip *m, const warp *w) {
  *m = source_mip{};
  const bounds *sb = w->src->bounds;
  if (sb->width < 2 || sb->height < 2) return false;
  const int32_t channels = w->sample == SAMPLE_U8 ? w->bpp : w->channels;
  int32_t widths[MIP_LEVELS_MAX + 1], heights[MIP_LEVELS_MAX + 1];
  size_t total = 0;
  int32_t levels = 0;
  for (int32_t wd = sb->width, ht = sb->height;
       (wd > 1 || ht > 1) && levels < MIP_LEVELS_MAX;) {
    wd = (wd + 1) / 2;
    ht = (ht + 1) / 2;
    ++levels;
    widths[levels] = wd;
    heights[levels] = ht;
    total += size_t(wd) * size_t(ht) * size_t(channels);
  }
  // Two source rows at a time, read and weighted, then the first reduction.
  const size_t row_floats = size_t(sb->width) * size_t(channels);
  const size_t row_bytes = size_t(sb->width) * size_t(w->bpp);
  m->storage = static_cast<float *>(
      std::malloc(sizeof(float) * (total + 2 * row_floats) + 2 * row_bytes));
  if (!m->storage) return false;
  float *rows = m->storage + total;
  unsigned char *bytes = reinterpret_cast<unsigned char *>(rows + 2 * row_floats);

  m->levels = levels;
  m->channels = channels;
  m->x0 = sb->x0;
  m->y0 = sb->y0;
  float *next = m->storage;
  for (int32_t k = 1; k <= levels; ++k) {
    m->level[k].width = widths[k];
    m->level[k].height = heights[k];
    m->level[k].data = next;
    next += size_t(widths[k]) * size_t(heights[k]) * size_t(channels);
  }
  for (int32_t y = 0; y < heights[1]; ++y) {
    const int32_t n = std::min(2, sb->height - 2 * y);
    const GeglRectangle rect = {sb->x0 - w->source_extent.x0,
                                sb->y0 + 2 * y - w->source_extent.y0,
                                sb->width, n};
    gegl_buffer_get(w->gegl_buffer, &rect, 1.0, w->format, bytes,
                    GEGL_AUTO_ROWSTRIDE, GEGL_ABYSS_NONE);
    for (int32_t r = 0; r < n; ++r)
      row_weighted(w, bytes + size_t(r) * row_bytes, sb->width, channels,
                   rows + size_t(r) * row_floats);
    const mip_level strip = {rows, sb->width, n};
    mip_level one = {nullptr, widths[1], 1};
    level_reduce(strip, channels, one,
                 const_cast<float *>(m->level[1].data) +
                     size_t(y) * size_t(widths[1]) * size_t(channels));
  }
  for (int32_t k = 2; k <= levels; ++k)
    level_reduce(m->level[k - 1], channels, m->level[k],
                 const_cast<float *>(m->level[k].data));
  return true;
}

void source_mip_free(source_mip *m) {
  std::free(m->storage);
  *m = source_mip{};
}
