// What the anti-aliasing benchmark scores against: analytic patterns and
// references computed from them by brute force, independently of the engine
// (their own sRGB curve, their own filter, the warp given as a function).
#pragma once

#include <functional>
#include <string>
#include <vector>

// Destination position (x, y) to source position (u, v).
using map_fn = std::function<void(double x, double y, double *u, double *v)>;

// A pattern as a function of the source position, in code values of the
// sRGB curve (0..255). The source image holds its values at pixel centres.
struct pattern {
  std::string name;  // "zoneplate" or "checker"
  int width;
  int height;
  double at(double x, double y) const;
  // Linear light (0..1) averaged over the box of half sides hx, hy around
  // (x, y): exact for the checkerboard's cells, whose edges point samples
  // would catch only as densely as they are taken; the zone plate's value
  // at the point.
  double light_over(double x, double y, double hx, double hy) const;
  // The zone plate's local frequency at (x, y), cycles per source pixel.
  void frequency(double x, double y, double *fx, double *fy) const;
};

// Destination pixels [x0, x1) x [y0, y1).
struct crop {
  int x0, y0, x1, y1;
  int width() const { return x1 - x0; }
  int height() const { return y1 - y0; }
};

double srgb_to_linear(double code);    // code value 0..255 to light 0..1
double srgb_from_linear(double light); // and back, clamped to 0..255

// The band-limited reference over the crop, in code values: the pattern
// warped exactly (sampled n x n times per destination pixel), taken to
// linear light, low-passed by a separable Lanczos-3 filter at the
// destination's sampling rate, and brought back to the sRGB curve.
std::vector<double> reference_band_limited(const pattern &p, const map_fn &map,
                                           const crop &c, int n);

// The former reference: the source pixels that n x n samples per
// destination pixel land in, averaged in code values (a box over the
// footprint, in the image's own curve).
std::vector<double> reference_box(const pattern &p,
                                  const std::vector<unsigned char> &source,
                                  const map_fn &map, const crop &c, int n);

// A result's value at destination pixel (x, y).
using result_fn = std::function<double(int x, int y)>;

double psnr(const std::vector<double> &ref, const crop &c, const result_fn &at);

// Local frequencies beyond this (cycles per destination pixel, along x or y)
// are past the result's Nyquist and where Lanczos-3 passes under 1.5%: the
// reference is flat there.
constexpr double ALIASING_FREQUENCY = 0.7;

// The zone plate's residual aliasing: the standard deviation of a result
// over the crop's pixels where the pattern, carried through the map, lies
// beyond ALIASING_FREQUENCY within Lanczos-3's reach all round (where the
// result should be flat), as a percentage of the source pattern's. Negative
// when no pixel of the crop lies there.
double residual_aliasing(const pattern &p, const map_fn &map, const crop &c,
                         const result_fn &at);
