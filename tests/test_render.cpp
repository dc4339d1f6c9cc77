// The render loop and the driver over the stand-in: the new layer, its place
// in the image, progress, undo and buffer bookkeeping, and the pixel
// invariants of the warp, checked against an independent model of the
// bilinear mapping.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "gimp_standin.h"

namespace {

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

quad rect(double x0, double y0, double x1, double y1) {
  return quad(x0, y0, x1, y0, x1, y1, x0, y1);
}

pt bilinear(const quad &q, double u, double v) {
  const double a = (1 - u) * (1 - v), b = u * (1 - v), c = u * v,
               d = (1 - u) * v;
  return {a * q[0].x + b * q[1].x + c * q[2].x + d * q[3].x,
          a * q[0].y + b * q[1].y + c * q[2].y + d * q[3].y};
}

// (u, v) of p by Newton's method; false when it does not settle.
bool inverse_bilinear(const quad &q, pt p, double *u, double *v) {
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

double cross(pt o, pt a, pt b) {
  return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x);
}

// Strictly inside a convex quadrangle of either orientation, by more than
// `margin` from every edge.
bool inside(const quad &q, pt p, double margin = 1e-6) {
  int pos = 0, neg = 0;
  for (int i = 0; i < 4; ++i) {
    const pt a = q[i], b = q[(i + 1) % 4];
    const double d = cross(a, b, p) / std::hypot(b.x - a.x, b.y - a.y);
    if (d > margin) ++pos;
    if (d < -margin) ++neg;
  }
  return pos == 4 || neg == 4;
}

double segment_distance(pt p, pt a, pt b) {
  const double dx = b.x - a.x, dy = b.y - a.y;
  double t = ((p.x - a.x) * dx + (p.y - a.y) * dy) / (dx * dx + dy * dy);
  t = std::clamp(t, 0.0, 1.0);
  return std::hypot(p.x - (a.x + t * dx), p.y - (a.y + t * dy));
}

double distance_to(const quad &q, pt p) {
  if (inside(q, p, 0.0)) return 0.0;
  double d = 1e300;
  for (int i = 0; i < 4; ++i)
    d = std::min(d, segment_distance(p, q[i], q[(i + 1) % 4]));
  return d;
}

// ---------------------------------------------------------------- fixtures

warp_vals make_vals(const quad &s, const quad &d, int interp,
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
unsigned char pattern_value(int x, int y, int c) {
  return static_cast<unsigned char>(1 + (x * 31 + y * 17 + c * 59 + x * y * 7) %
                                            255);
}

std::vector<unsigned char> pattern(int w, int h, int bpp, bool opaque) {
  std::vector<unsigned char> p(size_t(w) * h * bpp);
  const bool alpha = bpp == 2 || bpp == 4;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < bpp; ++c)
        p[(size_t(y) * w + x) * bpp + c] =
            (opaque && alpha && c == bpp - 1) ? 255 : pattern_value(x, y, c);
  return p;
}

// A drawable's pixels addressed in image coordinates.
struct image_pixels {
  int x0, y0, width, height, bpp;
  std::vector<unsigned char> data;

  explicit image_pixels(gint32 id, const Babl *format = nullptr) {
    const standin::item *it = standin::find(id);
    x0 = it->offset_x;
    y0 = it->offset_y;
    width = it->width;
    height = it->height;
    data = standin::read(id, format);
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
  bool same(int x, int y, const image_pixels &o, int ox, int oy) const {
    return std::memcmp(at(x, y), o.at(ox, oy), size_t(bpp)) == 0;
  }
};

std::string show(const unsigned char *p, int bpp) {
  std::string s = "(";
  for (int c = 0; c < bpp; ++c) s += (c ? "," : "") + std::to_string(p[c]);
  return s + ")";
}

// The plug-in's own path, and one pixel at a time on one thread.
const warp_render_options kStraightforward = {1, 1};
const warp_render_options *const kPaths[] = {nullptr, &kStraightforward};

const char *path_name(const warp_render_options *o) {
  return o ? "straightforward path" : "default path";
}

class Render : public ::testing::Test {
 protected:
  void SetUp() override {
    standin::reset();
    image = standin::add_image();
  }
  void TearDown() override { standin::reset(); }

