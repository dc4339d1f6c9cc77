// The anti-aliasing flag: where the map shrinks, each pixel is an
// elliptical weighted average of the source in linear light; where nothing
// shrinks the bytes are the flag-off bytes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>

#include "plain_buffers.h"

namespace {

const char *const kNames[] = {"nearest", "linear", "cubic", "lanczos"};

// A source of w x h in `format`, each pixel's channels (0..1, in the
// format's own curve) from `f`.
plain_layer source(const char *format, int w, int h,
                   const std::function<void(int, int, float *)> &f) {
  plain_layer src = plain_new(format, w, h);
  const int n = babl_format_get_n_components(babl_format(format));
  std::vector<float> px(size_t(w) * h * n);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) f(x, y, &px[(size_t(y) * w + x) * n]);
  const std::string name = babl_get_name(babl_format_get_model(babl_format(format)));
  const Babl *as_float = babl_format((name + " float").c_str());
  std::vector<unsigned char> bytes(px.size() * sizeof(float));
  std::memcpy(bytes.data(), px.data(), bytes.size());
  plain_write(src, bytes, as_float);
  return src;
}

warp_vals vals_for(const float (&s)[8], const float (&d)[8], int kernel,
                   int anti_aliasing, int32_t mapping = WARP_BILINEAR) {
  warp_vals v{};
  v.progress_name = "aa";
  v.interpolation = kernel;
  v.anti_aliasing = anti_aliasing;
  v.mapping = mapping;
  for (int i = 0; i < 8; ++i) (&v.sx0)[i] = s[i], (&v.dx0)[i] = d[i];
  return v;
}

// A render read back as floats in `format` (by default the layer's own
// model at float), with the pixels clear of the quadrangle's edges.
struct image {
  int x0, y0;  // the destination box's corner
  int width, height, channels;
  std::vector<float> px;
  std::vector<bool> inside;
  const float *at(int x, int y) const {
    return &px[(size_t(y) * width + x) * channels];
  }
};

// Interior pixels: rendered, and every pixel within 2 rendered too, judged
// on an opaque RGBA render of the same corners.
std::vector<bool> interior(const warp_vals &v) {
  const plain_layer white = source("RGBA u8", 8, 8, [](int, int, float *p) {
    p[0] = p[1] = p[2] = p[3] = 1;
  });
  warp_vals probe = v;
  probe.anti_aliasing = 0;
  const float s[8] = {0, 0, 8, 0, 8, 8, 0, 8};
  for (int i = 0; i < 8; ++i) (&probe.sx0)[i] = s[i];
  const plain_layer out = plain_render(white, probe, nullptr);
  const std::vector<unsigned char> a = plain_read(out);
  const int w = out.extent.width, h = out.extent.height;
  std::vector<bool> inside(size_t(w) * h, false);
  for (int y = 2; y < h - 2; ++y)
    for (int x = 2; x < w - 2; ++x) {
      bool all = true;
      for (int j = y - 2; j <= y + 2; ++j)
        for (int i = x - 2; i <= x + 2; ++i)
          all = all && a[(size_t(j) * w + i) * 4 + 3] != 0;
      inside[size_t(y) * w + x] = all;
    }
  return inside;
}

image render(const plain_layer &src, const warp_vals &v,
             const char *read_as = nullptr,
             warp_render_options options = {0, 2}) {
  const plain_layer out = plain_render(src, v, &options);
  EXPECT_EQ(out.status, WARP_SUCCESS);
  const std::string model = babl_get_name(babl_format_get_model(src.format));
  const Babl *format = babl_format(read_as ? read_as : (model + " float").c_str());
  const std::vector<unsigned char> bytes = plain_read(out, format);
  image img{out.extent.x, out.extent.y, out.extent.width, out.extent.height,
            babl_format_get_n_components(format),
            std::vector<float>(bytes.size() / sizeof(float)), interior(v)};
  std::memcpy(img.px.data(), bytes.data(), bytes.size());
  return img;
}

