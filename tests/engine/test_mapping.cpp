// Integer bounds, the source-point mapping on a hand-built warp context, the
// checks made on the settings before rendering.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "tessaform.h"
#include "vector_levels.h"

namespace {

struct Quad {
  point p[4];
};

Quad make_quad(double x0, double y0, double x1, double y1, double x2,
               double y2, double x3, double y3) {
  return Quad{{{x0, y0}, {x1, y1}, {x2, y2}, {x3, y3}}};
}

// ------------------------------------------------------------------ bounds

// A box whose owner, width and height carry markers that the edge
// operations must leave alone.
bounds marked_box() {
  bounds b{};
  b.owner = reinterpret_cast<region *>(0x1234);
  b.x0 = b.y0 = b.x1 = b.y1 = -77;
  b.width = 555;
  b.height = 666;
  return b;
}

bounds box(int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
  bounds b = marked_box();
  b.x0 = x0;
  b.y0 = y0;
  b.x1 = x1;
  b.y1 = y1;
  return b;
}

void expect_edges(const bounds &b, int32_t x0, int32_t y0, int32_t x1,
                  int32_t y1) {
  EXPECT_EQ(b.x0, x0);
  EXPECT_EQ(b.y0, y0);
  EXPECT_EQ(b.x1, x1);
  EXPECT_EQ(b.y1, y1);
}

void expect_marks_kept(const bounds &b) {
  EXPECT_EQ(b.owner, reinterpret_cast<region *>(0x1234));
  EXPECT_EQ(b.width, 555);
  EXPECT_EQ(b.height, 666);
}

bounds set_over(const Quad &q) {
  bounds b = marked_box();
  bounds_set(&b, q.p);
  return b;
}

TEST(BoundsBox, SetFloorsMinimaAndAddsOneToCeiledMaxima) {
  bounds b = set_over(make_quad(2.3, 4.5, 7.0, 1.2, 5.0, 9.0, 3.1, 6.6));
  expect_edges(b, 2, 1, 8, 10);
  expect_marks_kept(b);

  // Whole-number extremes still gain the one.
  b = set_over(make_quad(10, 30, 20, 30, 20, 40, 10, 40));
  expect_edges(b, 10, 30, 21, 41);

  // Floor, not truncation, below zero.
  b = set_over(make_quad(-0.5, -3.7, -0.5, -0.5, -2.25, -1, -1, -2));
  expect_edges(b, -3, -4, 1, 1);

  // Seven-tenths past a whole number on the far side.
  b = set_over(make_quad(2.3, 0, 7.2, 0, 7.2, 1, 2.3, 1));
  EXPECT_EQ(b.x1, 9);
}

TEST(BoundsBox, SetIgnoresNotANumberCoordinates) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const bounds b = set_over(make_quad(nan, 3, 4, nan, 9.5, 7, 2, 5));
  expect_edges(b, 2, 3, 11, 8);
}

TEST(BoundsBox, SetSaturatesEdgesOutsideTheIntegerRange) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();

  // Nothing but NaN: the seeds survive and saturate.
  bounds b = set_over(make_quad(nan, nan, nan, nan, nan, nan, nan, nan));
  expect_edges(b, INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN);

  b = set_over(make_quad(0, 0, inf, 0, 5, -inf, 5, 5));
  expect_edges(b, 0, INT32_MIN, INT32_MAX, 6);

  b = set_over(make_quad(-3e9, 0, 3e9, 0, 0, -5e15, 0, 5e15));
  expect_edges(b, INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX);

  // The last representable edges come through unchanged.
  b = set_over(make_quad(-2147483648.0, 0, 2147483646.0, 0, 0, 0, 0, 0));
  EXPECT_EQ(b.x0, INT32_MIN);
  EXPECT_EQ(b.x1, INT32_MAX);
  // One past them saturates.
  b = set_over(make_quad(-2147483648.5, 0, 2147483646.5, 0, 0, 0, 0, 0));
  EXPECT_EQ(b.x0, INT32_MIN);
  EXPECT_EQ(b.x1, INT32_MAX);
}

