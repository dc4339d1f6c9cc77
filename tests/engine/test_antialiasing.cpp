// The anti-aliasing flag: shrinking averages the source over each pixel's
// footprint; where nothing shrinks the bytes are the flag-off bytes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>

#include "plain_buffers.h"

namespace {

const char *const kNames[] = {"nearest", "linear", "cubic", "lanczos"};

// An RGBA u8 source of w x h, each pixel from `f`.
plain_layer rgba_source(int w, int h,
                        const std::function<void(int, int, unsigned char *)> &f) {
  plain_layer src = plain_new("R'G'B'A u8", w, h);
  std::vector<unsigned char> px(size_t(w) * h * 4);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) f(x, y, &px[(size_t(y) * w + x) * 4]);
  plain_write(src, px);
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

struct rgba_image {
  int width, height;
  std::vector<unsigned char> px;
  const unsigned char *at(int x, int y) const {
    return &px[(size_t(y) * width + x) * 4];
  }
  // Rendered, and every pixel within 2 rendered too: clear of the edges.
  bool interior(int x, int y) const {
    for (int j = y - 2; j <= y + 2; ++j)
      for (int i = x - 2; i <= x + 2; ++i)
        if (i < 0 || j < 0 || i >= width || j >= height || at(i, j)[3] == 0)
          return false;
    return true;
  }
};

rgba_image render(const plain_layer &src, const warp_vals &v,
                  warp_render_options options = {0, 2}) {
  const plain_layer out = plain_render(src, v, &options);
  EXPECT_EQ(out.status, WARP_SUCCESS);
  return {out.extent.width, out.extent.height, plain_read(out)};
}

const float kSquare256[8] = {0, 0, 256, 0, 256, 256, 0, 256};
// About 4x smaller, narrower at the top.
const float kTrapezoid4[8] = {14.3f, 3.2f, 54.7f, 3.1f, 67.4f, 66.6f, 2.8f, 67.3f};

// The largest distance of a channel of interior pixels from `level`.
int worst_interior(const rgba_image &img, int channel, double level,
                   int *count = nullptr) {
  int worst = 0, n = 0;
  for (int y = 0; y < img.height; ++y)
    for (int x = 0; x < img.width; ++x)
      if (img.interior(x, y)) {
        ++n;
        worst = std::max(
            worst, int(std::lround(std::fabs(img.at(x, y)[channel] - level))));
      }
  if (count) *count = n;
  return worst;
}

unsigned char checker(int x, int y) { return (x + y) % 2 ? 255 : 0; }

}  // namespace

TEST(AntiAliasing, FlatStaysExactlyFlatForEveryKernelAndShrink) {
  // 4x through direct samples, 40x through the reduced copies.
  const float tiny[8] = {2, 2, 8, 3, 9, 9, 3, 8};
  for (int alpha : {255, 128}) {
    const plain_layer src = rgba_source(256, 256, [&](int, int, unsigned char *p) {
      p[0] = 200, p[1] = 31, p[2] = 7, p[3] = (unsigned char)alpha;
    });
    for (const auto *d : {&kTrapezoid4, &tiny})
      for (int kernel = 0; kernel < 4; ++kernel) {
        const rgba_image img = render(src, vals_for(kSquare256, *d, kernel, 1));
        int rendered = 0;
        for (int y = 0; y < img.height; ++y)
          for (int x = 0; x < img.width; ++x) {
            const unsigned char *p = img.at(x, y);
            if (p[3] == 0) continue;
            ++rendered;
            ASSERT_TRUE(p[0] == 200 && p[1] == 31 && p[2] == 7 && p[3] == alpha)
                << kNames[kernel] << " alpha " << alpha << " at " << x << ","
                << y << ": " << int(p[0]) << " " << int(p[3]);
          }
        EXPECT_GT(rendered, d == &tiny ? 20 : 2500) << kNames[kernel];
      }
  }
}

TEST(AntiAliasing, IdentityAndMagnificationKeepTheFlagOffBytes) {
  std::mt19937 rng(8);
  const plain_layer src = rgba_source(40, 30, [&](int, int, unsigned char *p) {
    for (int c = 0; c < 4; ++c) p[c] = (unsigned char)rng();
  });
  const float s[8] = {0, 0, 40, 0, 40, 30, 0, 30};
  const float twice[8] = {5, 5, 85, 5, 85, 65, 5, 65};
  // A trapezoid that magnifies everywhere.
  const float wider[8] = {0, 0, 80, 10, 90, 75, -5, 70};
  for (const auto *d : {&s, &twice, &wider})
    for (int kernel = 0; kernel < 4; ++kernel)
      EXPECT_EQ(render(src, vals_for(s, *d, kernel, 1)).px,
                render(src, vals_for(s, *d, kernel, 0)).px)
          << kNames[kernel];
}