const float kSquare256[8] = {0, 0, 256, 0, 256, 256, 0, 256};
// About 4x smaller, narrower at the top.
const float kTrapezoid4[8] = {14.3f, 3.2f, 54.7f, 3.1f, 67.4f, 66.6f, 2.8f, 67.3f};
// About 40x smaller: read from the reduced copies.
const float kTiny[8] = {2, 2, 8, 3, 9, 9, 3, 8};

// The largest distance of a channel of interior pixels from `level`, and
// how many interior pixels there are.
double worst_interior(const image &img, int channel, double level,
                      int *count = nullptr) {
  double worst = 0;
  int n = 0;
  for (int y = 0; y < img.height; ++y)
    for (int x = 0; x < img.width; ++x)
      if (img.inside[size_t(y) * img.width + x]) {
        ++n;
        worst = std::max(worst, std::fabs(img.at(x, y)[channel] - level));
      }
  if (count) *count = n;
  return worst;
}

float checker(int x, int y) { return (x + y) % 2 ? 1.0f : 0.0f; }

}  // namespace

TEST(AntiAliasing, FlatStaysFlatForEveryKernelShrinkAndPrecision) {
  // 8 and 16 bits exactly; floats within their rounding.
  const struct {
    const char *format;
    double tolerance;
  } formats[] = {{"R'G'B'A u8", 0}, {"R'G'B'A u16", 0}, {"RGBA float", 2e-6}};
  for (const auto &f : formats)
    for (float alpha : {1.0f, 0.5f}) {
      const float colour[4] = {200 / 255.0f, 31 / 255.0f, 7 / 255.0f, alpha};
      const plain_layer src = source(f.format, 256, 256, [&](int, int, float *p) {
        std::memcpy(p, colour, sizeof colour);
      });
      const std::vector<unsigned char> flat = plain_read(src);
      const size_t bpp = size_t(plain_bpp(f.format));
      for (const auto *d : {&kTrapezoid4, &kTiny})
        for (int kernel = 0; kernel < 4; ++kernel) {
          SCOPED_TRACE(::testing::Message() << f.format << " alpha " << alpha
                                            << " " << kNames[kernel]);
          const plain_layer out =
              plain_render(src, vals_for(kSquare256, *d, kernel, 1));
          const std::vector<unsigned char> got = plain_read(out);
          const std::vector<unsigned char> as_float =
              plain_read(out, babl_format("RGBA float"));
          int rendered = 0;
          for (size_t i = 0; i < got.size() / bpp; ++i) {
            float p[4];
            std::memcpy(p, &as_float[i * 16], 16);
            if (p[3] == 0) continue;
            ++rendered;
            if (f.tolerance == 0) {
              ASSERT_EQ(0, std::memcmp(&got[i * bpp], &flat[0], bpp)) << "pixel " << i;
            } else {
              float want[4];
              std::memcpy(want, &flat[0], 16);
              for (int c = 0; c < 4; ++c)
                ASSERT_NEAR(p[c], want[c], f.tolerance) << "pixel " << i;
            }
          }
          EXPECT_GT(rendered, d == &kTiny ? 20 : 2500);
        }
    }
}

TEST(AntiAliasing, IdentityAndMagnificationKeepTheFlagOffBytes) {
  std::mt19937 rng(8);
  const plain_layer src = source("R'G'B'A u8", 40, 30, [&](int, int, float *p) {
    for (int c = 0; c < 4; ++c) p[c] = float(rng() % 256) / 255.0f;
  });
  const float s[8] = {0, 0, 40, 0, 40, 30, 0, 30};
  const float twice[8] = {5, 5, 85, 5, 85, 65, 5, 65};
  // A trapezoid that magnifies everywhere.
  const float wider[8] = {0, 0, 80, 10, 90, 75, -5, 70};
  for (const auto *d : {&s, &twice, &wider})
    for (int kernel = 0; kernel < 4; ++kernel)
      EXPECT_EQ(plain_read(plain_render(src, vals_for(s, *d, kernel, 1))),
                plain_read(plain_render(src, vals_for(s, *d, kernel, 0))))
          << kNames[kernel];
}

