// The warp's pixel invariants on plain GEGL buffers, checked against an
// independent model of the bilinear mapping, on both render paths.
#include <gtest/gtest.h>

#include <cstring>

#include "plain_buffers.h"
#include "warp_model.h"

namespace {

using namespace model;

// A buffer's pixels addressed in image coordinates.
struct image_pixels : pixel_grid {
  explicit image_pixels(const plain_layer &l, const Babl *format = nullptr) {
    assign(l.extent.x, l.extent.y, l.extent.width, l.extent.height,
           plain_read(l, format));
  }
};

// The default path, and one pixel at a time on one thread.
const warp_render_options kStraightforward = {1, 1};
const warp_render_options *const kPaths[] = {nullptr, &kStraightforward};

const char *path_name(const warp_render_options *o) {
  return o ? "straightforward path" : "default path";
}

const char kGray[] = "Y' u8", kGrayA[] = "Y'A u8", kRgb[] = "R'G'B' u8",
           kRgbA[] = "R'G'B'A u8";

plain_layer add_source(const char *format, int w, int h, int ox = 0,
                       int oy = 0, bool opaque = true) {
  const plain_layer l = plain_new(format, w, h, ox, oy);
  plain_write(l, pattern(w, h, plain_bpp(format), opaque));
  return l;
}

plain_layer render(const plain_layer &src, const quad &s, const quad &d,
                   int interp, const char * = "Warp",
                   const warp_render_options *options = nullptr) {
  const plain_layer out = plain_render(src, make_vals(s, d, interp), options);
  EXPECT_EQ(out.status, WARP_SUCCESS);
  return out;
}

// ----------------------------------------------------------- pixel model

// Checks a rendered layer against the model: every pixel whose centre lies
// inside the destination quadrangle and maps into the source drawable is
// written (no holes); with nearest, it holds the source pixel under its
// mapped position; nothing farther than the one-pixel margin is written.
// Returns the number of pixels the model requires.
int check_against_model(const quad &s, const quad &d, const plain_layer &src,
                        const plain_layer &layer,
                        int interp) {
  const image_pixels in(src), out(layer);
  int required = 0, holes = 0, wrong = 0, stray = 0;
  for (int y = out.y0; y < out.y0 + out.height; ++y) {
    for (int x = out.x0; x < out.x0 + out.width; ++x) {
      const pt centre{x + 0.5, y + 0.5};
      if (distance_to(d, centre) > 1.001) {
        if (out.written(x, y) && ++stray <= 5)
          ADD_FAILURE() << "written outside the destination at " << x << ","
                        << y;
        continue;
      }
      if (!inside(d, centre, 1e-4)) continue;
      double u, v;
      if (!inverse_bilinear(d, centre, &u, &v)) {
        ADD_FAILURE() << "model did not settle at " << x << "," << y;
        continue;
      }
      const pt sp = bilinear(s, u, v);
      const double m = 1e-3;
      if (!(sp.x > in.x0 + m && sp.y > in.y0 + m &&
            sp.x < in.x0 + in.width - m && sp.y < in.y0 + in.height - m))
        continue;
      ++required;
      if (!out.written(x, y)) {
        if (++holes <= 5)
          ADD_FAILURE() << "hole at " << x << "," << y << " (source " << sp.x
                        << "," << sp.y << ")";
        continue;
      }
      const double fx = sp.x - std::floor(sp.x), fy = sp.y - std::floor(sp.y);
      if (interp == 0 && fx > m && fx < 1 - m && fy > m && fy < 1 - m) {
        const int sx = int(std::floor(sp.x)), sy = int(std::floor(sp.y));
        if (!out.same(x, y, in, sx, sy) && ++wrong <= 5)
          ADD_FAILURE() << "pixel " << x << "," << y << " is "
                        << show(out.at(x, y), out.bpp) << ", source " << sx
                        << "," << sy << " is " << show(in.at(sx, sy), in.bpp);
      }
    }
  }
  EXPECT_EQ(holes, 0);
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(stray, 0);
  return required;
}

struct warp_case {
  const char *name;
  quad s, d;
};

// Scales a quadrangle about `o` by `k`, then moves it by `t`.
quad scaled(const quad &q, pt o, double k, pt t) {
  std::array<double, 8> v;
  for (int i = 0; i < 4; ++i) {
    v[2 * i] = (q[i].x - o.x) * k + t.x;
    v[2 * i + 1] = (q[i].y - o.y) * k + t.y;
  }
  return quad(v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7]);
}

