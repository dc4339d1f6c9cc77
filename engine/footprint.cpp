// Anti-aliasing: each destination pixel where the map shrinks the source is
// an elliptical weighted average. The pixel's radial filter, carried through
// the map's Jacobian, covers an ellipse of the source, widened to at least
// one source pixel across so that one filter both reconstructs and removes
// what the destination cannot hold; the texels inside it are summed in
// linear light, each weighted by the filter at its distance. Strong shrinks
// read a reduced copy instead, chosen so that a bounded number of texels
// lie across the ellipse.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "tessaform.h"

namespace {

// Rounding leaves an identity's stretch a hair above one; such pixels must
// stay today's single sample.
constexpr double STRETCH_SLACK = 1e-6;

constexpr int32_t ANISOTROPY_MAX = FOOTPRINT_ANISOTROPY_MAX;
constexpr int32_t SPAN_MAX = ELLIPSE_SPAN_MAX;

// The partial derivatives of a bilinear quadrangle at (u, v).
void quad_partials(const point q[4], double u, double v, point *du,
                   point *dv) {
  *du = point_add(point_scale(point_from2(q[0], q[1]), 1.0 - v),
                  point_scale(point_from2(q[3], q[2]), v));
  *dv = point_add(point_scale(point_from2(q[0], q[3]), 1.0 - u),
                  point_scale(point_from2(q[1], q[2]), u));
}

// The ellipse the destination pixel's unit circle maps to, its semi-axes
// widened to one source pixel at least: source pixels per destination
// pixel along its axes.
struct ellipse {
  point axis;    // unit vector along the longer axis
  double major;  // >= minor >= 1
  double minor;
};

ellipse ellipse_of(const footprint &f) {
  // The eigenvectors of J J^T are the ellipse's axes, its eigenvalues their
  // squared lengths.
  const double xx = f.along_x.x * f.along_x.x + f.along_y.x * f.along_y.x;
  const double xy = f.along_x.x * f.along_x.y + f.along_y.x * f.along_y.y;
  const double yy = f.along_x.y * f.along_x.y + f.along_y.y * f.along_y.y;
  const double mean = 0.5 * (xx + yy);
  const double half = 0.5 * (xx - yy);
  const double spread = std::sqrt(half * half + xy * xy);
  const double large = mean + spread, small = std::max(mean - spread, 0.0);
  // Of the two forms of the eigenvector, the longer one is the better
  // conditioned; a circle takes any axis.
  point v = point_init(large - yy, xy);
  const point other = point_init(xy, large - xx);
  if (point_length(other) > point_length(v)) v = other;
  const double length = point_length(v);
  ellipse e;
  e.axis = length > 0 ? point_scale(v, 1.0 / length) : point_init(1, 0);
  e.major = std::max(1.0, std::sqrt(large));
  e.minor = std::max(1.0, std::sqrt(small));
  return e;
}

// The ellipse on one level, in its texels: q(dx, dy) = a dx^2 + b dx dy +
// c dy^2 is the squared distance, in destination pixels, of the texel
// offset (dx, dy) from the centre (cx, cy); texel i's centre is i + 0.5.
struct level_ellipse {
  double a, b, c;
  double cx, cy;
  double reach_x, reach_y;  // half extents of q <= radius^2
};

level_ellipse level_ellipse_of(const ellipse &e, double radius, int32_t k,
                               double sx, double sy, int32_t x0, int32_t y0) {
  const double side = double(int64_t(1) << k);
  // Within a texel at least, and within a row of SPAN_MAX texels: the level
  // holds the rest.
  const double limit = (SPAN_MAX - 2) / (2 * radius);
  const double major = std::clamp(e.major / side, 1.0, limit);
  const double minor = std::clamp(e.minor / side, 1.0, major);
  const double ux = e.axis.x, uy = e.axis.y;
  const double p = 1 / (major * major), r = 1 / (minor * minor);
  // Q = u u^T / major^2 + w w^T / minor^2 with w the perpendicular (-uy, ux);
  // its inverse M = u u^T major^2 + w w^T minor^2 bounds the ellipse.
  level_ellipse l;
  l.a = ux * ux * p + uy * uy * r;
  l.b = 2 * ux * uy * (p - r);
  l.c = uy * uy * p + ux * ux * r;
  l.reach_x = radius * std::sqrt(ux * ux * major * major + uy * uy * minor * minor);
  l.reach_y = radius * std::sqrt(uy * uy * major * major + ux * ux * minor * minor);
  l.cx = (sx - x0) / side;
  l.cy = (sy - y0) / side;
  return l;
}

// The level whose texels put at most FOOTPRINT_SAMPLES_MAX across the
// ellipse's shorter axis (and ANISOTROPY_MAX times that along the longer).
int32_t level_for(const ellipse &e, double radius) {
  const double across = 2 * radius * e.minor / FOOTPRINT_SAMPLES_MAX;
  const double along =
      2 * radius * e.major / (FOOTPRINT_SAMPLES_MAX * ANISOTROPY_MAX);
  int32_t k = 0;
  for (double need = std::max(across, along); need > 1 && k < MIP_LEVELS_MAX;
       need *= 0.5)
    ++k;
  return k;
}

struct ewa_sum {
  float value[CHANNELS_MAX];
  float weight;
};

// The filter's weight at squared distance q.
inline float filter_weight(const radial_filter &f, float q) {
  const float at = q * f.index_scale;
  return f.weight[at < float(RADIAL_FILTER_ENTRIES)
                      ? int32_t(std::max(at, 0.0f))
                      : RADIAL_FILTER_ENTRIES];
}

// Adds a row's weighted texels and their weights, one texel at a time
// (texels of four floats go through the vector level's ewa_rows4).
template <int32_t TEXEL>
void ewa_row(const radial_filter &f, const row_form &form, const row_span &s,
             const float *row, ewa_sum *sum) {
  float value[TEXEL] = {}, weight = 0.0f;
  auto add = [&](int32_t x, float w) {
    const float *t = row + size_t(x - s.x0) * TEXEL;
    for (int32_t c = 0; c < TEXEL; ++c) value[c] += w * t[c];
    weight += w;
  };
  for (int32_t x = s.first; x <= s.last; ++x) add(x, filter_weight(f, form.q(x)));
  if (s.left != 0.0f) add(s.x0, s.left);
  if (s.right != 0.0f) add(s.x1, s.right);
  for (int32_t c = 0; c < TEXEL; ++c) sum->value[c] += value[c];
  sum->weight += weight;
}

// Texel rows of one level held in memory.
struct level_rows {
  const float *data;
  int32_t texel;
  int32_t width, height;