TEST(BoundsBox, IntersectionNarrowsEachEdgeOnItsOwn) {
  bounds b = box(0, 0, 10, 10);
  bounds other = box(-5, -5, 20, 20);
  bounds_intersection(&b, &other);
  expect_edges(b, 0, 0, 10, 10);  // a containing box changes nothing
  expect_marks_kept(b);

  other = box(2, 3, 7, 8);
  bounds_intersection(&b, &other);
  expect_edges(b, 2, 3, 7, 8);  // a box inside becomes the result

  b = box(0, 0, 10, 10);
  other = box(5, -5, 8, 20);
  bounds_intersection(&b, &other);
  expect_edges(b, 5, 0, 8, 10);

  // Disjoint: left inverted, not repaired.
  b = box(0, 0, 10, 10);
  other = box(15, 0, 30, 10);
  bounds_intersection(&b, &other);
  expect_edges(b, 15, 0, 10, 10);
  EXPECT_GT(b.x0, b.x1);
}

TEST(BoundsBox, WidthAndHeightAreEdgeDifferences) {
  bounds b = box(-3, 4, 17, 9);
  EXPECT_EQ(bounds_width(&b), 20);
  EXPECT_EQ(bounds_height(&b), 5);
  b = box(15, 8, 10, 8);  // inverted and empty
  EXPECT_EQ(bounds_width(&b), -5);
  EXPECT_EQ(bounds_height(&b), 0);
  // A saturated box's extent does not fit 32 bits: it saturates too.
  b = box(INT32_MIN, INT32_MAX, INT32_MAX, INT32_MIN);
  EXPECT_EQ(bounds_width(&b), INT32_MAX);
  EXPECT_EQ(bounds_height(&b), INT32_MIN);
}

// ------------------------------------------------------------ the mapping

// A warp context with only what the mapping reads: the destination's two
// solvers and the seven source points, built the way set-up builds them.
class Mapping {
 public:
  Mapping(const Quad &src, const Quad &dst) {
    w_.src = &w_.src_region;
    w_.dst = &w_.dst_region;
    for (int i = 0; i < 4; ++i) {
      w_.src->quad[i] = src.p[i];
      w_.dst->quad[i] = dst.p[i];
    }
    region *d = w_.dst;
    d->coord_u = &d->coord_u_store;
    d->coord_v = &d->coord_v_store;
    qcoord_init(d->coord_u, d->quad[0], d->quad[1], d->quad[2], d->quad[3]);
    qcoord_init(d->coord_v, d->quad[1], d->quad[2], d->quad[3], d->quad[0]);

    const point *s = w_.src->quad;
    w_.c0 = s[0];
    w_.c3 = s[3];
    w_.e01 = point_from2(s[0], s[1]);
    w_.e32 = point_from2(s[3], s[2]);
    w_.c1 = s[1];
    w_.e03 = point_from2(s[0], s[3]);
    w_.e12 = point_from2(s[1], s[2]);
  }
  Mapping(const Mapping &) = delete;
  Mapping &operator=(const Mapping &) = delete;

  struct Out {
    float x;
    float y;
  };
  Out map(float x, float y) const {
    Out o{-999.0f, -999.0f};
    warp_convert(&w_, x, y, &o.x, &o.y);
    return o;
  }

 private:
  warp w_{};
};

const Quad kSquare10 = make_quad(0, 0, 10, 0, 10, 10, 0, 10);
const Quad kSquare20 = make_quad(0, 0, 20, 0, 20, 20, 0, 20);

TEST(WarpConvert, IdentityAndScaling) {
  const Mapping same(kSquare10, kSquare10);
  Mapping::Out o = same.map(3, 7);
  EXPECT_FLOAT_EQ(o.x, 3.0f);
  EXPECT_FLOAT_EQ(o.y, 7.0f);

  const Mapping half(kSquare10, kSquare20);
  o = half.map(4, 6);
  EXPECT_FLOAT_EQ(o.x, 2.0f);
  EXPECT_FLOAT_EQ(o.y, 3.0f);
  // Beyond the destination's edge: u = 1.5, v = 0.5, not clamped.
  o = half.map(30, 10);
  EXPECT_FLOAT_EQ(o.x, 15.0f);
  EXPECT_FLOAT_EQ(o.y, 5.0f);
}

TEST(WarpConvert, CornerIndicesDecideTheTurn) {
  // Source corners listed from (10, 0): a quarter turn.
  const Mapping turn(make_quad(10, 0, 10, 10, 0, 10, 0, 0), kSquare10);
  const Mapping::Out o = turn.map(2, 3);
  EXPECT_FLOAT_EQ(o.x, 7.0f);
  EXPECT_FLOAT_EQ(o.y, 2.0f);
  const float corners[4][2] = {{0, 0}, {10, 0}, {10, 10}, {0, 10}};
  const float expected[4][2] = {{10, 0}, {10, 10}, {0, 10}, {0, 0}};
  for (int i = 0; i < 4; ++i) {
    const Mapping::Out c = turn.map(corners[i][0], corners[i][1]);
    EXPECT_NEAR(c.x, expected[i][0], 1e-5) << i;
    EXPECT_NEAR(c.y, expected[i][1], 1e-5) << i;
  }
  for (float x = 0; x <= 10; x += 2.5f)
    for (float y = 0; y <= 10; y += 2.5f) {
      const Mapping::Out p = turn.map(x, y);
      EXPECT_NEAR(p.x, 10 - y, 1e-5);
      EXPECT_NEAR(p.y, x, 1e-5);
    }
}