std::vector<warp_case> model_cases() {
  const quad small(10.2, 12.7, 14.9, 11.6, 15.6, 16.3, 9.8, 17.1);
  return {
      {"thin slanted destination sliver", rect(4, 4, 60, 44),
       quad(2.3, 5.1, 61.7, 14.8, 61.9, 16.2, 2.1, 6.4)},
      {"thin slanted source sliver",
       quad(3.2, 10.4, 58.6, 30.1, 58.9, 31.3, 3.0, 11.5), rect(2, 2, 62, 40)},
      {"thin steep destination", rect(10, 3, 50, 45),
       quad(20.4, 1.2, 21.6, 1.5, 23.9, 60.3, 22.8, 60.1)},
      {"8x magnification", small, scaled(small, {9.8, 11.6}, 8.0, {3.3, 2.7})},
      {"diamond, all edge slopes", rect(8, 8, 40, 40),
       quad(30.5, 1.25, 59.75, 30.5, 30.5, 59.75, 1.25, 30.5)},
      {"reversed orientation and rotation", quad(50, 6, 50, 40, 6, 40, 6, 6),
       quad(3.6, 20.1, 31.2, 4.4, 55.7, 33.9, 27.9, 49.6)},
      {"minification", rect(1, 1, 63, 47),
       quad(20.1, 15.3, 37.9, 17.2, 36.2, 31.8, 21.4, 29.7)},
  };
}

TEST(Warp, NoHolesAndNearestSamplesTheMappedSourcePixel) {
  for (const warp_render_options *path : kPaths)
    for (const warp_case &k : model_cases()) {
      for (int interp : {0, 1}) {
        SCOPED_TRACE(::testing::Message() << path_name(path) << ", " << k.name
                                          << ", interpolation " << interp);
        const plain_layer src = add_source(kRgbA, 64, 48);
        const plain_layer layer = render(src, k.s, k.d, interp, "Warp", path);
        EXPECT_GT(check_against_model(k.s, k.d, src, layer, interp), 20);
      }
    }
}

TEST(Warp, NothingOutsideTheDestinationIsWrittenWithAnyKernel) {
  for (const warp_render_options *path : kPaths)
    for (const warp_case &k : model_cases()) {
      for (int interp = 0; interp < 4; ++interp) {
        SCOPED_TRACE(::testing::Message() << path_name(path) << ", " << k.name
                                          << ", interpolation " << interp);
        const plain_layer src = add_source(kRgb, 64, 48);
        const plain_layer layer = render(src, k.s, k.d, interp, "Warp", path);
        const image_pixels out(layer);
        for (int y = out.y0; y < out.y0 + out.height; ++y)
          for (int x = out.x0; x < out.x0 + out.width; ++x) {
            if (distance_to(k.d, {x + 0.5, y + 0.5}) <= 1.001) continue;
            ASSERT_FALSE(out.written(x, y)) << x << "," << y;
          }
      }
    }
}