  gint32 add_source(GimpImageType type, int w, int h, int ox = 0, int oy = 0,
                    bool opaque = true) {
    const gint32 id = standin::add_layer(image, "Source", type, w, h, ox, oy);
    standin::write(id, pattern(w, h, standin::bpp_of(type), opaque));
    return id;
  }

  // Renders through the driver the plug-in calls, or through the
  // render path that `options` selects.
  gint32 render(gint32 src, const quad &s, const quad &d, int interp,
                const char *label = "Warp",
                const warp_render_options *options = nullptr) {
    const warp_vals v = make_vals(s, d, interp, label);
    gint32 layer = -2;
    EXPECT_EQ(options ? tessaform_render(image, src, &v, &layer, options)
                      : tessaform(image, src, &v, &layer),
              GIMP_PDB_SUCCESS);
    EXPECT_NE(standin::find(layer), nullptr);
    return layer;
  }

  gint32 image = -1;
};

// ------------------------------------------------------------- the layer

TEST_F(Render, NewLayerTakesNameTypeOpacityModeAndTheGrownBox) {
  for (GimpImageType type :
       {GIMP_GRAY_IMAGE, GIMP_GRAYA_IMAGE, GIMP_RGB_IMAGE, GIMP_RGBA_IMAGE}) {
    SCOPED_TRACE(type);
    const gint32 src = add_source(type, 32, 32);
    // Corners grown by 1 along the centre rays reach 9.29 and 20.71.
    const gint32 layer =
        render(src, rect(10, 10, 20, 20), rect(10, 10, 20, 20), 1);
    const standin::item *it = standin::find(layer);
    ASSERT_NE(it, nullptr);
    EXPECT_EQ(it->name, "Source__");
    EXPECT_EQ(it->type, type);
    EXPECT_EQ(it->opacity, 100.0);
    EXPECT_EQ(it->mode, GIMP_LAYER_MODE_NORMAL_LEGACY);
    EXPECT_EQ(it->width, 13);
    EXPECT_EQ(it->height, 13);
    EXPECT_EQ(it->offset_x, 9);
    EXPECT_EQ(it->offset_y, 9);
    EXPECT_TRUE(it->inserted);
    standin::reset();
    image = standin::add_image();
  }
}

TEST_F(Render, NegativeDestinationGivesNegativeOffsets) {
  const gint32 src = add_source(GIMP_RGBA_IMAGE, 32, 32);
  // Centre (-12.5, -9); corner 0 grows to (-20.78, -15.62), corner 2 to
  // (-4.22, -2.38).
  const gint32 layer =
      render(src, rect(2, 2, 20, 20), rect(-20, -15, -5, -3), 0);
  const standin::item *it = standin::find(layer);
  EXPECT_EQ(it->offset_x, -21);
  EXPECT_EQ(it->offset_y, -16);
  EXPECT_EQ(it->width, -3 - -21);
  EXPECT_EQ(it->height, -1 - -16);
  const image_pixels out(layer);
  EXPECT_TRUE(out.written(-12, -9));
}

TEST_F(Render, LayerIsInsertedDirectlyAboveTheSource) {
  const gint32 bottom =
      standin::add_layer(image, "Bottom", GIMP_RGBA_IMAGE, 8, 8);
  const gint32 src = add_source(GIMP_RGBA_IMAGE, 32, 32);
  const gint32 top = standin::add_layer(image, "Top", GIMP_RGBA_IMAGE, 8, 8);
  const gint32 layer = render(src, rect(2, 2, 9, 9), rect(3, 3, 12, 12), 1);
  EXPECT_EQ(standin::layers(image),
            (std::vector<gint32>{top, layer, src, bottom}));
}

TEST_F(Render, LayerInsideAGroupStaysInThatGroupAboveTheSource) {
  const gint32 below =
      standin::add_layer(image, "Below", GIMP_RGBA_IMAGE, 8, 8);
  const gint32 group = standin::add_group(image, "Group");
  const gint32 c2 =
      standin::add_layer(image, "C2", GIMP_RGBA_IMAGE, 8, 8, 0, 0, group);
  const gint32 src =
      standin::add_layer(image, "Inner", GIMP_RGBA_IMAGE, 32, 32, 0, 0, group);
  standin::write(src, pattern(32, 32, 4, true));
  const gint32 c1 =
      standin::add_layer(image, "C1", GIMP_RGBA_IMAGE, 8, 8, 0, 0, group);
  const gint32 layer = render(src, rect(2, 2, 9, 9), rect(3, 3, 12, 12), 1);
  EXPECT_EQ(standin::layers(image), (std::vector<gint32>{group, below}));
  EXPECT_EQ(standin::layers(image, group),
            (std::vector<gint32>{c1, layer, src, c2}));
  EXPECT_EQ(standin::find(layer)->name, "Inner__");
}

TEST_F(Render, FailedInsertionLeavesNothingBehind) {
  const gint32 src = add_source(GIMP_RGBA_IMAGE, 32, 32);
  const auto items = standin::items();
  const auto before = standin::read(src);
  standin::fail_insert = true;
  const warp_vals v = make_vals(rect(2, 2, 9, 9), rect(3, 3, 12, 12), 1);
  gint32 layer = 12345;
  const GimpPDBStatusType status = tessaform(image, src, &v, &layer);
  EXPECT_NE(status, GIMP_PDB_SUCCESS);
  EXPECT_NE(status, GIMP_PDB_PASS_THROUGH);
  EXPECT_EQ(layer, -1);
  EXPECT_EQ(standin::items(), items);
  EXPECT_EQ(standin::layers(image), std::vector<gint32>{src});
  EXPECT_EQ(standin::extra_refs(src), 0);
  EXPECT_EQ(standin::read(src), before);
  EXPECT_EQ(standin::calls.undo_group_start, 1);
  EXPECT_EQ(standin::calls.undo_group_end, 1);
  EXPECT_FALSE(standin::calls.messages.empty());
  EXPECT_EQ(standin::calls.progress_init, standin::calls.progress_end);
}

// ------------------------------------------------------ calls and release

TEST_F(Render, OneUndoGroupNoShadowAndEveryReferenceReleased) {
  for (const warp_render_options *path : kPaths) {
    for (GimpImageType type : {GIMP_GRAY_IMAGE, GIMP_RGBA_IMAGE}) {
      for (int interp = 0; interp < 4; ++interp) {
        SCOPED_TRACE(::testing::Message()
                     << path_name(path) << ", type " << type
                     << ", interpolation " << interp);
        standin::reset();
        image = standin::add_image();
        const gint32 src = add_source(type, 24, 20, 5, 7);
        const auto before = standin::read(src);
        const gint32 layer =
            render(src, quad(6, 8, 27, 9, 26, 25, 5.5, 24),
                   quad(1, 2, 30, 4, 33, 40, -2, 35), interp, "Warp", path);
        const auto &c = standin::calls;
        EXPECT_EQ(c.undo_group_start, 1);
        EXPECT_EQ(c.undo_group_end, 1);
        // The layer is new and ours: no shadow, so no selection can clip it.
        EXPECT_EQ(c.shadow_buffers, 0);
        EXPECT_EQ(c.merge_shadow, 0);
        EXPECT_EQ(standin::extra_refs(src), 0);
        EXPECT_EQ(standin::extra_refs(layer), 0);
        EXPECT_EQ(standin::read(src), before);
        EXPECT_NE(std::find(c.updated.begin(), c.updated.end(), layer),
                  c.updated.end());
        EXPECT_GE(c.displays_flush, 1);
        EXPECT_EQ(c.progress_init, 1);
        EXPECT_EQ(c.progress_end, 1);
        EXPECT_TRUE(c.messages.empty());
      }
    }
  }
}

// ----------------------------------------------------------------- progress

TEST_F(Render, ProgressAfterEveryTenthImageColumnThenOne) {
  const gint32 src = add_source(GIMP_RGBA_IMAGE, 32, 32);
  // Grown box x0 = 3, x1 = 25: columns 3 to 24.
  gint32 layer = render(src, rect(2, 2, 20, 20), rect(4, 4, 23, 23), 1, "Warp",
                        &kStraightforward);
  ASSERT_EQ(standin::find(layer)->offset_x, 3);
  ASSERT_EQ(standin::find(layer)->width, 22);
  EXPECT_EQ(standin::calls.progress_label, "Warp ...");
  EXPECT_EQ(standin::calls.progress,
            (std::vector<double>{7.0 / 22, 17.0 / 22, 1.0}));

  // Grown box x0 = -15, x1 = 7: the tens are counted in image columns.
  standin::calls = standin::record();
  layer = render(src, rect(2, 2, 20, 20), rect(-14, 4, 5, 23), 1, "",
                 &kStraightforward);
  ASSERT_EQ(standin::find(layer)->offset_x, -15);
  ASSERT_EQ(standin::find(layer)->width, 22);
  EXPECT_EQ(standin::calls.progress_label, " ...");
  EXPECT_EQ(standin::calls.progress,
            (std::vector<double>{5.0 / 22, 15.0 / 22, 1.0}));
}

TEST_F(Render, ProgressOfTheDefaultPathRisesToOneOnce) {
  const gint32 src = add_source(GIMP_RGBA_IMAGE, 32, 32);
  const gint32 layer =
      render(src, rect(2, 2, 20, 20), rect(-14, 4, 65, 83), 1, "Warp");
  ASSERT_EQ(standin::find(layer)->width, 82);
  const std::vector<double> &p = standin::calls.progress;
  EXPECT_EQ(standin::calls.progress_label, "Warp ...");
  EXPECT_EQ(standin::calls.progress_init, 1);
  EXPECT_EQ(standin::calls.progress_end, 1);
  ASSERT_FALSE(p.empty());
  EXPECT_EQ(p.back(), 1.0);
  // Never backwards, and 1.0 only once, at the end: how often the bands
  // report depends on timing.
  for (size_t i = 0; i < p.size(); ++i) {
    EXPECT_GT(p[i], 0.0) << i;
    EXPECT_LE(p[i], 1.0) << i;
    if (i) {
      EXPECT_GE(p[i], p[i - 1]) << i;
    }
    if (i + 1 < p.size()) {
      EXPECT_LT(p[i], 1.0) << "report " << i << " of " << p.size();
    }
  }
}

TEST_F(Render, LongProgressLabelIsCutBeforeTheSuffix) {
  const gint32 src = add_source(GIMP_RGBA_IMAGE, 16, 16);
  const std::string label(400, 'L');
  render(src, rect(2, 2, 9, 9), rect(3, 3, 12, 12), 0, label.c_str());
  const std::string &shown = standin::calls.progress_label;
  EXPECT_LT(shown.size(), size_t(WARP_LABEL_SIZE));
  EXPECT_GE(shown.size(), size_t(96));
  ASSERT_GE(shown.size(), 4u);
  EXPECT_EQ(shown.substr(shown.size() - 4), " ...");
  EXPECT_EQ(shown.substr(0, shown.size() - 4),
            std::string(shown.size() - 4, 'L'));
}

// ----------------------------------------------------------- pixel model

// Checks a rendered layer against the model: every pixel whose centre lies
// inside the destination quadrangle and maps into the source drawable is
// written (no holes); with nearest, it holds the source pixel under its
// mapped position; nothing farther than the one-pixel margin is written.
// Returns the number of pixels the model requires.
int check_against_model(const quad &s, const quad &d, gint32 src, gint32 layer,
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

TEST_F(Render, NoHolesAndNearestSamplesTheMappedSourcePixel) {
  for (const warp_render_options *path : kPaths)
    for (const warp_case &k : model_cases()) {
      for (int interp : {0, 1}) {
        SCOPED_TRACE(::testing::Message() << path_name(path) << ", " << k.name
                                          << ", interpolation " << interp);
        standin::reset();
        image = standin::add_image();
        const gint32 src = add_source(GIMP_RGBA_IMAGE, 64, 48);
        const gint32 layer = render(src, k.s, k.d, interp, "Warp", path);
        EXPECT_GT(check_against_model(k.s, k.d, src, layer, interp), 20);
      }
    }
}

TEST_F(Render, NothingOutsideTheDestinationIsWrittenWithAnyKernel) {
  for (const warp_render_options *path : kPaths)
    for (const warp_case &k : model_cases()) {
      for (int interp = 0; interp < 4; ++interp) {
        SCOPED_TRACE(::testing::Message() << path_name(path) << ", " << k.name
                                          << ", interpolation " << interp);
        standin::reset();
        image = standin::add_image();
        const gint32 src = add_source(GIMP_RGB_IMAGE, 64, 48);
        const gint32 layer = render(src, k.s, k.d, interp, "Warp", path);
        const image_pixels out(layer);
        for (int y = out.y0; y < out.y0 + out.height; ++y)
          for (int x = out.x0; x < out.x0 + out.width; ++x) {
            if (distance_to(k.d, {x + 0.5, y + 0.5}) <= 1.001) continue;
            ASSERT_FALSE(out.written(x, y)) << x << "," << y;
          }
      }
    }
}

TEST_F(Render, MappingAQuadrangleOntoItselfCopiesTheSource) {
  const quad shapes[] = {rect(3.5, 2.25, 27.75, 21.5),
                         quad(5.3, 3.7, 27.1, 6.2, 24.6, 22.8, 3.2, 20.4),
                         quad(16, 1.5, 29.5, 12, 16, 22.5, 2.5, 12)};
  for (const warp_render_options *path : kPaths)
    for (GimpImageType type :
         {GIMP_GRAY_IMAGE, GIMP_GRAYA_IMAGE, GIMP_RGB_IMAGE, GIMP_RGBA_IMAGE}) {
      for (const quad &q : shapes) {
        for (int interp : {0, 1}) {
          SCOPED_TRACE(::testing::Message()
                       << path_name(path) << ", type " << type << ", corner0 "
                       << q[0].x << ", interpolation " << interp);
          standin::reset();
          image = standin::add_image();
          const gint32 src = add_source(type, 32, 26, 0, 0, false);
          const gint32 layer = render(src, q, q, interp, "Warp", path);
          const image_pixels in(src), out(layer);
          ASSERT_EQ(out.bpp, standin::bpp_of(type));
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

TEST_F(Render, FlatSourceStaysFlatUnderEveryKernel) {
  struct flat {
    GimpImageType type;
    std::vector<unsigned char> value;
  };
  const flat flats[] = {{GIMP_RGBA_IMAGE, {37, 150, 201, 255}},
                        {GIMP_GRAY_IMAGE, {93}},
                        {GIMP_RGB_IMAGE, {255, 1, 128}}};
  // The grown source reaches past the drawable's edges.
  const quad s(2.5, 3.1, 17.2, 2.2, 18.4, 15.9, 3.3, 16.6);
  const quad d(4.1, 30.2, 25.3, 3.4, 55.8, 24.6, 34.9, 52.7);
  for (const warp_render_options *path : kPaths)
    for (const flat &f : flats) {
      for (int interp = 0; interp < 4; ++interp) {
        SCOPED_TRACE(::testing::Message()
                     << path_name(path) << ", type " << f.type
                     << ", interpolation " << interp);
        standin::reset();
        image = standin::add_image();
        const gint32 src = standin::add_layer(image, "Flat", f.type, 19, 17);
        std::vector<unsigned char> px;
        for (int i = 0; i < 19 * 17; ++i)
          px.insert(px.end(), f.value.begin(), f.value.end());
        standin::write(src, px);
        const gint32 layer = render(src, s, d, interp, "Warp", path);
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

TEST_F(Render, SourceWithLayerOffsetsIsReadWhereItLies) {
  const gint32 src = add_source(GIMP_RGBA_IMAGE, 20, 16, 40, 30);
  // Image (44..56, 33..43) onto (4..16, 5..15): a shift by (-40, -28).
  for (const warp_render_options *path : kPaths)
    for (int interp : {0, 1}) {
      SCOPED_TRACE(::testing::Message()
                   << path_name(path) << ", interpolation " << interp);
      const gint32 layer = render(src, rect(44, 33, 56, 43), rect(4, 5, 16, 15),
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

TEST_F(Render, SourceReachingPastTheDrawableRepeatsItsEdgePixels) {
  const gint32 src = add_source(GIMP_RGBA_IMAGE, 10, 10);
  const quad q = rect(-5, -5, 15, 15);
  for (const warp_render_options *path : kPaths)
    for (int interp : {0, 1}) {
      SCOPED_TRACE(::testing::Message()
                   << path_name(path) << ", interpolation " << interp);
      const gint32 layer = render(src, q, q, interp, "Warp", path);
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

TEST_F(Render, SameWarpRelativeToTheDrawableGivesTheSameLayerShifted) {
  // The source reaches past the drawable on every side, so the box edges
  // decide which pixels are written.
  const int offsets[][2] = {{0, 0}, {5, 3}, {-5, -3}, {-13, 7}};
  for (const warp_render_options *path : kPaths)
    for (int interp : {0, 1, 3}) {
      SCOPED_TRACE(::testing::Message()
                   << path_name(path) << ", interpolation " << interp);
      std::vector<unsigned char> first;
      for (const auto &o : offsets) {
        standin::reset();
        image = standin::add_image();
        const gint32 src = add_source(GIMP_RGBA_IMAGE, 10, 10, o[0], o[1]);
        auto at = [&](double x0, double y0, double x1, double y1) {
          return rect(x0 + o[0], y0 + o[1], x1 + o[0], y1 + o[1]);
        };
        const gint32 layer = render(src, at(-2.6, -3.3, 12.4, 11.9),
                                    at(-4.1, -2.2, 16.7, 13.3), interp,
                                    "Warp", path);
        const standin::item *it = standin::find(layer);
        const image_pixels out(layer);
        if (first.empty()) {
          first = out.data;
          EXPECT_GT(std::count_if(first.begin(), first.end(),
                                  [](unsigned char b) { return b != 0; }),
                    400);
        }
        EXPECT_EQ(it->offset_x - o[0], -5);
        EXPECT_EQ(it->offset_y - o[1], -3);
        EXPECT_TRUE(out.data == first) << "offsets " << o[0] << "," << o[1];
      }
    }
}

TEST_F(Render, DegenerateSourceWritesNothing) {
  const gint32 src = add_source(GIMP_RGBA_IMAGE, 32, 32);
  for (const warp_render_options *path : kPaths) {
    SCOPED_TRACE(path_name(path));
    // All four source corners on one line: no source position is finite.
    const gint32 layer = render(src, quad(0, 0, 10, 0, 20, 0, 30, 0),
                                rect(4, 4, 20, 20), 1, "Warp", path);
    const image_pixels out(layer);
    for (int y = out.y0; y < out.y0 + out.height; ++y)
      for (int x = out.x0; x < out.x0 + out.width; ++x)
        ASSERT_FALSE(out.written(x, y)) << x << "," << y;
    EXPECT_EQ(standin::extra_refs(src), 0);
  }
}

TEST_F(Render, HigherPrecisionIdentityKeepsTheTypeAndEveryPixel) {
  struct deep {
    GimpImageType type;
    const char *format;
    const char *format8;
  };
  const deep cases[] = {{GIMP_RGBA_IMAGE, "R'G'B'A u16", "R'G'B'A u8"},
                        {GIMP_GRAYA_IMAGE, "Y'A u16", "Y'A u8"},
                        {GIMP_RGB_IMAGE, "R'G'B' float", "R'G'B' u8"},
                        {GIMP_GRAY_IMAGE, "Y' half", "Y' u8"}};
  const quad q(3.5, 2.5, 20.5, 4, 19, 17.5, 2.5, 16);
  for (const warp_render_options *path : kPaths)
    for (const deep &k : cases) {
      for (int interp : {0, 1}) {
        SCOPED_TRACE(::testing::Message() << path_name(path) << ", " << k.format
                                          << ", interpolation " << interp);
        standin::reset();
        image = standin::add_image();
        const Babl *f8 = babl_format(k.format8);
        const gint32 src = standin::add_layer(image, "Deep", k.type, 24, 20, 0,
                                              0, -1, babl_format(k.format));
        const int bpp = babl_format_get_bytes_per_pixel(f8);
        standin::write(src, pattern(24, 20, bpp, false), f8);
        const gint32 layer = render(src, q, q, interp, "Warp", path);
        EXPECT_EQ(standin::find(layer)->type, k.type);
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
        EXPECT_EQ(standin::extra_refs(src), 0);
      }
    }
}

// Float values of a drawable in its own components, through babl.
std::vector<float> read_floats(gint32 id) {
  const Babl *native = gegl_buffer_get_format(standin::find(id)->buffer);
  char name[64];
  g_snprintf(name, sizeof name, "%s float",
             babl_get_name(babl_format_get_model(native)));
  const std::vector<unsigned char> bytes =
      standin::read(id, babl_format_with_space(name, nullptr));
  std::vector<float> v(bytes.size() / sizeof(float));
  std::memcpy(v.data(), bytes.data(), bytes.size());
  return v;
}

TEST_F(Render, EveryPrecisionIsSampledAndWrittenAtItsOwn) {
  struct deep {
    GimpImageType type;
    const char *format;
    float top;        // the ramp's largest value
    float tolerance;  // of the written result against the exact one
  };
  const deep cases[] = {
      {GIMP_RGBA_IMAGE, "R'G'B'A u16", 1.0f, 1.5f / 65535},
      {GIMP_RGBA_IMAGE, "RGBA u16", 1.0f, 1.5f / 65535},
      {GIMP_GRAYA_IMAGE, "Y'A u32", 1.0f, 1e-6f},
      {GIMP_RGBA_IMAGE, "RGBA half", 4.0f, 4e-3f},
      {GIMP_RGBA_IMAGE, "R'G'B'A float", 4.0f, 1e-5f},
      {GIMP_RGB_IMAGE, "RGB float", 4.0f, 1e-5f},
      {GIMP_GRAY_IMAGE, "Y double", 4.0f, 1e-5f}};
  const int W = 40, H = 20;
  // Source column x + 1 lands on layer column x, half a pixel off: bilinear
  // gives the mean of two neighbours.
  const quad from = rect(0.5, 0, 30.5, 16), to = rect(0, 0, 30, 16);
  for (const warp_render_options *path : kPaths)
    for (const deep &k : cases) {
      SCOPED_TRACE(::testing::Message() << path_name(path) << ", " << k.format);
      standin::reset();
      image = standin::add_image();
      const gint32 src = standin::add_layer(image, "Deep", k.type, W, H, 0, 0,
                                            -1, babl_format(k.format));
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
      standin::write(src, bytes, babl_format(name));
      const std::vector<float> in = read_floats(src);

      const gint32 layer = render(src, from, to, 1, "Warp", path);
      EXPECT_EQ(gegl_buffer_get_format(standin::find(layer)->buffer),
                babl_format(k.format));
      const standin::item *it = standin::find(layer);
      const std::vector<float> out = read_floats(layer);
      int checked = 0;
      float largest = 0.0f;
      for (int y = 1; y < 15; ++y)
        for (int x = 1; x < 29; ++x)
          for (int c = 0; c < n; ++c) {
            const int lx = x - it->offset_x, ly = y - it->offset_y;
            const float got = out[(size_t(ly) * it->width + lx) * n + c];
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
      const gint32 copy = render(src, to, to, 1, "Warp", path);
      const image_pixels a(src), b(copy);
      for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 30; ++x)
          ASSERT_TRUE(b.same(x, y, a, x, y)) << "copy " << x << "," << y;
    }
}

}  // namespace