TEST(WarpConvert, TrapezoidSource) {
  const Mapping m(make_quad(0, 0, 10, 0, 8, 10, 2, 10), kSquare10);
  Mapping::Out o = m.map(5, 5);
  EXPECT_FLOAT_EQ(o.x, 5.0f);
  EXPECT_FLOAT_EQ(o.y, 5.0f);
  o = m.map(2, 8);  // u = 0.2, v = 0.8: 0.2 * (10 - 0.8 * 2) + 0.8 * 2
  EXPECT_EQ(o.x, 2.96f);
  EXPECT_EQ(o.y, 8.0f);
}

TEST(WarpConvert, KiteDestinationUsesTheQuadraticRoot) {
  const Mapping m(make_quad(0, 0, 100, 0, 100, 100, 0, 100),
                  make_quad(0, 0, 10, 0, 12, 12, 0, 10));
  const double t = (std::sqrt(35.0) - 5.0) / 2.0;
  const Mapping::Out o = m.map(5, 5);
  EXPECT_FLOAT_EQ(o.x, static_cast<float>(100.0 * t));
  EXPECT_FLOAT_EQ(o.y, static_cast<float>(100.0 * t));
}

TEST(WarpConvert, CollinearSourceGivesNotANumber) {
  const Mapping m(make_quad(0, 0, 10, 0, 20, 0, 30, 0), kSquare10);
  const Mapping::Out o = m.map(5, 5);
  EXPECT_TRUE(std::isnan(o.x));
  EXPECT_TRUE(std::isnan(o.y));
}

// Positions on a 1/64 grid within +-2^17 are held exactly by a float, so
// they reach the mapping unchanged.
double on_float_grid(long double v) {
  return static_cast<double>(std::round(v * 64) / 64);
}

// Random well-shaped convex quadrangles, corners on the float grid.
bool well_shaped_convex(const Quad &q) {
  int sign = 0;
  for (int i = 0; i < 4; ++i) {
    const point a = q.p[i], b = q.p[(i + 1) % 4], c = q.p[(i + 2) % 4];
    const double ex = b.x - a.x, ey = b.y - a.y, fx = c.x - b.x,
                 fy = c.y - b.y;
    const double l1 = std::hypot(ex, ey), l2 = std::hypot(fx, fy);
    if (l1 < 2.0 || l2 < 2.0) return false;
    const double s = (ex * fy - ey * fx) / (l1 * l2);
    if (std::fabs(s) < 0.15) return false;
    if (sign != 0 && (s > 0 ? 1 : -1) != sign) return false;
    sign = s > 0 ? 1 : -1;
  }
  return true;
}

Quad random_convex_quad(std::mt19937_64 &rng) {
  std::uniform_real_distribution<double> centre(-2000.0, 2000.0);
  std::uniform_real_distribution<double> scale(5.0, 600.0);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  for (;;) {
    const double cx = centre(rng), cy = centre(rng), s = scale(rng);
    Quad q;
    for (auto &p : q.p) {
      p.x = on_float_grid(cx + s * unit(rng));
      p.y = on_float_grid(cy + s * unit(rng));
    }
    if (well_shaped_convex(q)) return q;
  }
}

struct Point80 {
  long double x;
  long double y;
};

// S = (1-u)(1-v) q0 + u(1-v) q1 + u v q2 + (1-u) v q3.
Point80 bilinear(const Quad &q, long double u, long double v) {
  const long double w[4] = {(1 - u) * (1 - v), u * (1 - v), u * v,
                            (1 - u) * v};
  Point80 r{0, 0};
  for (int i = 0; i < 4; ++i) {
    r.x += w[i] * q.p[i].x;
    r.y += w[i] * q.p[i].y;
  }
  return r;
}