TEST(Warp, MappingAQuadrangleOntoItselfCopiesTheSource) {
  const quad shapes[] = {rect(3.5, 2.25, 27.75, 21.5),
                         quad(5.3, 3.7, 27.1, 6.2, 24.6, 22.8, 3.2, 20.4),
                         quad(16, 1.5, 29.5, 12, 16, 22.5, 2.5, 12)};
  for (const warp_render_options *path : kPaths)
    for (const char *type :
         {kGray, kGrayA, kRgb, kRgbA}) {
      for (const quad &q : shapes) {
        for (int interp : {0, 1}) {
          SCOPED_TRACE(::testing::Message()
                       << path_name(path) << ", type " << type << ", corner0 "
                       << q[0].x << ", interpolation " << interp);
          const plain_layer src = add_source(type, 32, 26, 0, 0, false);
          const plain_layer layer = render(src, q, q, interp, "Warp", path);
          const image_pixels in(src), out(layer);
          ASSERT_EQ(out.bpp, plain_bpp(type));
          int written = 0, centres = 0, wrong = 0;
          for (int y = out.y0; y < out.y0 + out.height; ++y)
            for (int x = out.x0; x < out.x0 + out.width; ++x) {
              const bool must = inside(q, {x + 0.5, y + 0.5}, 1e-4);
              centres += must;
              if (!out.written(x, y)) {
                EXPECT_FALSE(must) << "hole at " << x << "," << y;
                continue;
              }
              ++written;
              ASSERT_TRUE(in.contains(x, y));
              if (!out.same(x, y, in, x, y) && ++wrong <= 5)
                ADD_FAILURE()
                    << x << "," << y << ": " << show(out.at(x, y), out.bpp)
                    << " instead of " << show(in.at(x, y), in.bpp);
            }
          EXPECT_EQ(wrong, 0);
          EXPECT_GE(written, centres);
          EXPECT_GT(centres, 200);
        }
      }
    }
}

TEST(Warp, FlatSourceStaysFlatUnderEveryKernel) {
  struct flat {
    const char *type;
    std::vector<unsigned char> value;
  };
  const flat flats[] = {{kRgbA, {37, 150, 201, 255}},
                        {kGray, {93}},
                        {kRgb, {255, 1, 128}}};
  // The grown source reaches past the drawable's edges.
  const quad s(2.5, 3.1, 17.2, 2.2, 18.4, 15.9, 3.3, 16.6);
  const quad d(4.1, 30.2, 25.3, 3.4, 55.8, 24.6, 34.9, 52.7);
  for (const warp_render_options *path : kPaths)
    for (const flat &f : flats) {
      for (int interp = 0; interp < 4; ++interp) {
        SCOPED_TRACE(::testing::Message()
                     << path_name(path) << ", type " << f.type
                     << ", interpolation " << interp);
        const plain_layer src = plain_new(f.type, 19, 17);
        std::vector<unsigned char> px;
        for (int i = 0; i < 19 * 17; ++i)
          px.insert(px.end(), f.value.begin(), f.value.end());
        plain_write(src, px);
        const plain_layer layer = render(src, s, d, interp, "Warp", path);
        const image_pixels out(layer);
        int written = 0;
        for (int y = out.y0; y < out.y0 + out.height; ++y)
          for (int x = out.x0; x < out.x0 + out.width; ++x) {
            if (!out.written(x, y)) continue;
            ++written;
            ASSERT_EQ(0,
                      std::memcmp(out.at(x, y), f.value.data(), f.value.size()))
                << x << "," << y << ": " << show(out.at(x, y), out.bpp);
          }
        EXPECT_GT(written, 500);
      }
    }
}

TEST(Warp, SourceWithLayerOffsetsIsReadWhereItLies) {
  const plain_layer src = add_source(kRgbA, 20, 16, 40, 30);
  // Image (44..56, 33..43) onto (4..16, 5..15): a shift by (-40, -28).
  for (const warp_render_options *path : kPaths)
    for (int interp : {0, 1}) {
      SCOPED_TRACE(::testing::Message()
                   << path_name(path) << ", interpolation " << interp);
      const plain_layer layer = render(src, rect(44, 33, 56, 43), rect(4, 5, 16, 15),
                                  interp, "Warp", path);
      const image_pixels in(src), out(layer);
      int written = 0;
      for (int y = out.y0; y < out.y0 + out.height; ++y)
        for (int x = out.x0; x < out.x0 + out.width; ++x) {
          if (!out.written(x, y)) continue;
          ++written;
          ASSERT_TRUE(out.same(x, y, in, x + 40, y + 28))
              << x << "," << y << ": " << show(out.at(x, y), 4)
              << " instead of " << show(in.at(x + 40, y + 28), 4);
        }
      EXPECT_GE(written, 12 * 10);
    }
}