TEST(AntiAliasing, CheckerboardShrunkGoesGreyAndAliasesWithoutTheFlag) {
  const plain_layer src = rgba_source(256, 256, [](int x, int y, unsigned char *p) {
    p[0] = p[1] = p[2] = checker(x, y), p[3] = 255;
  });
  const float tiny[8] = {1, 1, 5, 1, 6, 6, 1, 5};  // about 50x, reduced copies
  for (int32_t mapping : {WARP_BILINEAR, WARP_PERSPECTIVE})
    for (int kernel = 0; kernel < 4; ++kernel) {
      SCOPED_TRACE(::testing::Message() << kNames[kernel] << ", mapping " << mapping);
      int n = 0;
      const int on = worst_interior(
          render(src, vals_for(kSquare256, kTrapezoid4, kernel, 1, mapping)), 0,
          127.5, &n);
      EXPECT_LE(on, 12);
      EXPECT_GT(n, 2000);
      EXPECT_GT(worst_interior(render(src, vals_for(kSquare256, kTrapezoid4,
                                                    kernel, 0, mapping)),
                               0, 127.5),
                60);
      const rgba_image far =
          render(src, vals_for(kSquare256, tiny, kernel, 1, mapping));
      for (int y = 0; y < far.height; ++y)
        for (int x = 0; x < far.width; ++x)
          if (far.at(x, y)[3] == 255) {
            EXPECT_NEAR(far.at(x, y)[0], 127.5, 12);
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
  const plain_layer src = rgba_source(64, 256, [](int x, int y, unsigned char *p) {
    p[0] = y % 2 ? 255 : 0, p[1] = x % 2 ? 255 : 0, p[2] = 0, p[3] = 255;
  });
  const float s[8] = {0, 0, 64, 0, 64, 256, 0, 256};
  const float d[8] = {0, 0, 64, 0, 64, 64, 0, 64};
  const rgba_image img = render(src, vals_for(s, d, 1, 1));
  EXPECT_LE(worst_interior(img, 0, 127.5), 12);
  // Columns keep their contrast: neighbours differ by nearly the full range.
  int lowest_step = 255;
  for (int y = 0; y < img.height; ++y)
    for (int x = 0; x + 1 < img.width; ++x)
      if (img.interior(x, y) && img.interior(x + 1, y))
        lowest_step = std::min(lowest_step,
                               std::abs(img.at(x, y)[1] - img.at(x + 1, y)[1]));
  EXPECT_GE(lowest_step, 250);
}

TEST(AntiAliasing, NoiseShrunkKeepsItsMean) {
  std::mt19937 rng(5);
  const plain_layer src = rgba_source(256, 256, [&](int, int, unsigned char *p) {
    p[0] = p[1] = p[2] = (unsigned char)rng(), p[3] = 255;
  });
  double source_mean = 0;
  for (unsigned char b : plain_read(src)) source_mean += b;
  source_mean = (source_mean - 255.0 * 256 * 256) / (3.0 * 256 * 256);
  const float d[8] = {0, 0, 40, 0, 40, 40, 0, 40};
  for (int kernel = 0; kernel < 4; ++kernel) {
    const rgba_image img = render(src, vals_for(kSquare256, d, kernel, 1));
    double sum = 0;
    int n = 0;
    for (int y = 0; y < img.height; ++y)
      for (int x = 0; x < img.width; ++x)
        if (img.interior(x, y)) sum += img.at(x, y)[0], ++n;
    ASSERT_GT(n, 1000);
    EXPECT_NEAR(sum / n, source_mean, 1.0) << kNames[kernel];
  }
}

TEST(AntiAliasing, FastPathWritesTheOnePixelPathsBytes) {
  std::mt19937 rng(11);
  const float tiny[8] = {2, 2, 9, 3, 9, 9, 3, 8};
  for (const char *format : {"R'G'B'A u8", "R'G'B' u16", "RGBA float"}) {
    plain_layer src = plain_new(format, 256, 256);
    std::vector<unsigned char> px(size_t(256) * 256 * plain_bpp(format));
    for (auto &b : px) b = (unsigned char)(rng() % 256);
    if (format[4] == 'f') {  // floats in 0..1, alpha varying
      std::vector<float> f(size_t(256) * 256 * 4);
      for (auto &v : f) v = float(rng() % 1000) / 999.0f;
      std::memcpy(px.data(), f.data(), px.size());
    }
    plain_write(src, px);
    for (const auto *d : {&kTrapezoid4, &tiny})
      for (int32_t mapping : {WARP_BILINEAR, WARP_PERSPECTIVE})
        for (int kernel = 0; kernel < 4; ++kernel) {
          const warp_vals v = vals_for(kSquare256, *d, kernel, 1, mapping);
          warp_render_options slow = {1, 1}, fast = {0, 2};
          const plain_layer a = plain_render(src, v, &slow);
          const plain_layer b = plain_render(src, v, &fast);
          EXPECT_EQ(plain_read(a), plain_read(b))
              << format << " " << kNames[kernel] << ", mapping " << mapping;
        }
  }
}