// The exact (u, v) of P, by Newton's method from a nearby start: a solver
// that shares nothing with the one under test.
void refine_parameters(const Quad &q, long double px, long double py,
                       long double &u, long double &v) {
  for (int it = 0; it < 8; ++it) {
    const Point80 f = bilinear(q, u, v);
    const long double rx = f.x - px, ry = f.y - py;
    // Partial derivatives of the patch.
    const long double dux = (1 - v) * (q.p[1].x - q.p[0].x) +
                            v * (q.p[2].x - q.p[3].x);
    const long double duy = (1 - v) * (q.p[1].y - q.p[0].y) +
                            v * (q.p[2].y - q.p[3].y);
    const long double dvx = (1 - u) * (q.p[3].x - q.p[0].x) +
                            u * (q.p[2].x - q.p[1].x);
    const long double dvy = (1 - u) * (q.p[3].y - q.p[0].y) +
                            u * (q.p[2].y - q.p[1].y);
    const long double det = dux * dvy - duy * dvx;
    u -= (rx * dvy - ry * dvx) / det;
    v -= (dux * ry - duy * rx) / det;
  }
}

double extent(const Quad &q) {
  double e = 0;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j)
      e = std::max(e, std::hypot(q.p[i].x - q.p[j].x, q.p[i].y - q.p[j].y));
  return e;
}

double magnitude(const Quad &q) {
  double m = 0;
  for (const point &p : q.p) m = std::max({m, std::fabs(p.x), std::fabs(p.y)});
  return m;
}

TEST(WarpConvert, DestinationCornersGoToSourceCorners) {
  std::mt19937_64 rng(1001);
  for (int n = 0; n < 2000; ++n) {
    const Quad src = random_convex_quad(rng);
    const Quad dst = random_convex_quad(rng);
    const Mapping m(src, dst);
    const double tol = 2.5e-7 * magnitude(src) + 1e-6 * extent(src);
    for (int i = 0; i < 4; ++i) {
      const Mapping::Out o = m.map(static_cast<float>(dst.p[i].x),
                                   static_cast<float>(dst.p[i].y));
      ASSERT_NEAR(o.x, src.p[i].x, tol) << "pair " << n << " corner " << i;
      ASSERT_NEAR(o.y, src.p[i].y, tol) << "pair " << n << " corner " << i;
    }
  }
}

TEST(WarpConvert, ReproducesTheBilinearFormulaForRandomConvexQuads) {
  std::mt19937_64 rng(2002);
  std::uniform_real_distribution<double> param(0.0, 1.0);
  for (int n = 0; n < 2000; ++n) {
    const Quad src = random_convex_quad(rng);
    const Quad dst = random_convex_quad(rng);
    const Mapping m(src, dst);
    const double tol = 2.5e-7 * magnitude(src) + 1e-6 * extent(src);
    for (int k = 0; k < 10; ++k) {
      long double u = param(rng), v = param(rng);
      const Point80 target = bilinear(dst, u, v);
      const double px = on_float_grid(target.x), py = on_float_grid(target.y);
      refine_parameters(dst, px, py, u, v);
      const Point80 s = bilinear(src, u, v);
      const Mapping::Out o =
          m.map(static_cast<float>(px), static_cast<float>(py));
      ASSERT_NEAR(o.x, static_cast<double>(s.x), tol)
          << "pair " << n << " u " << double(u) << " v " << double(v);
      ASSERT_NEAR(o.y, static_cast<double>(s.y), tol)
          << "pair " << n << " u " << double(u) << " v " << double(v);
    }
  }
}