TEST(Warp, SourceReachingPastTheDrawableRepeatsItsEdgePixels) {
  const plain_layer src = add_source(kRgbA, 10, 10);
  const quad q = rect(-5, -5, 15, 15);
  for (const warp_render_options *path : kPaths)
    for (int interp : {0, 1}) {
      SCOPED_TRACE(::testing::Message()
                   << path_name(path) << ", interpolation " << interp);
      const plain_layer layer = render(src, q, q, interp, "Warp", path);
      const image_pixels in(src), out(layer);
      int inner = 0, beyond = 0;
      for (int y = out.y0; y < out.y0 + out.height; ++y)
        for (int x = out.x0; x < out.x0 + out.width; ++x) {
          if (in.contains(x, y)) {
            EXPECT_TRUE(out.written(x, y)) << x << "," << y;
            inner += out.written(x, y);
          }
          if (!out.written(x, y)) continue;
          const int ex = std::clamp(x, 0, 9), ey = std::clamp(y, 0, 9);
          beyond += !in.contains(x, y);
          ASSERT_TRUE(out.same(x, y, in, ex, ey))
              << x << "," << y << ": " << show(out.at(x, y), 4)
              << " instead of " << show(in.at(ex, ey), 4);
        }
      EXPECT_EQ(inner, 100);
      // At least the ring just outside the drawable repeats its edge.
      EXPECT_GE(beyond, 40);
    }
}

TEST(Warp, SameWarpRelativeToTheDrawableGivesTheSameLayerShifted) {
  // The source reaches past the drawable on every side, so the box edges
  // decide which pixels are written.
  const int offsets[][2] = {{0, 0}, {5, 3}, {-5, -3}, {-13, 7}};
  for (const warp_render_options *path : kPaths)
    for (int interp : {0, 1, 3}) {
      SCOPED_TRACE(::testing::Message()
                   << path_name(path) << ", interpolation " << interp);
      std::vector<unsigned char> first;
      for (const auto &o : offsets) {
        const plain_layer src = add_source(kRgbA, 10, 10, o[0], o[1]);
        auto at = [&](double x0, double y0, double x1, double y1) {
          return rect(x0 + o[0], y0 + o[1], x1 + o[0], y1 + o[1]);
        };
        const plain_layer layer = render(src, at(-2.6, -3.3, 12.4, 11.9),
                                         at(-4.1, -2.2, 16.7, 13.3), interp,
                                         "Warp", path);
        const image_pixels out(layer);
        if (first.empty()) {
          first = out.data;
          EXPECT_GT(std::count_if(first.begin(), first.end(),
                                  [](unsigned char b) { return b != 0; }),
                    400);
        }
        EXPECT_EQ(layer.extent.x - o[0], -5);
        EXPECT_EQ(layer.extent.y - o[1], -3);
        EXPECT_TRUE(out.data == first) << "offsets " << o[0] << "," << o[1];
      }
    }
}

TEST(Warp, DegenerateSourceWritesNothing) {
  const plain_layer src = add_source(kRgbA, 32, 32);
  for (const warp_render_options *path : kPaths) {
    SCOPED_TRACE(path_name(path));
    // All four source corners on one line: no source position is finite.
    const plain_layer layer = render(src, quad(0, 0, 10, 0, 20, 0, 30, 0),
                                rect(4, 4, 20, 20), 1, "Warp", path);
    const image_pixels out(layer);
    for (int y = out.y0; y < out.y0 + out.height; ++y)
      for (int x = out.x0; x < out.x0 + out.width; ++x)
        ASSERT_FALSE(out.written(x, y)) << x << "," << y;
    EXPECT_EQ(plain_extra_refs(src), 0);
  }
}

