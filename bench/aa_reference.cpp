#include "aa_reference.h"

#include <algorithm>
#include <cmath>

namespace {

// Lanczos-3's reach, in destination pixels.
constexpr int REACH = 3;

double lanczos3(double x) {
  if (x == 0.0) return 1.0;
  if (std::fabs(x) >= REACH) return 0.0;
  const double px = M_PI * x;
  return REACH * std::sin(px) * std::sin(px / REACH) / (px * px);
}

}  // namespace

double pattern::at(double x, double y) const {
  if (name == "zoneplate") {
    // Half a cycle per pixel at n / 2 from the centre.
    const double n = std::max(width, height);
    const double dx = x - width / 2.0, dy = y - height / 2.0;
    return 127.5 + 127.5 * std::cos(M_PI * (dx * dx + dy * dy) / n);
  }
  // Cells of 3 x 3 pixels.
  const long cell = long(std::floor(x / 3.0)) + long(std::floor(y / 3.0));
  return cell % 2 ? 255.0 : 0.0;
}

namespace {

// The mean over [x - h, x + h] of the square wave that is 1 on cells of 3
// pixels starting at 0, 6, 12 ... and -1 on the others, from its integral.
double square_wave_mean(double x, double h) {
  auto integral = [](double t) {
    const double r = t - 6.0 * std::floor(t / 6.0);
    return r < 3.0 ? r : 6.0 - r;
  };
  if (h < 1e-9) return long(std::floor(x / 3.0)) % 2 ? -1.0 : 1.0;
  return (integral(x + h) - integral(x - h)) / (2 * h);
}

}  // namespace

double pattern::light_over(double x, double y, double hx, double hy) const {
  if (name == "zoneplate") return srgb_to_linear(at(x, y));
  // Black (0) where the cells' square waves agree, white (1) where they
  // differ; the box mean of their product is the product of their means.
  return 0.5 * (1.0 - square_wave_mean(x, hx) * square_wave_mean(y, hy));
}

void pattern::frequency(double x, double y, double *fx, double *fy) const {
  const double n = std::max(width, height);
  *fx = (x - width / 2.0) / n;
  *fy = (y - height / 2.0) / n;
}

double srgb_to_linear(double code) {
  const double v = code / 255.0;
  return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}

double srgb_from_linear(double light) {
  const double l = std::clamp(light, 0.0, 1.0);
  const double v =
      l <= 0.0031308 ? 12.92 * l : 1.055 * std::pow(l, 1.0 / 2.4) - 0.055;
  return 255.0 * v;
}

std::vector<double> reference_band_limited(const pattern &p, const map_fn &map,
                                           const crop &c, int n) {
  // Samples on a grid of n per destination pixel over the crop grown by the
  // filter's reach; sample k sits at c.x0 - REACH + (k + 0.5) / n. Pixel X's
  // taps are samples X n .. (X + 2 REACH + 1) n - 1: the same weights for
  // every pixel.
  const int W = c.width(), H = c.height();
  const int taps = (2 * REACH + 1) * n;
  std::vector<double> weight(size_t(taps), 0.0);
  double total = 0;
  for (int t = 0; t < taps; ++t) {
    weight[size_t(t)] = lanczos3((t + 0.5) / n - REACH - 0.5);
    total += weight[size_t(t)];
  }
  const int fw = (W + 2 * REACH) * n, fh = (H + 2 * REACH) * n;
  // Each row of samples filtered along x at once: fh rows of W values.
  std::vector<double> across(size_t(fh) * size_t(W));
  std::vector<double> row(static_cast<size_t>(fw));
  // Where the samples of this row and the next land in the source: each
  // sample stands for the source box its grid cell covers.
  std::vector<double> u0(size_t(fw) + 1), v0(size_t(fw) + 1), u1(u0), v1(v0);
  auto land = [&](int j, std::vector<double> &u, std::vector<double> &v) {
    const double y = c.y0 - REACH + (j + 0.5) / n;
    for (int k = 0; k <= fw; ++k)
      map(c.x0 - REACH + (k + 0.5) / n, y, &u[size_t(k)], &v[size_t(k)]);
  };
  land(0, u0, v0);
  for (int j = 0; j < fh; ++j) {
    land(j + 1, u1, v1);
    for (int k = 0; k < fw; ++k) {
      const size_t i = size_t(k);
      const double hx =
          0.5 * (std::fabs(u0[i + 1] - u0[i]) + std::fabs(u1[i] - u0[i]));
      const double hy =
          0.5 * (std::fabs(v0[i + 1] - v0[i]) + std::fabs(v1[i] - v0[i]));
      row[i] = p.light_over(u0[i], v0[i], hx, hy);
    }
    u0.swap(u1);
    v0.swap(v1);
    for (int X = 0; X < W; ++X) {
      double s = 0;
      const double *r = row.data() + size_t(X) * size_t(n);
      for (int t = 0; t < taps; ++t) s += weight[size_t(t)] * r[t];
      across[size_t(j) * size_t(W) + size_t(X)] = s / total;
    }
  }
  std::vector<double> out(size_t(W) * size_t(H));
  for (int Y = 0; Y < H; ++Y)
    for (int X = 0; X < W; ++X) {
      double s = 0;
      for (int t = 0; t < taps; ++t)
        s += weight[size_t(t)] *
             across[(size_t(Y) * size_t(n) + size_t(t)) * size_t(W) + size_t(X)];
      out[size_t(Y) * size_t(W) + size_t(X)] = srgb_from_linear(s / total);
    }
  return out;
}