// The perspective mapping: corners go to corners, and points on a line of
// the destination come from points on a line of the source.
TEST(WarpConvert, PerspectiveKeepsCornersAndStraightLines) {
  std::mt19937_64 rng(1803);
  std::uniform_real_distribution<double> param(0.0, 1.0);
  for (int n = 0; n < 2000; ++n) {
    const Quad src = random_convex_quad(rng);
    const Quad dst = random_convex_quad(rng);
    warp_vals vals{};
    float *s = &vals.sx0, *d = &vals.dx0;
    for (int i = 0; i < 4; ++i) {
      s[2 * i] = float(src.p[i].x), s[2 * i + 1] = float(src.p[i].y);
      d[2 * i] = float(dst.p[i].x), d[2 * i + 1] = float(dst.p[i].y);
    }
    vals.mapping = WARP_PERSPECTIVE;
    ASSERT_EQ(warp_vals_check(&vals), nullptr) << n;
    warp w{};
    interpolation in{};
    interpolation_init(&in, &w);
    warp_init(&w, &vals, &in);
    auto map = [&](point p) {
      float x, y;
      warp_convert(&w, float(p.x), float(p.y), &x, &y);
      return point_init(x, y);
    };
    const double tol = 2.5e-7 * magnitude(src) + 2e-6 * extent(src);
    for (int i = 0; i < 4; ++i) {
      const point o = map(dst.p[i]);
      ASSERT_NEAR(o.x, src.p[i].x, tol) << "pair " << n << " corner " << i;
      ASSERT_NEAR(o.y, src.p[i].y, tol) << "pair " << n << " corner " << i;
    }
    // Two points inside the destination and three between them.
    point ends[2];
    for (point &e : ends) {
      const double u = param(rng), v = param(rng);
      const Point80 b = bilinear(dst, u, v);
      e = point_init(on_float_grid(b.x), on_float_grid(b.y));
    }
    const point a = map(ends[0]), b = map(ends[1]);
    const point along = point_from2(a, b);
    if (point_length(along) < 1.0) continue;
    for (double t : {0.25, 0.5, 0.75}) {
      // Ends on the 1/64 grid put these on the 1/256 grid: exact floats.
      const point m = map(point_init(ends[0].x + t * (ends[1].x - ends[0].x),
                                     ends[0].y + t * (ends[1].y - ends[0].y)));
      // Distance of m from the line through a and b.
      const double off = std::fabs(point_cross(along, point_from2(a, m))) /
                         point_length(along);
      ASSERT_LT(off, 4 * tol + 0.02 * extent(src) / 600) << "pair " << n << " t " << t;
    }
  }
}

// Beyond the horizon the projective map would fold the plane over: there
// the mapping gives no position, short of it a far one.
TEST(WarpConvert, PerspectiveGivesNothingBehindTheHorizon) {
  // The map (x, y) -> (x, y) / (1 - x / 10.5) from the square: its horizon
  // is the line x = 10.5.
  warp_vals vals{};
  const float d[8] = {0, 0, 10, 0, 10, 10, 0, 10};
  const float s[8] = {0, 0, 210, 0, 210, 210, 0, 10};
  std::memcpy(&vals.dx0, d, sizeof d);
  std::memcpy(&vals.sx0, s, sizeof s);
  vals.mapping = WARP_PERSPECTIVE;
  ASSERT_EQ(warp_vals_check(&vals), nullptr);
  warp w{};
  interpolation in{};
  interpolation_init(&in, &w);
  warp_init(&w, &vals, &in);
  float x, y;
  warp_convert(&w, 5.0f, 5.0f, &x, &y);
  EXPECT_NEAR(x, 5.0 / (1 - 5.0 / 10.5), 1e-3);
  EXPECT_NEAR(y, 5.0 / (1 - 5.0 / 10.5), 1e-3);
  warp_convert(&w, 10.4f, 5.0f, &x, &y);
  EXPECT_GT(x, 1000.0f);
  for (float beyond : {10.6f, 11.0f, 40.0f}) {
    warp_convert(&w, beyond, 5.0f, &x, &y);
    EXPECT_TRUE(std::isnan(x)) << beyond;
  }
}

// ------------------------------------------------------ settings check

warp_vals ordinary_vals() {
  warp_vals v{};
  v.progress_name = "Tessaform";
  const float src[8] = {10, 10, 200, 20, 190, 150, 15, 140};
  const float dst[8] = {0, 0, 300, 0, 300, 200, 0, 200};
  float *s[8] = {&v.sx0, &v.sy0, &v.sx1, &v.sy1, &v.sx2, &v.sy2, &v.sx3, &v.sy3};
  float *d[8] = {&v.dx0, &v.dy0, &v.dx1, &v.dy1, &v.dx2, &v.dy2, &v.dx3, &v.dy3};
  for (int i = 0; i < 8; ++i) {
    *s[i] = src[i];
    *d[i] = dst[i];
  }
  v.interpolation = 1;
  return v;
}

// The sixteen coordinates of the settings, source first.
float *coordinate(warp_vals &v, int i) {
  float *all[16] = {&v.sx0, &v.sy0, &v.sx1, &v.sy1, &v.sx2, &v.sy2,
                    &v.sx3, &v.sy3, &v.dx0, &v.dy0, &v.dx1, &v.dy1,
                    &v.dx2, &v.dy2, &v.dx3, &v.dy3};
  return all[i];
}

void set_destination(warp_vals &v, const Quad &q) {
  for (int i = 0; i < 4; ++i) {
    *coordinate(v, 8 + 2 * i) = static_cast<float>(q.p[i].x);
    *coordinate(v, 9 + 2 * i) = static_cast<float>(q.p[i].y);
  }
}