TEST(Warp, HigherPrecisionIdentityKeepsTheTypeAndEveryPixel) {
  struct deep {
    const char *format;
    const char *format8;
  };
  const deep cases[] = {{"R'G'B'A u16", "R'G'B'A u8"},
                        {"Y'A u16", "Y'A u8"},
                        {"R'G'B' float", "R'G'B' u8"},
                        {"Y' half", "Y' u8"}};
  const quad q(3.5, 2.5, 20.5, 4, 19, 17.5, 2.5, 16);
  for (const warp_render_options *path : kPaths)
    for (const deep &k : cases) {
      for (int interp : {0, 1}) {
        SCOPED_TRACE(::testing::Message() << path_name(path) << ", " << k.format
                                          << ", interpolation " << interp);
        const Babl *f8 = babl_format(k.format8);
        const plain_layer src = plain_new(k.format, 24, 20);
        const int bpp = babl_format_get_bytes_per_pixel(f8);
        plain_write(src, pattern(24, 20, bpp, false), f8);
        const plain_layer layer = render(src, q, q, interp, "Warp", path);
        EXPECT_EQ(layer.format, src.format);
        const image_pixels in(src, f8), out(layer, f8);
        ASSERT_EQ(in.bpp, bpp);
        int written = 0;
        for (int y = out.y0; y < out.y0 + out.height; ++y)
          for (int x = out.x0; x < out.x0 + out.width; ++x) {
            if (!out.written(x, y)) {
              EXPECT_FALSE(inside(q, {x + 0.5, y + 0.5}, 1e-4))
                  << x << "," << y;
              continue;
            }
            ++written;
            ASSERT_TRUE(out.same(x, y, in, x, y))
                << x << "," << y << ": " << show(out.at(x, y), bpp)
                << " instead of " << show(in.at(x, y), bpp);
          }
        EXPECT_GT(written, 200);
        EXPECT_EQ(plain_extra_refs(src), 0);
      }
    }
}

// Float values of a buffer in its own components, through babl.
std::vector<float> read_floats(const plain_layer &l) {
  char name[64];
  g_snprintf(name, sizeof name, "%s float",
             babl_get_name(babl_format_get_model(l.format)));
  const std::vector<unsigned char> bytes =
      plain_read(l, babl_format_with_space(name, nullptr));
  std::vector<float> v(bytes.size() / sizeof(float));
  std::memcpy(v.data(), bytes.data(), bytes.size());
  return v;
}