// A black and white 1-pixel checkerboard holds half of white's light: an
// sRGB image shows that as 188, a linear one as 0.5 (127.5 in 8 bits).
// Without the flag it aliases far from either.
TEST(AntiAliasing, CheckerboardShrunkAveragesItsLight) {
  const struct {
    const char *format;
    const char *read_as;
    double level, tolerance;
  } cases[] = {
      {"R'G'B'A u8", "R'G'B'A float", 188 / 255.0, 2 / 255.0},
      {"RGBA float", "RGBA float", 0.5, 2 / 255.0},
      {"RGBA u8", "RGBA float", 0.5, 2 / 255.0},
      {"R'G'B' u8", "R'G'B' float", 188 / 255.0, 2 / 255.0},
      {"Y'A u16", "Y'A float", 188 / 255.0, 2 / 255.0},
      {"Y' u8", "Y' float", 188 / 255.0, 2 / 255.0},
  };
  for (const auto &c : cases) {
    const int n = babl_format_get_n_components(babl_format(c.format));
    const plain_layer src = source(c.format, 256, 256, [&](int x, int y, float *p) {
      for (int k = 0; k < n; ++k) p[k] = checker(x, y);
      if (n == 2 || n == 4) p[n - 1] = 1;
    });
    for (int32_t mapping : {WARP_BILINEAR, WARP_PERSPECTIVE})
    for (int kernel = 0; kernel < 4; ++kernel)
      for (const auto *d : {&kTrapezoid4, &kTiny}) {
        SCOPED_TRACE(::testing::Message() << c.format << " " << kNames[kernel]
                                          << (d == &kTiny ? " 40x" : " 4x")
                                          << ", mapping " << mapping);
        int count = 0;
        EXPECT_LE(worst_interior(render(src, vals_for(kSquare256, *d, kernel, 1,
                                                      mapping),
                                        c.read_as),
                                 0, c.level, &count),
                  c.tolerance);
        EXPECT_GT(count, d == &kTiny ? 4 : 2000);
        if (d == &kTrapezoid4) {
          EXPECT_GT(worst_interior(render(src, vals_for(kSquare256, *d, kernel, 0,
                                                        mapping),
                                          c.read_as),
                                   0, c.level),
                    0.2);
        }
      }
  }
}

// The perspective map's footprint in closed form is its derivative: central
// differences of the mapped positions agree, and it shrinks most where the
// destination is narrowest.
TEST(AntiAliasing, PerspectiveFootprintIsTheMapsDerivative) {
  const warp_vals v = vals_for(kSquare256, kTrapezoid4, 1, 1, WARP_PERSPECTIVE);
  warp w{};
  interpolation in{};
  w.source_extent = bounds{nullptr, 0, 0, 256, 256, 256, 256};
  interpolation_init(&in, &w);
  warp_init(&w, &v, &in);
  auto map = [&](double x, double y) {
    float sx, sy;
    warp_convert(&w, float(x), float(y), &sx, &sy);
    return point_init(sx, sy);
  };
  double narrow = 0, wide = 0;
  for (double y = 6; y <= 64; y += 7)
    for (double x = 10; x <= 56; x += 5) {
      footprint f;
      ASSERT_TRUE(footprint_at(&w, x, y, &f)) << x << "," << y;
      const double h = 0.5;
      const point dx = point_scale(point_from2(map(x - h, y), map(x + h, y)), 0.5 / h);
      const point dy = point_scale(point_from2(map(x, y - h), map(x, y + h)), 0.5 / h);
      EXPECT_NEAR(f.along_x.x, dx.x, 0.01 * f.major) << x << "," << y;
      EXPECT_NEAR(f.along_x.y, dx.y, 0.01 * f.major) << x << "," << y;
      EXPECT_NEAR(f.along_y.x, dy.x, 0.01 * f.major) << x << "," << y;
      EXPECT_NEAR(f.along_y.y, dy.y, 0.01 * f.major) << x << "," << y;
      (y < 10 ? narrow : wide) = std::max(y < 10 ? narrow : wide, f.major);
    }
  EXPECT_GT(narrow, wide);
}