void expect_refused(const warp_vals &v, const std::string &what) {
  const char *reason = warp_vals_check(&v);
  ASSERT_NE(reason, nullptr) << what;
  EXPECT_GT(std::strlen(reason), 0u) << what;
}

TEST(WarpValsCheck, AcceptsOrdinarySettings) {
  warp_vals v = ordinary_vals();
  for (int32_t interpolation = 0; interpolation <= 3; ++interpolation) {
    v.interpolation = interpolation;
    EXPECT_EQ(warp_vals_check(&v), nullptr) << interpolation;
  }
  // Flags, a missing label, the other orientation and a non-convex or
  // self-crossing destination are not the check's business.
  v.pre_blur = 1;
  v.anti_aliasing = 1;
  v.progress_name = nullptr;
  EXPECT_EQ(warp_vals_check(&v), nullptr);
  set_destination(v, make_quad(0, 0, 0, 200, 300, 200, 300, 0));
  EXPECT_EQ(warp_vals_check(&v), nullptr);
  set_destination(v, make_quad(0, 0, 300, 200, 300, 0, 0, 200));
  EXPECT_EQ(warp_vals_check(&v), nullptr);
  // A small destination far from the origin.
  set_destination(v, make_quad(8e6, -8e6, 8e6 + 50, -8e6, 8e6 + 50,
                               -8e6 + 50, 8e6, -8e6 + 50));
  EXPECT_EQ(warp_vals_check(&v), nullptr);
}

TEST(WarpValsCheck, PerspectiveNeedsTwoConvexQuadranglesAndAKnownMapping) {
  warp_vals v = ordinary_vals();
  v.mapping = WARP_PERSPECTIVE;
  EXPECT_EQ(warp_vals_check(&v), nullptr);
  // Either orientation, each end on its own: a mirror is still a map.
  set_destination(v, make_quad(0, 0, 0, 200, 300, 200, 300, 0));
  EXPECT_EQ(warp_vals_check(&v), nullptr);
  struct shape_case {
    Quad quad;
    const char *says;
  };
  const shape_case shapes[] = {
      {make_quad(0, 0, 150, 0, 300, 0, 0, 200), "on a line"},
      {make_quad(0, 0, 300, 0, 60, 50, 0, 200), "inside the triangle"},
      {make_quad(0, 0, 300, 200, 300, 0, 0, 200), "cross"},
      {make_quad(0, 0, 300, 0, 300, 0, 0, 200), "on a line"},  // a repeated corner
  };
  for (const shape_case &c : shapes)
    for (int end = 0; end < 2; ++end) {
      warp_vals bad = ordinary_vals();
      bad.mapping = WARP_PERSPECTIVE;
      for (int i = 0; i < 4; ++i) {
        *coordinate(bad, 8 * end + 2 * i) = float(c.quad.p[i].x);
        *coordinate(bad, 8 * end + 2 * i + 1) = float(c.quad.p[i].y);
      }
      const char *reason = warp_vals_check(&bad);
      ASSERT_NE(reason, nullptr) << c.says;
      EXPECT_NE(std::string(reason).find(end ? "destination" : "source"),
                std::string::npos) << reason;
      EXPECT_NE(std::string(reason).find(c.says), std::string::npos) << reason;
      // The bilinear map takes them all.
      bad.mapping = WARP_BILINEAR;
      EXPECT_EQ(warp_vals_check(&bad), nullptr) << c.says;
    }
  for (int32_t unknown : {2, -1, INT32_MAX}) {
    v = ordinary_vals();
    v.mapping = unknown;
    expect_refused(v, "mapping " + std::to_string(unknown));
  }
}

TEST(WarpValsCheck, RefusesUnknownInterpolation) {
  warp_vals v = ordinary_vals();
  for (int32_t bad : {4, -1, 100, INT32_MIN, INT32_MAX}) {
    v.interpolation = bad;
    expect_refused(v, "interpolation " + std::to_string(bad));
  }
}

TEST(WarpValsCheck, RefusesCoordinatesThatAreNotFinite) {
  const float non_finite[] = {std::numeric_limits<float>::quiet_NaN(),
                              std::numeric_limits<float>::infinity(),
                              -std::numeric_limits<float>::infinity()};
  for (int i = 0; i < 16; ++i)
    for (float bad : non_finite) {
      warp_vals v = ordinary_vals();
      *coordinate(v, i) = bad;
      expect_refused(v, "coordinate " + std::to_string(i) + " = " +
                            std::to_string(bad));
    }
}