std::vector<double> reference_box(const pattern &p,
                                  const std::vector<unsigned char> &source,
                                  const map_fn &map, const crop &c, int n) {
  std::vector<double> out;
  out.reserve(size_t(c.width()) * size_t(c.height()));
  for (int y = c.y0; y < c.y1; ++y)
    for (int x = c.x0; x < c.x1; ++x) {
      double sum = 0;
      for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) {
          double u, v;
          map(x + (i + 0.5) / n, y + (j + 0.5) / n, &u, &v);
          const int px = std::clamp(int(std::floor(u)), 0, p.width - 1);
          const int py = std::clamp(int(std::floor(v)), 0, p.height - 1);
          sum += source[size_t(py) * size_t(p.width) + size_t(px)];
        }
      out.push_back(sum / (double(n) * n));
    }
  return out;
}

double psnr(const std::vector<double> &ref, const crop &c, const result_fn &at) {
  double se = 0;
  size_t k = 0;
  for (int y = c.y0; y < c.y1; ++y)
    for (int x = c.x0; x < c.x1; ++x, ++k) {
      const double e = at(x, y) - ref[k];
      se += e * e;
    }
  return 10 * std::log10(255.0 * 255.0 / (se / double(k)));
}

double residual_aliasing(const pattern &p, const map_fn &map, const crop &c,
                         const result_fn &at) {
  // The larger of the local frequency's components along x and y, in
  // cycles per destination pixel, over the crop grown by the filter's reach.
  const int W = c.width() + 2 * REACH, H = c.height() + 2 * REACH;
  std::vector<double> frequency(size_t(W) * size_t(H));
  constexpr double h = 0.25;
  for (int j = 0; j < H; ++j)
    for (int i = 0; i < W; ++i) {
      const double cx = c.x0 - REACH + i + 0.5, cy = c.y0 - REACH + j + 0.5;
      double u, v, ux0, vx0, ux1, vx1, uy0, vy0, uy1, vy1;
      map(cx, cy, &u, &v);
      map(cx - h, cy, &ux0, &vx0);
      map(cx + h, cy, &ux1, &vx1);
      map(cx, cy - h, &uy0, &vy0);
      map(cx, cy + h, &uy1, &vy1);
      double fu, fv;
      p.frequency(u, v, &fu, &fv);
      // The phase's gradient carried back through the map's Jacobian.
      const double fx = (fu * (ux1 - ux0) + fv * (vx1 - vx0)) / (2 * h);
      const double fy = (fu * (uy1 - uy0) + fv * (vy1 - vy0)) / (2 * h);
      frequency[size_t(j) * size_t(W) + size_t(i)] =
          std::max(std::fabs(fx), std::fabs(fy));
    }
  // A pixel counts when every pixel the filter reaches from it lies beyond:
  // near a coarse feature (a zone plate's centre at a strong shrink) the
  // reference itself is not flat.
  double sum = 0, squares = 0;
  size_t count = 0;
  for (int y = 0; y < c.height(); ++y)
    for (int x = 0; x < c.width(); ++x) {
      bool beyond = true;
      for (int j = y; j <= y + 2 * REACH && beyond; ++j)
        for (int i = x; i <= x + 2 * REACH && beyond; ++i)
          beyond = frequency[size_t(j) * size_t(W) + size_t(i)] >= ALIASING_FREQUENCY;
      if (!beyond) continue;
      const double e = at(c.x0 + x, c.y0 + y);
      sum += e;
      squares += e * e;
      ++count;
    }
  if (count == 0) return -1;
  const double mean = sum / double(count);
  const double deviation =
      std::sqrt(std::max(0.0, squares / double(count) - mean * mean));
  return 100.0 * deviation / (127.5 / std::sqrt(2.0));
}