  const float *row(int32_t y, int32_t x0, int32_t, float *) const {
    return data + (size_t(y) * size_t(width) + size_t(x0)) * size_t(texel);
  }
};

// Level 0 when it is not held: rows of the source box converted as they
// are read, from memory where the render holds it, else from GEGL.
struct source_rows {
  const warp *w;
  const interpolation *in;
  const light_curve *light;
  int32_t width, height;
  unsigned char *bytes;  // SPAN_MAX pixels

  // Texels x0..x1 of row y (inside the box) into `out`.
  const float *row(int32_t y, int32_t x0, int32_t x1, float *out) const {
    const bounds *sb = w->src->bounds;
    const int32_t ix = sb->x0 + x0, iy = sb->y0 + y, n = x1 - x0 + 1;
    const unsigned char *p = nullptr;
    const source_pixels *mem = in->memory;
    if (mem && !mem->tiles && iy >= mem->y0 && iy < mem->y0 + mem->height &&
        ix >= mem->x0 && ix + n <= mem->x0 + mem->width) {
      const size_t r = size_t(iy - mem->y0);
      const unsigned char *start =
          mem->rows ? mem->rows[r]
                    : mem->data + r * size_t(mem->width) * size_t(mem->bpp);
      if (start) p = start + size_t(ix - mem->x0) * size_t(mem->bpp);
    }
    if (!p) {
      const GeglRectangle rect = {ix - in->offset_x, iy - in->offset_y, n, 1};
      gegl_buffer_get(w->gegl_buffer, &rect, 1.0, w->format, bytes,
                      GEGL_AUTO_ROWSTRIDE, GEGL_ABYSS_NONE);
      p = bytes;
    }
    light_decode(light, p, n, out);
    return out;
  }
};

inline int32_t floor_int(double v) {
  const int32_t i = int32_t(v);
  return i - (v < i);
}

inline int32_t ceil_int(double v) {
  const int32_t i = int32_t(v);
  return i + (v > i);
}

// Hands `add` the rows of the ellipse `e` on a level of `rows`, a batch at
// a time; texels past the level's edges repeat its edge texels.
template <int32_t TEXEL, typename Rows, typename Add>
void ewa_level(const level_ellipse &e, const Rows &rows, Add add) {
  const radial_filter &filter = radial_filter_get();
  // Row y (dy from the centre) holds the texels within `half` of
  // cx + slope dy, half^2 = reach2 - narrowing dy^2. The rows' bounds come
  // first, two rows at a time: they do not wait on one another.
  const double slope = -e.b / (2 * e.a);
  const double reach2 = double(filter.radius) * filter.radius / e.a;
  const double narrowing = (4 * e.a * e.c - e.b * e.b) / (4 * e.a * e.a);
  const int32_t y_first = ceil_int(e.cy - e.reach_y - 0.5);
  const int32_t y_last = std::min(floor_int(e.cy + e.reach_y - 0.5),
                                  y_first + SPAN_MAX - 1);
  // Each row's half width (negative: no texel), then its first and last
  // texel, two rows at a time.
  alignas(16) double half[SPAN_MAX + 1];
  int32_t first[SPAN_MAX + 1], last[SPAN_MAX + 1];
  half[std::max(y_last - y_first + 1, 0)] = -1.0;  // the pair of an odd last
  for (int32_t y = y_first; y <= y_last; ++y) {
    const double dy = y + 0.5 - e.cy;
    half[y - y_first] = reach2 - narrowing * dy * dy;
  }
  for (int32_t i = 0; i <= y_last - y_first; i += 2) {
#if defined(__SSE2__)
    const __m128d h2 = _mm_load_pd(half + i);
    const __m128d inside = _mm_cmpge_pd(h2, _mm_setzero_pd());
    const __m128d h = _mm_or_pd(_mm_and_pd(inside, _mm_sqrt_pd(h2)),
                                _mm_andnot_pd(inside, _mm_set1_pd(-1.0)));
    _mm_store_pd(half + i, h);
    const __m128d dy = _mm_sub_pd(
        _mm_add_pd(_mm_set_pd(y_first + i + 1, y_first + i), _mm_set1_pd(0.5)),
        _mm_set1_pd(e.cy));
    const __m128d middle = _mm_sub_pd(
        _mm_add_pd(_mm_set1_pd(e.cx), _mm_mul_pd(_mm_set1_pd(slope), dy)),
        _mm_set1_pd(0.5));
    // ceil_int and floor_int lane by lane: truncate, then step where the
    // truncation went the wrong way.
    const __m128d low = _mm_sub_pd(middle, h), high = _mm_add_pd(middle, h);
    const __m128i low_i = _mm_cvttpd_epi32(low), high_i = _mm_cvttpd_epi32(high);
    auto lanes = [](__m128d mask) {
      return _mm_shuffle_epi32(_mm_castpd_si128(mask), _MM_SHUFFLE(2, 0, 2, 0));
    };
    alignas(16) int32_t f[4], l[4];
    _mm_store_si128(reinterpret_cast<__m128i *>(f),
                    _mm_sub_epi32(low_i, lanes(_mm_cmpgt_pd(low, _mm_cvtepi32_pd(low_i)))));
    _mm_store_si128(reinterpret_cast<__m128i *>(l),
                    _mm_add_epi32(high_i, lanes(_mm_cmplt_pd(high, _mm_cvtepi32_pd(high_i)))));
    first[i] = f[0];
    first[i + 1] = f[1];
    last[i] = l[0];
    last[i + 1] = l[1];
#else
    for (int32_t k = i; k < i + 2; ++k) {
      half[k] = half[k] >= 0 ? std::sqrt(half[k]) : -1.0;
      const double middle = e.cx + slope * (y_first + k + 0.5 - e.cy) - 0.5;
      first[k] = ceil_int(middle - half[k]);
      last[k] = floor_int(middle + half[k]);
    }
#endif
  }
  ellipse_row batch[ELLIPSE_ROWS_MAX];
  float texels[ELLIPSE_ROWS_MAX][SPAN_MAX * CHANNELS_MAX];
  int32_t n = 0;
  for (int32_t y = y_first; y <= y_last; ++y) {
    if (half[y - y_first] < 0) continue;
    const double dy = y + 0.5 - e.cy;
    const int32_t x_first = first[y - y_first], x_last = last[y - y_first];
    if (x_first > x_last) continue;
    ellipse_row &r = batch[n];
    r.form = {float(e.a), float(e.b * dy), float(e.c * dy * dy),
              float(0.5 - e.cx)};
    r.span = {std::clamp(x_first, 0, rows.width - 1),
              std::clamp(x_last, 0, rows.width - 1), std::max(x_first, 0),
              std::min(x_last, rows.width - 1), 0.0f, 0.0f};
    for (int32_t x = x_first; x < std::min(x_last + 1, 0); ++x)
      r.span.left += filter_weight(filter, r.form.q(x));
    for (int32_t x = std::max(x_first, rows.width); x <= x_last; ++x)
      r.span.right += filter_weight(filter, r.form.q(x));
    r.texels = rows.row(std::clamp(y, 0, rows.height - 1), r.span.x0,
                        r.span.x1, texels[n]);
    if (++n == ELLIPSE_ROWS_MAX) {
      add(filter, batch, n);
      n = 0;
    }
  }
  if (n > 0) add(filter, batch, n);
}

// The ellipse's weighted sum, channel by channel, and its total weight.
template <typename Rows>
float ewa_any(int32_t texel, ewa_rows_function rows4, const level_ellipse &e,
              const Rows &rows, float *value) {
  if (texel == 4) {
    ewa_lanes lanes = {};
    ewa_level<4>(e, rows, [&](const radial_filter &f, const ellipse_row *batch,
                              int32_t n) { rows4(f, batch, n, &lanes); });
    for (int32_t c = 0; c < 4; ++c)
      value[c] = (lanes.value[0][c] + lanes.value[1][c]) +
                 (lanes.value[2][c] + lanes.value[3][c]);
    return ((lanes.weight[0] + lanes.weight[1]) +
            (lanes.weight[2] + lanes.weight[3])) + lanes.edge;
  }
  ewa_sum sum = {};
  auto scalar = [&](auto texel_size) {
    constexpr int32_t T = decltype(texel_size)::value;
    ewa_level<T>(e, rows, [&](const radial_filter &f, const ellipse_row *batch,
                              int32_t n) {
      for (int32_t i = 0; i < n; ++i)
        ewa_row<T>(f, batch[i].form, batch[i].span, batch[i].texels, &sum);
    });
  };
  switch (texel) {
    case 1: scalar(std::integral_constant<int32_t, 1>()); break;
    case 2: scalar(std::integral_constant<int32_t, 2>()); break;
    default: scalar(std::integral_constant<int32_t, 3>()); break;
  }
  std::memcpy(value, sum.value, sizeof(float) * size_t(texel));
  return sum.weight;
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
  const footprint_context *fc = w->footprint;
  const light_curve *light = &fc->light;
  const source_mip *m = &fc->mip;
  const bounds *sb = w->src->bounds;
  if (sb->width <= 0 || sb->height <= 0) return false;
  const ellipse e = ellipse_of(f);
  const double radius = radial_filter_get().radius;
  const int32_t k = std::min(level_for(e, radius), m->levels);
  const level_ellipse le = level_ellipse_of(e, radius, k, sx, sy, sb->x0, sb->y0);
  float texel[CHANNELS_MAX];
  float weight;
  if (m->level[k].data) {
    const level_rows rows = {m->level[k].data, light->texel, m->level[k].width,
                             m->level[k].height};
    weight = ewa_any(light->texel, fc->ewa_rows4, le, rows, texel);
  } else {
    unsigned char bytes[SPAN_MAX * SAMPLE_MAX_BYTES];
    const source_rows rows = {w, in, light, sb->width, sb->height, bytes};
    weight = ewa_any(light->texel, fc->ewa_rows4, le, rows, texel);
  }
  if (!(weight > 0.0f)) return false;
  for (int32_t c = 0; c < light->texel; ++c) texel[c] /= weight;
  if (light->alpha >= 0) {
    const float a = texel[light->alpha];
    for (int32_t c = 0; c < light->alpha; ++c)
      texel[c] = a > 0.0f ? texel[c] / a : 0.0f;
  }
  float encoded[CHANNELS_MAX];
  light_encode(light, texel, encoded);
  sample_store(in->current, w->unbounded, encoded, 1, pixel);
  return true;
}

namespace {

// Reduced levels some destination pixel's ellipse wants, judged on a grid
// (the Jacobian varies smoothly over the map) with the shrink taken
// LEVEL_SLACK times stronger for the pixels between its points; none when
// no point shrinks that far. A pixel beyond reads the coarsest level built,
// more texels of it. Each level costs a quarter of the one before.
constexpr double LEVEL_SLACK = 1.25;

int32_t levels_wanted(const warp *w) {
  const bounds *db = w->dst->bounds;
  if (db->width <= 0 || db->height <= 0) return 0;
  const double radius = radial_filter_get().radius;
  constexpr int32_t GRID = 33;
  int32_t wanted = 0;
  for (int32_t j = 0; j <= GRID; ++j)
    for (int32_t i = 0; i <= GRID; ++i) {
      const double x = db->x0 + double(i) * db->width / GRID;
      const double y = db->y0 + double(j) * db->height / GRID;
      footprint f;
      if (region_inside_at(w->dst, x, y) && footprint_at(w, x, y, &f))
        wanted = std::max(wanted, level_for(ellipse_of(f), radius * LEVEL_SLACK));
    }
  return wanted;
}

}  // namespace

bool footprint_context_init(footprint_context *fc, warp *w,
                            ewa_rows_function ewa_rows4,
                            const source_pixels *memory, bool fail) {
  light_curve_init(&fc->light, w);
  fc->mip = source_mip{};
  fc->ewa_rows4 = ewa_rows4;
  const int32_t levels = levels_wanted(w);
  if (levels > 0 &&
      !source_mip_build(&fc->mip, w, &fc->light, memory, levels, fail))
    return false;
  w->footprint = fc;
  return true;
}

void footprint_context_free(footprint_context *fc, warp *w) {
  w->footprint = nullptr;
  source_mip_free(&fc->mip);
}