TEST(AntiAliasing, SqueezedOnlyInYFiltersOnlyAcrossY) {
  // Rows alternate in red, columns in green.
  const plain_layer src = source("R'G'B'A u8", 64, 256, [](int x, int y, float *p) {
    p[0] = float(y % 2), p[1] = float(x % 2), p[2] = 0, p[3] = 1;
  });
  const float s[8] = {0, 0, 64, 0, 64, 256, 0, 256};
  const float d[8] = {0, 0, 64, 0, 64, 64, 0, 64};
  const image img = render(src, vals_for(s, d, 1, 1));
  EXPECT_LE(worst_interior(img, 0, 188 / 255.0), 2 / 255.0);
  // Columns keep most of their contrast: across x the filter is only as
  // wide as one source pixel, where a round filter of the 4x footprint
  // would leave them grey too.
  double lowest_step = 1;
  for (int y = 0; y < img.height; ++y)
    for (int x = 0; x + 1 < img.width; ++x)
      if (img.inside[size_t(y) * img.width + x] &&
          img.inside[size_t(y) * img.width + x + 1])
        lowest_step = std::min(lowest_step,
                               double(std::fabs(img.at(x, y)[1] - img.at(x + 1, y)[1])));
  EXPECT_GE(lowest_step, 0.9);
}

TEST(AntiAliasing, NoiseShrunkKeepsItsMeanLight) {
  std::mt19937 rng(5);
  const plain_layer src = source("R'G'B'A u8", 256, 256, [&](int, int, float *p) {
    p[0] = p[1] = p[2] = float(rng() % 256) / 255.0f, p[3] = 1;
  });
  const std::vector<unsigned char> light = plain_read(src, babl_format("RGBA float"));
  double source_mean = 0;
  for (size_t i = 0; i < light.size() / 16; ++i) {
    float p[4];
    std::memcpy(p, &light[i * 16], 16);
    source_mean += p[0];
  }
  source_mean /= double(light.size() / 16);
  // Half a level of the sRGB curve where the mean lies.
  const auto code = [](double l) {
    return 255 * (l <= 0.0031308 ? 12.92 * l : 1.055 * std::pow(l, 1 / 2.4) - 0.055);
  };
  const float d[8] = {0, 0, 40, 0, 40, 40, 0, 40};
  for (int kernel = 0; kernel < 4; ++kernel) {
    const image img = render(src, vals_for(kSquare256, d, kernel, 1), "RGBA float");
    double sum = 0;
    int n = 0;
    for (int y = 0; y < img.height; ++y)
      for (int x = 0; x < img.width; ++x)
        if (img.inside[size_t(y) * img.width + x]) sum += img.at(x, y)[0], ++n;
    ASSERT_GT(n, 1000);
    EXPECT_NEAR(code(sum / n), code(source_mean), 0.5) << kNames[kernel];
  }
}

