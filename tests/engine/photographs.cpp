#include "photographs.h"

#include <algorithm>
#include <cmath>

namespace {

// Point samples per pixel along each axis: an edge's place is then known
// to a sixteenth of a pixel.
constexpr int SUB = 8;

struct mat3 {
  double m[3][3];
};

mat3 multiply(const mat3 &a, const mat3 &b) {
  mat3 r{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      for (int k = 0; k < 3; ++k) r.m[i][j] += a.m[i][k] * b.m[k][j];
  return r;
}

// The rectangle's plane (x, y, 1) to the photograph (u w, v w, w).
mat3 page_to_photo(const camera_view &c) {
  const double ax = c.tilt_x * M_PI / 180, ay = c.tilt_y * M_PI / 180;
  const mat3 rx = {{{1, 0, 0}, {0, std::cos(ax), -std::sin(ax)},
                    {0, std::sin(ax), std::cos(ax)}}};
  const mat3 ry = {{{std::cos(ay), 0, std::sin(ay)}, {0, 1, 0},
                    {-std::sin(ay), 0, std::cos(ay)}}};
  const mat3 r = multiply(ry, rx);
  const double shorter = std::fmin(c.photo_w, c.photo_h);
  const double distance = c.focal * std::hypot(c.page_w, c.page_h) / (c.fill * shorter);
  // Page units to camera space at that distance; the centre offsets scale
  // with it so they are shares of the photograph.
  const double tx = c.shift_x * shorter * distance / c.focal;
  const double ty = c.shift_y * shorter * distance / c.focal;
  // Columns: the page's x and y axes in camera space, and where its corner
  // (0, 0) lies.
  mat3 e{};
  for (int i = 0; i < 3; ++i) {
    e.m[i][0] = r.m[i][0];
    e.m[i][1] = r.m[i][1];
    e.m[i][2] = -0.5 * (r.m[i][0] * c.page_w + r.m[i][1] * c.page_h);
  }
  e.m[0][2] += tx;
  e.m[1][2] += ty;
  e.m[2][2] += distance;
  const mat3 k = {{{c.focal, 0, 0.5 * c.photo_w},
                   {0, c.focal, 0.5 * c.photo_h},
                   {0, 0, 1}}};
  return multiply(k, e);
}

mat3 inverse(const mat3 &a) {
  mat3 r{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      const int i1 = (j + 1) % 3, i2 = (j + 2) % 3;
      const int j1 = (i + 1) % 3, j2 = (i + 2) % 3;
      r.m[i][j] = a.m[i1][j1] * a.m[i2][j2] - a.m[i1][j2] * a.m[i2][j1];
    }
  return r;  // up to a factor: fine for a projective map
}

point apply(const mat3 &h, double x, double y) {
  const double w = h.m[2][0] * x + h.m[2][1] * y + h.m[2][2];
  return point_init((h.m[0][0] * x + h.m[0][1] * y + h.m[0][2]) / w,
                    (h.m[1][0] * x + h.m[1][1] * y + h.m[1][2]) / w);
}

}  // namespace

point camera_project(const camera_view &c, double x, double y) {
  return apply(page_to_photo(c), x, y);
}

void camera_corners(const camera_view &c, point out[4]) {
  out[0] = camera_project(c, 0, 0);
  out[1] = camera_project(c, c.page_w, 0);
  out[2] = camera_project(c, c.page_w, c.page_h);
  out[3] = camera_project(c, 0, c.page_h);
}

std::vector<unsigned char> camera_checkerboard(const camera_view &c,
                                               double square,
                                               const GeglRectangle &box) {
  const mat3 back = inverse(page_to_photo(c));
  const size_t w = size_t(box.width), h = size_t(box.height);
  std::vector<double> value(w * h);
  for (size_t j = 0; j < h; ++j)
    for (size_t i = 0; i < w; ++i) {
      double sum = 0;
      for (int sj = 0; sj < SUB; ++sj)
        for (int si = 0; si < SUB; ++si) {
          const point p = apply(back, box.x + i + (si + 0.5) / SUB,
                                box.y + j + (sj + 0.5) / SUB);
          if (p.x < 0 || p.y < 0 || p.x >= c.page_w || p.y >= c.page_h) {
            sum += 128;
            continue;
          }
          const int64_t cell = int64_t(std::floor(p.x / square)) +
                               int64_t(std::floor(p.y / square));
          sum += cell % 2 ? 255 : 0;
        }
      value[j * w + i] = sum / (SUB * SUB);
    }
  // The lens's blur, a binomial of about a pixel each way: an edge spans a
  // few pixels, as in a photograph, so interpolating between them finds it.
  const double taps[5] = {1 / 16.0, 4 / 16.0, 6 / 16.0, 4 / 16.0, 1 / 16.0};
  for (int pass = 0; pass < 2; ++pass) {
    std::vector<double> blurred(w * h);
    for (size_t j = 0; j < h; ++j)
      for (size_t i = 0; i < w; ++i) {
        double sum = 0;
        for (int k = -2; k <= 2; ++k) {
          const int64_t at = int64_t(pass ? j : i) + k;
          const size_t n = pass ? h : w;
          const size_t q = size_t(std::clamp<int64_t>(at, 0, int64_t(n) - 1));
          sum += taps[k + 2] * value[pass ? q * w + i : j * w + q];
        }
        blurred[j * w + i] = sum;
      }
    value.swap(blurred);
  }
  std::vector<unsigned char> px(w * h * 4);
  for (size_t i = 0; i < w * h; ++i) {
    px[4 * i] = px[4 * i + 1] = px[4 * i + 2] =
        static_cast<unsigned char>(std::lround(value[i]));
    px[4 * i + 3] = 255;
  }
  return px;
}

namespace {

// A warp context for `v`, as set-up builds it.
struct mapping_context {
  warp w{};
  interpolation in{};
  explicit mapping_context(const warp_vals &v) {
    w.source_extent = bounds{nullptr, 0, 0, 4000, 3000, 4000, 3000};
    interpolation_init(&in, &w);
    warp_init(&w, &v, &in);
  }
  point map(point q) const {
    float x, y;
    warp_convert(&w, float(q.x), float(q.y), &x, &y);
    return point_init(x, y);
  }
  // The output position that maps to `s`, by Newton's method from `q`:
  // nothing of the mapping's own arithmetic is assumed.
  point inverse(point s, point q) const {
    for (int it = 0; it < 30; ++it) {
      const double h = 0.25;
      const point f = point_from2(s, map(q));
      const point dx = point_scale(point_from2(map(point_init(q.x - h, q.y)),
                                               map(point_init(q.x + h, q.y))),
                                   0.5 / h);
      const point dy = point_scale(point_from2(map(point_init(q.x, q.y - h)),
                                               map(point_init(q.x, q.y + h))),
                                   0.5 / h);
      const double det = point_cross(dx, dy);
      const point step = point_init((f.x * dy.y - f.y * dy.x) / det,
                                    (dx.x * f.y - dx.y * f.x) / det);
      q = point_sub(q, step);
      if (point_length(step) < 1e-4) break;
    }
    return q;
  }
};

}  // namespace

double camera_grid_error(const camera_view &c, int first, const warp_vals &v,
                  int32_t width, int32_t height) {
  const mapping_context m(v);
  const point out[4] = {{0, 0}, {double(width), 0}, {double(width), double(height)},
                        {0, double(height)}};
  double worst = 0;
  for (int j = 0; j <= 8; ++j)
    for (int i = 0; i <= 8; ++i) {
      const double x = c.page_w * i / 8, y = c.page_h * j / 8;
      // Rectangle to rectangle is affine: the corners' weights carry over.
      const double a = i / 8.0, b = j / 8.0;
      const double weight[4] = {(1 - a) * (1 - b), a * (1 - b), a * b, (1 - a) * b};
      point belongs = point_init(0, 0);
      for (int k = 0; k < 4; ++k)
        belongs = point_add(belongs, point_scale(out[(k - first + 4) % 4], weight[k]));
      const point lands = m.inverse(camera_project(c, x, y), belongs);
      worst = std::max(worst, point_length(point_from2(belongs, lands)));
    }
  return worst;
}