TEST(Warp, EveryPrecisionIsSampledAndWrittenAtItsOwn) {
  struct deep {
    const char *format;
    float top;        // the ramp's largest value
    float tolerance;  // of the written result against the exact one
  };
  const deep cases[] = {{"R'G'B'A u16", 1.0f, 1.5f / 65535},
                        {"RGBA u16", 1.0f, 1.5f / 65535},
                        {"Y'A u32", 1.0f, 1e-6f},
                        {"RGBA half", 4.0f, 4e-3f},
                        {"R'G'B'A float", 4.0f, 1e-5f},
                        {"RGB float", 4.0f, 1e-5f},
                        {"Y double", 4.0f, 1e-5f}};
  const int W = 40, H = 20;
  // Source column x + 1 lands on layer column x, half a pixel off: bilinear
  // gives the mean of two neighbours.
  const quad from = rect(0.5, 0, 30.5, 16), to = rect(0, 0, 30, 16);
  for (const warp_render_options *path : kPaths)
    for (const deep &k : cases) {
      SCOPED_TRACE(::testing::Message() << path_name(path) << ", " << k.format);
      const plain_layer src = plain_new(k.format, W, H);
      const int n = babl_format_get_n_components(babl_format(k.format));
      const bool alpha = n == 2 || n == 4;
      std::vector<float> ramp(size_t(W) * H * n);
      for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
          for (int c = 0; c < n; ++c)
            ramp[(size_t(y) * W + x) * n + c] =
                alpha && c == n - 1 ? 1.0f
                                    : k.top * float(x * 97 + y * 3 + c) / 4000.0f;
      std::vector<unsigned char> bytes(ramp.size() * sizeof(float));
      std::memcpy(bytes.data(), ramp.data(), bytes.size());
      char name[64];
      g_snprintf(name, sizeof name, "%s float",
                 babl_get_name(babl_format_get_model(babl_format(k.format))));
      plain_write(src, bytes, babl_format(name));
      const std::vector<float> in = read_floats(src);

      const plain_layer layer = render(src, from, to, 1, "Warp", path);
      EXPECT_EQ(layer.format, babl_format(k.format));
      const std::vector<float> out = read_floats(layer);
      int checked = 0;
      float largest = 0.0f;
      for (int y = 1; y < 15; ++y)
        for (int x = 1; x < 29; ++x)
          for (int c = 0; c < n; ++c) {
            const int lx = x - layer.extent.x, ly = y - layer.extent.y;
            const float got = out[(size_t(ly) * layer.extent.width + lx) * n + c];
            const float exact = (in[(size_t(y) * W + x) * n + c] +
                                 in[(size_t(y) * W + x + 1) * n + c]) / 2;
            ASSERT_NEAR(got, exact, k.tolerance) << x << "," << y << "/" << c;
            largest = std::max(largest, got);
            ++checked;
          }
      EXPECT_EQ(checked, 14 * 28 * n);
      EXPECT_GT(largest, 0.6f * k.top);  // float types keep values above 1

      // Onto itself, every 16-bit sample comes back exactly (float ones may
      // move by an ulp with the source position's rounding).
      if (!std::strstr(k.format, "u16")) continue;
      const plain_layer copy = render(src, to, to, 1, "Warp", path);
      const image_pixels a(src), b(copy);
      for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 30; ++x)
          ASSERT_TRUE(b.same(x, y, a, x, y)) << "copy " << x << "," << y;
    }
}

TEST(Warp, RefusedSettingsAndMissingBuffersLeaveTheDestinationAlone) {
  const plain_layer src = add_source(kRgbA, 16, 12);
  const quad q = rect(2, 2, 10, 9);
  const warp_vals good = make_vals(q, q, 1);
  const GeglRectangle box = warp_destination_box(&good);
  const plain_layer dst = plain_new(kRgbA, box.width, box.height, box.x, box.y);
  const std::vector<unsigned char> before(size_t(box.width) * box.height * 4, 77);
  plain_write(dst, before);

  warp_vals bad_interpolation = good;
  bad_interpolation.interpolation = 4;
  warp_vals not_finite = good;
  not_finite.dx2 = std::nanf("");
  for (const warp_vals *v : {&bad_interpolation, &not_finite}) {
    EXPECT_EQ(tessaform_warp(src.buffer.get(), &src.extent, dst.buffer.get(), v,
                             nullptr, nullptr, nullptr),
              WARP_REFUSED);
  }
  EXPECT_EQ(tessaform_warp(nullptr, &src.extent, dst.buffer.get(), &good,
                           nullptr, nullptr, nullptr),
            WARP_REFUSED);
  EXPECT_EQ(tessaform_warp(src.buffer.get(), &src.extent, nullptr, &good,
                           nullptr, nullptr, nullptr),
            WARP_REFUSED);
  EXPECT_EQ(plain_read(dst), before);
  EXPECT_EQ(plain_extra_refs(src), 0);
  EXPECT_EQ(plain_extra_refs(dst), 0);
}

TEST(Warp, DestinationBoxIsTheGrownQuadrangleBox) {
  // Corners grown by 1 along the centre rays reach 9.29 and 20.71.
  const warp_vals v = make_vals(rect(0, 0, 5, 5), rect(10, 10, 20, 20), 0);
  const GeglRectangle box = warp_destination_box(&v);
  EXPECT_EQ(box.x, 9);
  EXPECT_EQ(box.y, 9);
  EXPECT_EQ(box.width, 13);
  EXPECT_EQ(box.height, 13);
}

}  // namespace