TEST(WarpValsCheck, RefusesCoordinatesBeyondTwoToTheTwentyThird) {
  for (int i = 0; i < 8; ++i) {
    warp_vals v = ordinary_vals();
    // A source corner may lie as far out as 2^23 ...
    *coordinate(v, i) = 8388608.0f;
    EXPECT_EQ(warp_vals_check(&v), nullptr) << i;
    *coordinate(v, i) = -8388608.0f;
    EXPECT_EQ(warp_vals_check(&v), nullptr) << i;
    // ... and not one pixel farther.
    *coordinate(v, i) = 8388609.0f;
    expect_refused(v, "source coordinate " + std::to_string(i));
    *coordinate(v, i) = -8388609.0f;
    expect_refused(v, "source coordinate " + std::to_string(i));
    *coordinate(v, i) = 1e30f;
    expect_refused(v, "source coordinate " + std::to_string(i));
  }
  for (int i = 8; i < 16; ++i) {
    warp_vals v = ordinary_vals();
    *coordinate(v, i) = -8388609.0f;
    expect_refused(v, "destination coordinate " + std::to_string(i));
  }
}

// The new layer covers the grown destination's box: a w-wide rectangle
// whose corners grow almost a pixel sideways gives a layer w + 3 wide.
TEST(WarpValsCheck, RefusesLayersWiderThanGimpAllows) {
  warp_vals v = ordinary_vals();
  const double w = WARP_MAX_SIDE - 3;
  set_destination(v, make_quad(0, 0, w, 0, w, 10, 0, 10));
  EXPECT_EQ(warp_vals_check(&v), nullptr);
  set_destination(v, make_quad(0, 0, w + 1, 0, w + 1, 10, 0, 10));
  expect_refused(v, "one column too wide");
  set_destination(v, make_quad(0, 0, 10, 0, 10, w, 0, w));
  EXPECT_EQ(warp_vals_check(&v), nullptr);
  set_destination(v, make_quad(0, 0, 10, 0, 10, w + 1, 0, w + 1));
  expect_refused(v, "one row too tall");
  set_destination(v, make_quad(-4e6, 0, 4e6, 0, 4e6, 10, -4e6, 10));
  expect_refused(v, "far too wide");
}

TEST(WarpValsCheck, RefusesLayersOfMoreThanTwoToTheThirtiethPixels) {
  // A square of side s gives a layer of (s + 3)^2 pixels; 32768^2 = 2^30.
  warp_vals v = ordinary_vals();
  set_destination(v, make_quad(0, 0, 32765, 0, 32765, 32765, 0, 32765));
  EXPECT_EQ(warp_vals_check(&v), nullptr);
  set_destination(v, make_quad(0, 0, 32766, 0, 32766, 32766, 0, 32766));
  expect_refused(v, "one pixel row and column too many");
  // Narrow enough for GIMP, too many pixels all the same.
  set_destination(v, make_quad(0, 0, 500000, 0, 500000, 3000, 0, 3000));
  expect_refused(v, "wide and tall");
}

// ------------------------------------------------------- vector positions

// A random corner: mostly near the pixels rendered, sometimes far off, on a
// coarse grid (so corners repeat and edges line up), or beyond the range a
// float resolves to half a pixel.
float random_corner(std::mt19937_64 &rng, float centre) {
  std::uniform_int_distribution<int> kind(0, 9);
  std::uniform_real_distribution<float> near(-40.0f, 40.0f);
  switch (kind(rng)) {
    case 0: return centre + std::round(near(rng) / 8) * 8;
    case 1: return std::uniform_real_distribution<float>(-8e6f, 8e6f)(rng);
    case 2: return centre + near(rng) * 1e-4f;
    default: return centre + near(rng);
  }
}