TEST(AntiAliasing, FastPathWritesTheOnePixelPathsBytes) {
  std::mt19937 rng(11);
  // About 1.5x: the source itself, read from the render's memory or row
  // by row from GEGL; 4x and 40x: the reduced copies; about 10x down only:
  // tall ellipses of the source itself, more rows than go to the vector
  // level at once, passing the source's edges.
  const float mild[8] = {10, 10, 180, 12, 175, 178, 8, 170};
  const float squeezed[8] = {0, 0, 256, 0, 256, 24, 0, 24};
  for (const char *format :
       {"R'G'B'A u8", "R'G'B' u16", "RGBA float", "Y'A u8", "R'G'B'A float"}) {
    plain_layer src = plain_new(format, 256, 256);
    std::vector<unsigned char> px(size_t(256) * 256 * plain_bpp(format));
    for (auto &b : px) b = (unsigned char)(rng() % 256);
    if (std::strstr(format, "float")) {  // floats in 0..1, alpha varying
      std::vector<float> f(px.size() / 4);
      for (auto &v : f) v = float(rng() % 1000) / 999.0f;
      std::memcpy(px.data(), f.data(), px.size());
    }
    plain_write(src, px);
    for (const auto *d : {&mild, &kTrapezoid4, &kTiny, &squeezed})
      for (int kernel = 0; kernel < 4; ++kernel) {
        const warp_vals v = vals_for(kSquare256, *d, kernel, 1);
        warp_render_options slow = {1, 1};
        const std::vector<unsigned char> bytes = plain_read(plain_render(src, v, &slow));
        // Whatever the vector level and the threads, one path or the other.
        for (int level = 1; level <= 2; ++level)
          for (int threads : {1, 2}) {
            warp_render_options fast = {0, threads, level};
            EXPECT_EQ(bytes, plain_read(plain_render(src, v, &fast)))
                << format << " " << kNames[kernel] << ", level " << level
                << ", threads " << threads;
          }
        slow.vector_level = 1;
        EXPECT_EQ(bytes, plain_read(plain_render(src, v, &slow)))
            << format << " " << kNames[kernel] << ", one pixel at SSE2";
        // The perspective map's footprints, on both paths.
        const warp_vals p = vals_for(kSquare256, *d, kernel, 1, WARP_PERSPECTIVE);
        warp_render_options one = {1, 1}, fast = {0, 2};
        EXPECT_EQ(plain_read(plain_render(src, p, &one)),
                  plain_read(plain_render(src, p, &fast)))
            << format << " " << kNames[kernel] << ", perspective";
      }
  }
  // Without memory for the reduced copies the render says so.
  plain_layer src = plain_new("R'G'B'A u8", 256, 256);
  warp_render_faults faults = {2, -1, 0, 0};
  warp_render_options options = {0, 1};
  options.faults = &faults;
  const plain_layer out = plain_render(src, vals_for(kSquare256, kTiny, 1, 1), &options);
  EXPECT_EQ(out.status, WARP_NO_MEMORY);
  EXPECT_EQ(faults.allocations_failed, 1);
}

// Light in, light out: every 8-bit code through the tables and back, and
// wider samples through babl, whatever the curve.
TEST(AntiAliasing, LightCurveGivesEveryCodeBack) {
  for (const char *format : {"R'G'B'A u8", "Y'A u8", "RGBA u8", "R'G'B' u8",
                             "Y' u8", "R'G'B'A u16", "R'G'B'A float"}) {
    SCOPED_TRACE(format);
    warp w{};
    warp_samples_init(&w, babl_format(format));
    light_curve l;
    light_curve_init(&l, &w);
    const int32_t bpc = w.bpp / w.channels;
    std::vector<unsigned char> pixels(size_t(w.bpp) * 256);
    for (int32_t i = 0; i < 256; ++i)
      for (int32_t c = 0; c < w.channels; ++c) {
        unsigned char *p = &pixels[size_t(i * w.bpp + c * bpc)];
        // Alpha from opaque to half, never zero: colour must come back.
        const int32_t code = w.has_alpha && c == w.channels - 1 ? 255 - i / 2 : i;
        if (bpc == 1) *p = (unsigned char)code;
        if (bpc == 2) {
          const uint16_t v = uint16_t(code * 257 + (c == 0 ? 3 : 0));
          std::memcpy(p, &v, 2);
        }
        if (bpc == 4) {
          const float v = float(code) / 255.0f;
          std::memcpy(p, &v, 4);
        }
      }
    std::vector<float> texels(size_t(l.texel) * 256);
    light_decode(&l, pixels.data(), 256, texels.data());
    for (int32_t i = 0; i < 256; ++i) {
      float t[CHANNELS_MAX], out[CHANNELS_MAX], in[CHANNELS_MAX] = {};
      std::memcpy(t, &texels[size_t(i * l.texel)], sizeof(float) * l.texel);
      if (l.alpha >= 0)  // decoded colour comes weighted by alpha
        for (int32_t c = 0; c < l.alpha; ++c)
          t[c] = t[l.alpha] > 0 ? t[c] / t[l.alpha] : 0;
      light_encode(&l, t, out);
      if (bpc != 1)
        sample_cell_values(w.sample, w.channels, &pixels[size_t(i * w.bpp)], in);
      for (int32_t c = 0; c < w.channels; ++c) {
        const float want = bpc == 1 ? float(pixels[size_t(i * w.bpp + c)]) : in[c];
        // Within a thousandth of an 8-bit code, a tenth of a 16-bit step,
        // a float's rounding: each rounds back to where it came from.
        const float tolerance = bpc == 1 ? 1e-3f : bpc == 2 ? 1.5e-6f : 2e-6f;
        ASSERT_NEAR(out[c], want, tolerance) << "code " << i << " channel " << c;
      }
    }
  }
}

