// An independent model of the bilinear mapping and pattern fixtures, shared
// by the engine's pixel tests and the host's layer tests.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "tessaform.h"

namespace model {

// A layer's pixels addressed in image coordinates; each test fills it from
// its own kind of layer.
struct pixel_grid {
  int x0 = 0, y0 = 0, width = 0, height = 0, bpp = 0;
  std::vector<unsigned char> data;

  void assign(int x, int y, int w, int h, std::vector<unsigned char> bytes) {
    x0 = x, y0 = y, width = w, height = h;
    data = std::move(bytes);
    bpp = int(data.size() / (size_t(width) * height));
  }
  bool contains(int x, int y) const {
    return x >= x0 && y >= y0 && x < x0 + width && y < y0 + height;
  }
  const unsigned char *at(int x, int y) const {
    return &data[(size_t(y - y0) * width + (x - x0)) * bpp];
  }
  bool written(int x, int y) const {
    const unsigned char *p = at(x, y);
    return std::any_of(p, p + bpp, [](unsigned char b) { return b != 0; });
  }
  bool same(int x, int y, const pixel_grid &o, int ox, int oy) const {
    return std::memcmp(at(x, y), o.at(ox, oy), size_t(bpp)) == 0;
  }
};

// ------------------------------------------------------------------ model

struct pt {
  double x, y;
};

// Corners as the engine sees them: the settings hold floats.
struct quad {
  std::array<pt, 4> c;
  quad(double x0, double y0, double x1, double y1, double x2, double y2,
       double x3, double y3)
      : c{{{float(x0), float(y0)},
           {float(x1), float(y1)},
           {float(x2), float(y2)},
           {float(x3), float(y3)}}} {}
  const pt &operator[](int i) const { return c[i]; }
};

inline quad rect(double x0, double y0, double x1, double y1) {
  return quad(x0, y0, x1, y0, x1, y1, x0, y1);
}

inline pt bilinear(const quad &q, double u, double v) {
  const double a = (1 - u) * (1 - v), b = u * (1 - v), c = u * v,
               d = (1 - u) * v;
  return {a * q[0].x + b * q[1].x + c * q[2].x + d * q[3].x,
          a * q[0].y + b * q[1].y + c * q[2].y + d * q[3].y};
}

// (u, v) of p by Newton's method; false when it does not settle.
inline bool inverse_bilinear(const quad &q, pt p, double *u, double *v) {
  double U = 0.5, V = 0.5;
  for (int i = 0; i < 100; ++i) {
    const pt f = bilinear(q, U, V);
    const double rx = p.x - f.x, ry = p.y - f.y;
    if (std::hypot(rx, ry) < 1e-11) {
      *u = U;
      *v = V;
      return true;
    }
    const double dux = (1 - V) * (q[1].x - q[0].x) + V * (q[2].x - q[3].x);
    const double duy = (1 - V) * (q[1].y - q[0].y) + V * (q[2].y - q[3].y);
    const double dvx = (1 - U) * (q[3].x - q[0].x) + U * (q[2].x - q[1].x);
    const double dvy = (1 - U) * (q[3].y - q[0].y) + U * (q[2].y - q[1].y);
    const double det = dux * dvy - duy * dvx;
    if (det == 0) return false;
    U += (rx * dvy - ry * dvx) / det;
    V += (dux * ry - duy * rx) / det;
  }
  return false;
}

inline double cross(pt o, pt a, pt b) {
  return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x);
}

// Strictly inside a convex quadrangle of either orientation, by more than
// `margin` from every edge.
inline bool inside(const quad &q, pt p, double margin = 1e-6) {
  int pos = 0, neg = 0;
  for (int i = 0; i < 4; ++i) {
    const pt a = q[i], b = q[(i + 1) % 4];
    const double d = cross(a, b, p) / std::hypot(b.x - a.x, b.y - a.y);
    if (d > margin) ++pos;
    if (d < -margin) ++neg;
  }
  return pos == 4 || neg == 4;
}

inline double segment_distance(pt p, pt a, pt b) {
  const double dx = b.x - a.x, dy = b.y - a.y;
  double t = ((p.x - a.x) * dx + (p.y - a.y) * dy) / (dx * dx + dy * dy);
  t = std::clamp(t, 0.0, 1.0);
  return std::hypot(p.x - (a.x + t * dx), p.y - (a.y + t * dy));
}

inline double distance_to(const quad &q, pt p) {
  if (inside(q, p, 0.0)) return 0.0;
  double d = 1e300;
  for (int i = 0; i < 4; ++i)
    d = std::min(d, segment_distance(p, q[i], q[(i + 1) % 4]));
  return d;
}


inline warp_vals make_vals(const quad &s, const quad &d, int interp,
                    const char *label = "Warp") {
  warp_vals v{};
  v.progress_name = label;
  float *f[16] = {&v.sx0, &v.sy0, &v.sx1, &v.sy1, &v.sx2, &v.sy2,
                  &v.sx3, &v.sy3, &v.dx0, &v.dy0, &v.dx1, &v.dy1,
                  &v.dx2, &v.dy2, &v.dx3, &v.dy3};
  for (int i = 0; i < 4; ++i) {
    *f[2 * i] = float(s[i].x);
    *f[2 * i + 1] = float(s[i].y);
    *f[8 + 2 * i] = float(d[i].x);
    *f[8 + 2 * i + 1] = float(d[i].y);
  }
  v.interpolation = interp;
  return v;
}

// Every channel of every pixel in 1..255, so a written pixel is never all
// zero; alpha is 255 when `opaque`.
inline unsigned char pattern_value(int x, int y, int c) {
  return static_cast<unsigned char>(1 + (x * 31 + y * 17 + c * 59 + x * y * 7) %
                                            255);
}

inline std::vector<unsigned char> pattern(int w, int h, int bpp, bool opaque) {
  std::vector<unsigned char> p(size_t(w) * h * bpp);
  const bool alpha = bpp == 2 || bpp == 4;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < bpp; ++c)
        p[(size_t(y) * w + x) * bpp + c] =
            (opaque && alpha && c == bpp - 1) ? 255 : pattern_value(x, y, c);
  return p;
}

inline std::string show(const unsigned char *p, int bpp) {
  std::string s = "(";
  for (int c = 0; c < bpp; ++c) s += (c ? "," : "") + std::to_string(p[c]);
  return s + ")";
}

}  // namespace model