// Each vector level maps every pixel to the float pixel_source_position
// gives, and samples exactly the pixels it samples: convex, concave,
// crossed and degenerate quadrangles, parallelograms (where the solver is
// linear), sources cut by the drawable; and the perspective mapping of
// convex ones, tiny to far beyond the drawable, horizons near the pixels.
TEST(VectorPositions, EveryLevelMapsAsTheOnePixelPath) {
  std::mt19937_64 rng(1612);
  int64_t compared = 0, sampled = 0, perspective_trials = 0;
  for (int trial = 0; trial < 600; ++trial) {
    warp_vals vals{};
    float *s = &vals.sx0, *d = &vals.dx0;
    for (int i = 0; i < 8; ++i) {
      s[i] = random_corner(rng, 30.0f);
      d[i] = random_corner(rng, 20.0f);
    }
    if (trial % 4 == 1 || trial % 8 == 3) {  // a parallelogram destination
      d[4] = d[2] + d[6] - d[0];
      d[5] = d[3] + d[7] - d[1];
    }
    // Nearly one: |a / b| about the 1e-6 where the solver turns linear.
    if (trial % 8 == 3) d[4] += std::uniform_real_distribution<float>(-2e-4f, 2e-4f)(rng);
    // A third of the trials map in perspective; their quadrangles must be
    // convex: turned rectangles of any size round the random first corner,
    // each corner moved by up to 0.45 of the shorter half-side (which keeps
    // them convex, and can leave a side nearly nothing: a horizon near).
    const bool perspective = trial % 3 == 0;
    if (perspective && trial % 4 != 2) {
      std::uniform_real_distribution<float> unit(-1.0f, 1.0f), size(-3.0f, 2.0f);
      for (float *q : {s, d}) {
        const float a = std::pow(10.0f, size(rng)) * 30.0f;
        const float b = a * std::pow(10.0f, 0.5f * unit(rng));
        const float turn = 3.14159265f * unit(rng), jitter = 0.45f * std::min(a, b);
        const float cx = q[0], cy = q[1];
        const float corners[4][2] = {{-a, -b}, {a, -b}, {a, b}, {-a, b}};
        for (int i = 0; i < 4; ++i) {
          const float x = corners[i][0] + jitter * unit(rng) * 0.7f;
          const float y = corners[i][1] + jitter * unit(rng) * 0.7f;
          q[2 * i] = cx + x * std::cos(turn) - y * std::sin(turn);
          q[2 * i + 1] = cy + x * std::sin(turn) + y * std::cos(turn);
        }
      }
    }
    if (trial % 4 == 2) {  // an upright rectangle, the common case
      const float x0 = std::round(d[0]), y0 = std::round(d[1]);
      const float cornersd[8] = {x0, y0, x0 + 37, y0, x0 + 37, y0 + 29, x0, y0 + 29};
      std::memcpy(d, cornersd, sizeof cornersd);
      // Part of the drawable, or all of it (whose upright box decides alone).
      const float part[8] = {0, 0, 60, 0, 60, 45, 0, 45};
      const float whole[8] = {-5, 3, 55, 3, 55, 48, -5, 48};
      std::memcpy(s, trial % 8 == 6 ? whole : part, sizeof part);
    }
    if (perspective) vals.mapping = WARP_PERSPECTIVE;
    if (warp_vals_check(&vals)) continue;
    perspective_trials += perspective;
    warp w{};
    interpolation in{};
    w.source_extent = bounds{nullptr, -5, 3, 55, 48, 60, 45};
    interpolation_init(&in, &w);
    warp_init(&w, &vals, &in);
    position_plan plan;
    position_plan_init(&plan, &w);
    const bounds *db = w.dst->bounds;
    // At most 64 x 64 pixels of each box.
    const int32_t width = std::min(db->width, 64), height = std::min(db->height, 64);
    std::vector<float> sx(size_t(width) + 8), sy(size_t(width) + 8);
    for (const vector_functions *f : {&vector_sse2, &vector_avx2}) {
      if (f == &vector_avx2 && !__builtin_cpu_supports("avx2")) continue;
      for (int32_t y = db->y0; y < db->y0 + height; ++y) {
        f->row_positions(plan, y, db->x0, width, sx.data(), sy.data());
        for (int32_t i = 0; i < width; ++i) {
          float ex, ey;
          const bool samples = pixel_source_position(&w, db->x0 + i, y, &ex, &ey);
          ++compared;
          ASSERT_EQ(!std::isnan(sx[size_t(i)]), samples)
              << "trial " << trial << " level " << f->level << " pixel "
              << db->x0 + i << "," << y;
          if (!samples) continue;
          ++sampled;
          ASSERT_EQ(std::memcmp(&sx[size_t(i)], &ex, sizeof ex), 0) << trial;
          ASSERT_EQ(std::memcmp(&sy[size_t(i)], &ey, sizeof ey), 0) << trial;
        }
      }
    }
  }
  EXPECT_GT(compared, 500000);
  EXPECT_GT(sampled, compared / 10);
  EXPECT_GT(perspective_trials, 150);
}

}  // namespace