// A ramp of light (linear in both directions) is averaged to its value at
// the pixel's source position whatever the filter's reach, from the source
// itself and from every reduced copy: a copy whose texels sat off their
// centres would move it by half a texel, a source pixel at 4x, 16 at 40x.
TEST(AntiAliasing, RampOfLightLandsWhereTheMapPutsIt) {
  const float s[8] = {0, 0, 512, 0, 512, 512, 0, 512};
  // Across: 1.5x at the top to 40x at the bottom; down: 8.5x.
  const float d[8] = {0, 0, 340, 0, 186, 60, 173, 60};
  for (const char *format : {"Y float", "YA float", "RGBA float"}) {
    SCOPED_TRACE(format);
    const int n = babl_format_get_n_components(babl_format(format));
    const auto ramp = [](double x, double y) { return 0.1 + (x + 0.6 * y) / 1000; };
    const plain_layer src = source(format, 512, 512, [&](int x, int y, float *p) {
      for (int c = 0; c < n; ++c) p[c] = float(ramp(x + 0.5, y + 0.5));
      if (n != 1) p[n - 1] = 1;
    });
    const warp_vals v = vals_for(s, d, 1, 1);
    const image img = render(src, v, format);
    warp w{};
    interpolation in{};
    w.source_extent = {nullptr, 0, 0, 512, 512, 512, 512};
    warp_samples_init(&w, babl_format(format));
    interpolation_init(&in, &w);
    warp_init(&w, &v, &in);
    double worst = 0;
    int checked = 0;
    for (int y = 0; y < img.height; ++y)
      for (int x = 0; x < img.width; ++x) {
        const double cx = img.x0 + x + 0.5, cy = img.y0 + y + 0.5;
        float sx, sy;
        footprint f;
        warp_convert(&w, float(cx), float(cy), &sx, &sy);
        if (!footprint_at(&w, cx, cy, &f) || f.major < 1.2) continue;
        // Clear of the source's edges by the filter's reach.
        const double margin = 8.0 * f.major + 4;
        if (sx < margin || sy < margin || sx > 512 - margin || sy > 512 - margin)
          continue;
        ++checked;
        const double e = std::fabs(img.at(x, y)[0] - ramp(sx, sy));
        if (e > 0.004) printf("err %.4f at %d,%d src %.1f,%.1f major %.1f\n", e, x, y, sx, sy, f.major);
        worst = std::max(worst, e);
      }
    EXPECT_GT(checked, 1500) << "checked";
    EXPECT_LT(worst, 2e-4);  // a fifth of a source pixel along the ramp
  }
}
