// Plane geometry: point vectors, growing and testing quadrangles, the
// diagnostic dump, the inverse bilinear solver and the crossing of two lines.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "tessaform.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

struct Quad {
  point p[4];
};

Quad make_quad(double x0, double y0, double x1, double y1, double x2,
               double y2, double x3, double y3) {
  return Quad{{{x0, y0}, {x1, y1}, {x2, y2}, {x3, y3}}};
}

Quad square10() { return make_quad(0, 0, 10, 0, 10, 10, 0, 10); }

// Bilinear patch point with parameters (u, v), in long double so that it
// serves as an independent reference.
point patch_point(const Quad &q, long double u, long double v) {
  const long double w0 = (1 - u) * (1 - v), w1 = u * (1 - v), w2 = u * v,
                    w3 = (1 - u) * v;
  return point{static_cast<double>(w0 * q.p[0].x + w1 * q.p[1].x +
                                   w2 * q.p[2].x + w3 * q.p[3].x),
               static_cast<double>(w0 * q.p[0].y + w1 * q.p[1].y +
                                   w2 * q.p[2].y + w3 * q.p[3].y)};
}

// Strictly convex with no sliver corners: every turn has the same sign and a
// sine of at least 0.15, so the bilinear inverse is well conditioned.
bool well_shaped_convex(const Quad &q) {
  int sign = 0;
  for (int i = 0; i < 4; ++i) {
    const point a = q.p[i], b = q.p[(i + 1) % 4], c = q.p[(i + 2) % 4];
    const point e1 = point{b.x - a.x, b.y - a.y};
    const point e2 = point{c.x - b.x, c.y - b.y};
    const double l1 = std::hypot(e1.x, e1.y), l2 = std::hypot(e2.x, e2.y);
    if (l1 < 1.0 || l2 < 1.0) return false;
    const double s = (e1.x * e2.y - e1.y * e2.x) / (l1 * l2);
    if (std::fabs(s) < 0.15) return false;
    const int sg = s > 0 ? 1 : -1;
    if (sign != 0 && sg != sign) return false;
    sign = sg;
  }
  return true;
}

Quad random_convex_quad(std::mt19937_64 &rng) {
  std::uniform_real_distribution<double> centre(-3000.0, 3000.0);
  std::uniform_real_distribution<double> scale(2.0, 800.0);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  for (;;) {
    const double cx = centre(rng), cy = centre(rng), s = scale(rng);
    Quad q;
    for (auto &p : q.p) p = point{cx + s * unit(rng), cy + s * unit(rng)};
    if (well_shaped_convex(q)) return q;
  }
}

struct Solvers {
  qcoord u;
  qcoord v;
};

// The pair a region builds from its corners: u over 0,1,2,3 and v over
// 1,2,3,0.
Solvers solvers_of(const Quad &q) {
  Solvers s;
  qcoord_init(&s.u, q.p[0], q.p[1], q.p[2], q.p[3]);
  qcoord_init(&s.v, q.p[1], q.p[2], q.p[3], q.p[0]);
  return s;
}

void expect_point_eq(point actual, double x, double y) {
  EXPECT_DOUBLE_EQ(actual.x, x);
  EXPECT_DOUBLE_EQ(actual.y, y);
}

struct Crossing {
  float x;
  float y;
};

Crossing intersect(point p1, point d1, point p2, point d2) {
  Crossing c{-12345.0f, -12345.0f};
  get_intersect(p1, d1, p2, d2, &c.x, &c.y);
  return c;
}

// ------------------------------------------------------------------ points

TEST(PointVectors, ArithmeticAndArgumentOrder) {
  const point a = point_init(1, 2), b = point_init(4, 6);
  expect_point_eq(point_from2(a, b), 3, 4);
  expect_point_eq(point_sub(a, b), -3, -4);
  expect_point_eq(point_add(a, b), 5, 8);
  expect_point_eq(point_scale(b, -0.5), -2, -3);
  EXPECT_DOUBLE_EQ(point_length(point_from2(a, b)), 5.0);
  EXPECT_EQ(point_length(point_init(0, 0)), 0.0);

  // point_sub(a, b) and point_from2(b, a) name the same vector.
  const point s = point_sub(a, b), f = point_from2(b, a);
  EXPECT_EQ(s.x, f.x);
  EXPECT_EQ(s.y, f.y);
}

TEST(PointVectors, CrossSignAndAntisymmetry) {
  EXPECT_EQ(point_cross(point_init(1, 0), point_init(0, 1)), 1.0);
  EXPECT_EQ(point_cross(point_init(0, 1), point_init(1, 0)), -1.0);

  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> d(-1e3, 1e3);
  for (int i = 0; i < 200; ++i) {
    const point a = point_init(d(rng), d(rng));
    const point b = point_init(d(rng), d(rng));
    EXPECT_EQ(point_cross(a, a), 0.0);
    EXPECT_EQ(point_cross(b, a), -point_cross(a, b));
    // Parallel vectors have no cross component.
    EXPECT_NEAR(point_cross(a, point_scale(a, 3.0)), 0.0,
                1e-12 * (a.x * a.x + a.y * a.y));
  }
}

TEST(PointVectors, QuarterOfCornerSumIsTheirAverage) {
  const Quad q = make_quad(1, 2, 9, 3, 7, 11, -1, 6);
  point sum = point_init(0, 0);
  for (const point &p : q.p) sum = point_add(sum, p);
  expect_point_eq(point_scale(sum, 0.25), 4.0, 5.5);
}

// ---------------------------------------------------------------- growing

TEST(QuadGrow, SquareCornersMoveAlongTheDiagonals) {
  const Quad sq = square10();
  point out[4];
  quad_grow(sq.p, out, 1.0);
  const double h = 1.0 / std::sqrt(2.0);
  const double tol = 1e-12;
  EXPECT_NEAR(out[0].x, -h, tol);
  EXPECT_NEAR(out[0].y, -h, tol);
  EXPECT_NEAR(out[1].x, 10 + h, tol);
  EXPECT_NEAR(out[1].y, -h, tol);
  EXPECT_NEAR(out[2].x, 10 + h, tol);
  EXPECT_NEAR(out[2].y, 10 + h, tol);
  EXPECT_NEAR(out[3].x, -h, tol);
  EXPECT_NEAR(out[3].y, 10 + h, tol);
  // The given corners stay as they were.
  EXPECT_EQ(sq.p[2].x, 10.0);
  EXPECT_EQ(sq.p[2].y, 10.0);
}

TEST(QuadGrow, RectangleCornersMoveAlongTheirRays) {
  const Quad r = make_quad(0, 0, 20, 0, 20, 10, 0, 10);
  point out[4];
  quad_grow(r.p, out, 1.0);
  const double gx = 2.0 / std::sqrt(5.0), gy = 1.0 / std::sqrt(5.0);
  const double tol = 1e-12;
  EXPECT_NEAR(out[0].x, -gx, tol);
  EXPECT_NEAR(out[0].y, -gy, tol);
  EXPECT_NEAR(out[1].x, 20 + gx, tol);
  EXPECT_NEAR(out[1].y, -gy, tol);
  EXPECT_NEAR(out[2].x, 20 + gx, tol);
  EXPECT_NEAR(out[2].y, 10 + gy, tol);
  EXPECT_NEAR(out[3].x, -gx, tol);
  EXPECT_NEAR(out[3].y, 10 + gy, tol);
}

// Each grown corner lies on the ray from the average of the corners through
// the corner, exactly `distance` farther out.
TEST(QuadGrow, GrownCornersLieDistanceFartherOnTheirRays) {
  std::mt19937_64 rng(20240611);
  std::uniform_real_distribution<double> coord(-5000.0, 5000.0);
  std::uniform_real_distribution<double> dist(0.05, 25.0);
  for (int n = 0; n < 2000; ++n) {
    Quad q;
    for (auto &p : q.p) p = point{coord(rng), coord(rng)};
    const double distance = dist(rng);
    point out[4];
    quad_grow(q.p, out, distance);

    const point c{(q.p[0].x + q.p[1].x + q.p[2].x + q.p[3].x) / 4,
                  (q.p[0].y + q.p[1].y + q.p[2].y + q.p[3].y) / 4};
    for (int i = 0; i < 4; ++i) {
      const point d{q.p[i].x - c.x, q.p[i].y - c.y};
      const point g{out[i].x - c.x, out[i].y - c.y};
      const double len = std::hypot(d.x, d.y), glen = std::hypot(g.x, g.y);
      const double tol = 1e-9 * (1.0 + len);
      ASSERT_NEAR(glen - len, distance, tol) << "quad " << n << " corner " << i;
      // Same direction: no sideways component, pointing outward.
      ASSERT_NEAR((d.x * g.y - d.y * g.x) / glen, 0.0, tol);
      ASSERT_GT(d.x * g.x + d.y * g.y, 0.0);
    }
  }
}

TEST(QuadGrow, CornerOnTheCentreStaysPut) {
  // (1, 1) is the average of the four corners.
  const Quad q = make_quad(0, 0, 3, 0, 0, 3, 1, 1);
  point out[4];
  quad_grow(q.p, out, 1.0);
  EXPECT_EQ(out[3].x, 1.0);
  EXPECT_EQ(out[3].y, 1.0);
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(std::isfinite(out[i].x) && std::isfinite(out[i].y));
    EXPECT_NEAR(std::hypot(out[i].x - 1, out[i].y - 1),
                std::hypot(q.p[i].x - 1, q.p[i].y - 1) + 1.0, 1e-12);
  }
}

// ------------------------------------------------------------ point test

struct InsideCase {
  double x, y;
  int inside;
};

const InsideCase kSquareCases[] = {
    {5, 5, 1},  {10, 5, 1}, {5, 10, 1}, {10, 10, 1}, {0, 5, 0},  {5, 0, 0},
    {0, 0, 0},  {10, 0, 0}, {0, 10, 0}, {-1, 5, 0},  {11, 5, 0}, {5, 11, 0},
    {5, -1, 0}, {9.99, 0.01, 1}, {0.01, 9.99, 1}, {10.01, 5, 0}};

TEST(QuadInside, SquareLeftAndTopEdgesOutsideRightAndBottomInside) {
  const Quad sq = square10();
  for (const auto &c : kSquareCases)
    EXPECT_EQ(quad_inside(sq.p, c.x, c.y), c.inside)
        << "(" << c.x << ", " << c.y << ")";
}

TEST(QuadInside, OrientationDoesNotMatter) {
  const Quad cw = square10();
  const Quad ccw = make_quad(0, 0, 0, 10, 10, 10, 10, 0);
  for (const auto &c : kSquareCases)
    EXPECT_EQ(quad_inside(ccw.p, c.x, c.y), c.inside)
        << "(" << c.x << ", " << c.y << ")";

  std::mt19937_64 rng(99);
  std::uniform_real_distribution<double> d(-3.0, 13.0);
  for (int i = 0; i < 2000; ++i) {
    const double x = d(rng), y = d(rng);
    ASSERT_EQ(quad_inside(cw.p, x, y), quad_inside(ccw.p, x, y));
  }
}

TEST(QuadInside, SlantedQuadrangleAgreesWithHalfPlanes) {
  // Convex: points strictly on the inner side of all four edges are inside,
  // points beyond any edge are outside.
  const Quad q = make_quad(2, 1, 14, 3, 12, 12, 1, 9);
  std::mt19937_64 rng(5);
  std::uniform_real_distribution<double> d(-2.0, 16.0);
  for (int n = 0; n < 5000; ++n) {
    const double x = d(rng), y = d(rng);
    double min_side = std::numeric_limits<double>::infinity();
    for (int i = 0; i < 4; ++i) {
      const point a = q.p[i], b = q.p[(i + 1) % 4];
      const double side = ((b.x - a.x) * (y - a.y) - (b.y - a.y) * (x - a.x)) /
                          std::hypot(b.x - a.x, b.y - a.y);
      min_side = std::min(min_side, side);
    }
    if (min_side > 1e-9) {
      ASSERT_EQ(quad_inside(q.p, x, y), 1) << x << ", " << y;
    } else if (min_side < -1e-9) {
      ASSERT_EQ(quad_inside(q.p, x, y), 0) << x << ", " << y;
    }
  }
}

TEST(QuadInside, BowTieCountsBothTriangles) {
  // Edges 0-1 and 2-3 cross at (5, 5).
  const Quad q = make_quad(0, 0, 10, 10, 10, 0, 0, 10);
  EXPECT_EQ(quad_inside(q.p, 2, 5), 1);
  EXPECT_EQ(quad_inside(q.p, 8, 5), 1);
  EXPECT_EQ(quad_inside(q.p, 5, 2), 0);
  EXPECT_EQ(quad_inside(q.p, 5, 8), 0);
}

TEST(QuadInside, NotANumberIsOutside) {
  const Quad sq = square10();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(quad_inside(sq.p, nan, 5), 0);
  EXPECT_EQ(quad_inside(sq.p, 5, nan), 0);
}

// ------------------------------------------------------------- diagnostic

class QuadMessage : public ::testing::Test {
 protected:
  void SetUp() override {
    handler_ = g_log_set_handler(
        nullptr,
        static_cast<GLogLevelFlags>(G_LOG_LEVEL_MASK | G_LOG_FLAG_FATAL |
                                    G_LOG_FLAG_RECURSION),
        &QuadMessage::capture, this);
  }
  void TearDown() override { g_log_remove_handler(nullptr, handler_); }

  static void capture(const gchar *domain, GLogLevelFlags level,
                      const gchar *message, gpointer self) {
    auto *t = static_cast<QuadMessage *>(self);
    t->domains.push_back(domain ? domain : "");
    t->levels.push_back(level);
    t->messages.push_back(message);
  }

  std::vector<std::string> domains;
  std::vector<GLogLevelFlags> levels;
  std::vector<std::string> messages;

 private:
  guint handler_ = 0;
};

TEST_F(QuadMessage, LogsNameAndCornersAsOneMessage) {
  const Quad q = make_quad(1.5, -2, 10, 0.25, 12, 12, -0.125, 10);
  quad_message(q.p, "areal");
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(domains[0], "");
  EXPECT_EQ(levels[0] & G_LOG_LEVEL_MASK, G_LOG_LEVEL_MESSAGE);
  EXPECT_EQ(messages[0],
            "areal\n"
            "[ 1.500000, -2.000000]\n"
            "[ 10.000000, 0.250000]\n"
            "[ 12.000000, 12.000000]\n"
            "[ -0.125000, 10.000000]\n");
}

TEST_F(QuadMessage, PercentInNameIsNotAFormat) {
  const Quad q = square10();
  quad_message(q.p, "100%s %d %n");
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].rfind("100%s %d %n\n[ 0.000000, 0.000000]\n", 0), 0u);
}

TEST_F(QuadMessage, LongNameIsCutToFitTheBuffer) {
  const Quad q = square10();
  const std::string corners =
      "\n[ 0.000000, 0.000000]\n[ 10.000000, 0.000000]\n"
      "[ 10.000000, 10.000000]\n[ 0.000000, 10.000000]\n";
  // 255 bytes of text and the terminator fill the 256-byte buffer exactly.
  const std::string fits(255 - corners.size(), 'n');
  quad_message(q.p, fits.c_str());
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], fits + corners);

  for (size_t len : {fits.size() + 1, size_t(300), size_t(4000)}) {
    messages.clear();
    const std::string name(len, 'x');
    quad_message(q.p, name.c_str());
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], (name + corners).substr(0, 255)) << len;
  }
}

// --------------------------------------------------- inverse bilinear solver

TEST(QcoordSolver, SquareCoefficientsAndLinearBranch) {
  const Solvers s = solvers_of(square10());
  EXPECT_EQ(s.u.a, 0.0);
  EXPECT_EQ(s.u.b_vec.x, 0.0);
  EXPECT_EQ(s.u.b_vec.y, 0.0);
  EXPECT_EQ(s.u.b_const, 100.0);
  EXPECT_EQ(s.u.c_vec.x, 0.0);
  EXPECT_EQ(s.u.c_vec.y, 10.0);
  EXPECT_EQ(s.u.c_const, 0.0);
  EXPECT_EQ(s.v.a, 0.0);
  EXPECT_EQ(s.v.b_vec.x, 0.0);
  EXPECT_EQ(s.v.b_vec.y, 0.0);
  EXPECT_EQ(s.v.b_const, 100.0);
  EXPECT_EQ(s.v.c_vec.x, -10.0);
  EXPECT_EQ(s.v.c_vec.y, 0.0);
  EXPECT_EQ(s.v.c_const, 0.0);

  EXPECT_DOUBLE_EQ(qcoord_get(&s.u, point_init(5, 5)), 0.5);
  EXPECT_DOUBLE_EQ(qcoord_get(&s.v, point_init(5, 5)), 0.5);
  EXPECT_DOUBLE_EQ(qcoord_get(&s.u, point_init(2.5, 7.5)), 0.25);
  EXPECT_DOUBLE_EQ(qcoord_get(&s.v, point_init(2.5, 7.5)), 0.75);
  // Not clamped beyond an edge.
  EXPECT_DOUBLE_EQ(qcoord_get(&s.u, point_init(-5, 5)), -0.5);
  EXPECT_DOUBLE_EQ(qcoord_get(&s.v, point_init(-5, 5)), 0.5);
}

TEST(QcoordSolver, KiteTakesTheRootInsideTheUnitInterval) {
  const Quad q = make_quad(0, 0, 10, 0, 12, 12, 0, 10);
  const Solvers s = solvers_of(q);
  EXPECT_EQ(s.u.a, 20.0);
  EXPECT_EQ(s.u.b_vec.x, 2.0);
  EXPECT_EQ(s.u.b_vec.y, 2.0);
  EXPECT_EQ(s.u.b_const, 100.0);
  EXPECT_EQ(s.u.c_vec.x, 0.0);
  EXPECT_EQ(s.u.c_vec.y, 10.0);
  EXPECT_EQ(s.u.c_const, 0.0);

  const double root = (std::sqrt(35.0) - 5.0) / 2.0;  // about 0.458
  EXPECT_NEAR(qcoord_get(&s.u, point_init(5, 5)), root, 1e-12);
  EXPECT_NEAR(qcoord_get(&s.v, point_init(5, 5)), root, 1e-12);

  const double corner_uv[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
  for (int i = 0; i < 4; ++i) {
    EXPECT_NEAR(qcoord_get(&s.u, q.p[i]), corner_uv[i][0], 1e-12) << i;
    EXPECT_NEAR(qcoord_get(&s.v, q.p[i]), corner_uv[i][1], 1e-12) << i;
  }

  // No real parameter far outside.
  EXPECT_TRUE(std::isnan(qcoord_get(&s.u, point_init(-20, -20))));
  EXPECT_TRUE(std::isnan(qcoord_get(&s.v, point_init(-20, -20))));
}

TEST(QcoordSolver, SmallerRootWhenTheLargerLiesFartherOut) {
  const Solvers s = solvers_of(make_quad(0, 0, 10, 0, 8, 8, 0, 10));
  EXPECT_EQ(s.u.a, -20.0);
  EXPECT_NEAR(qcoord_get(&s.u, point_init(5, 5)),
              2.5 - std::sqrt(15.0) / 2.0, 1e-12);  // about 0.564
}

TEST(QcoordSolver, LargerRootWhenBothLieInTheUnitInterval) {
  qcoord q;
  qcoord_init(&q, point_init(3, 9), point_init(8, 2), point_init(5, 9),
              point_init(7, 10));
  EXPECT_EQ(q.a, -19.0);
  const point P = point_init(6, 7);
  EXPECT_EQ(q.b_const + point_cross(q.b_vec, P), 29.0);
  EXPECT_EQ(q.c_const + point_cross(q.c_vec, P), -11.0);
  // Roots of -19 t^2 + 29 t - 11: about 0.704 and 0.822.
  const double larger = (29.0 + std::sqrt(29.0 * 29.0 - 4 * 19.0 * 11.0)) / 38;
  EXPECT_NEAR(qcoord_get(&q, P), larger, 1e-12);
}

TEST(QcoordSolver, DegenerateEquationGivesNotANumber) {
  // All four corners equal: a = b = 0.
  qcoord q;
  const point p = point_init(4, 4);
  qcoord_init(&q, p, p, p, p);
  EXPECT_FALSE(std::isfinite(qcoord_get(&q, point_init(1, 2))));
}

// The parameters of a point do not depend on the units: the same kite a
// thousand times smaller or larger gives the same root.
TEST(QcoordSolver, ScaleDoesNotChangeTheParameters) {
  const double root = (std::sqrt(35.0) - 5.0) / 2.0;
  for (double scale : {1e-4, 1e-3, 1.0, 1e3, 1e4}) {
    const Quad q = make_quad(0, 0, 10 * scale, 0, 12 * scale, 12 * scale, 0,
                             10 * scale);
    const Solvers s = solvers_of(q);
    const point P = point_init(5 * scale, 5 * scale);
    EXPECT_NEAR(qcoord_get(&s.u, P), root, 1e-9) << scale;
    EXPECT_NEAR(qcoord_get(&s.v, P), root, 1e-9) << scale;
  }
}

// Both solvers invert the bilinear patch of convex quadrangles of every
// size, position, shape and orientation.
TEST(QcoordSolver, InvertsTheBilinearPatchOfRandomConvexQuads) {
  std::mt19937_64 rng(0x7e55af0);
  std::uniform_real_distribution<double> param(0.0, 1.0);
  double worst = 0.0;
  for (int n = 0; n < 3000; ++n) {
    const Quad q = random_convex_quad(rng);
    const Solvers s = solvers_of(q);
    for (int i = 0; i < 4; ++i) {
      const double corner_u = (i == 1 || i == 2) ? 1.0 : 0.0;
      const double corner_v = (i >= 2) ? 1.0 : 0.0;
      ASSERT_NEAR(qcoord_get(&s.u, q.p[i]), corner_u, 1e-7) << n;
      ASSERT_NEAR(qcoord_get(&s.v, q.p[i]), corner_v, 1e-7) << n;
    }
    for (int k = 0; k < 20; ++k) {
      const double u = param(rng), v = param(rng);
      const point P = patch_point(q, u, v);
      const double eu = std::fabs(qcoord_get(&s.u, P) - u);
      const double ev = std::fabs(qcoord_get(&s.v, P) - v);
      worst = std::max(worst, std::max(eu, ev));
      ASSERT_LT(eu, 1e-7) << "quad " << n << " u " << u << " v " << v;
      ASSERT_LT(ev, 1e-7) << "quad " << n << " u " << u << " v " << v;
    }
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.3g", worst);
  RecordProperty("worst_error", text);
}

// ----------------------------------------------------------- line crossing

TEST(GetIntersect, WorkedCrossings) {
  Crossing c = intersect(point_init(0, 0), point_init(10, 0),
                         point_init(5, -5), point_init(0, 10));
  EXPECT_EQ(c.x, 5.0f);
  EXPECT_EQ(c.y, 0.0f);

  c = intersect(point_init(0, 0), point_init(1, 0), point_init(5, -5),
                point_init(0, 10));
  EXPECT_EQ(c.x, 5.0f);
  EXPECT_EQ(c.y, 0.0f);

  c = intersect(point_init(0, 0), point_init(3, 1), point_init(0, 4),
                point_init(1, -1));
  EXPECT_EQ(c.x, 3.0f);
  EXPECT_EQ(c.y, 1.0f);
}

TEST(GetIntersect, EvaluatesOnTheLineWithTheLargerParameter) {
  // Line 1 is horizontal, so any point on it has y = 0.7 exactly; its base
  // lies 1e10 away (s about 1e10). Line 2 reaches y = 0.7 only by cancelling
  // 1e9 against 1e9 (r = 1), which loses the low bits.
  const Crossing c = intersect(point_init(-1e10, 0.7), point_init(1, 0),
                               point_init(0.3, 1e9 + 0.7), point_init(0, -1e9));
  EXPECT_EQ(c.y, 0.7f);
  EXPECT_NEAR(c.x, 0.3f, 1e-5);

  // With the roles swapped, line 2 is the one with the larger parameter.
  const Crossing d = intersect(point_init(0.3, 1e9 + 0.7), point_init(0, -1e9),
                               point_init(-1e10, 0.7), point_init(1, 0));
  EXPECT_EQ(d.y, 0.7f);
}

TEST(GetIntersect, NarrowsToTheNearestFloat) {
  // Lines x = 0.1 and y = 0.2.
  const Crossing c = intersect(point_init(0.1, -3), point_init(0, 7),
                               point_init(-2, 0.2), point_init(5, 0));
  EXPECT_EQ(c.x, 0.1f);
  EXPECT_EQ(c.y, 0.2f);
}

TEST(GetIntersect, ParallelLinesAreNotFinite) {
  Crossing c = intersect(point_init(0, 0), point_init(1, 1), point_init(1, 0),
                         point_init(2, 2));
  EXPECT_EQ(c.x, -std::numeric_limits<float>::infinity());
  EXPECT_EQ(c.y, -std::numeric_limits<float>::infinity());

  // Coincident lines.
  c = intersect(point_init(0, 0), point_init(1, 1), point_init(2, 2),
                point_init(3, 3));
  EXPECT_TRUE(std::isnan(c.x));
  EXPECT_TRUE(std::isnan(c.y));
}

TEST(GetIntersect, ZeroDirectionsAreNotFinite) {
  // One direction zero.
  Crossing c = intersect(point_init(0, 0), point_init(0, 0), point_init(1, 0),
                         point_init(2, 3));
  EXPECT_FALSE(std::isfinite(c.x) && std::isfinite(c.y));
  c = intersect(point_init(0, 0), point_init(2, 3), point_init(1, 0),
                point_init(0, 0));
  EXPECT_FALSE(std::isfinite(c.x) && std::isfinite(c.y));

  // Both zero: no pivot at all.
  c = intersect(point_init(0, 0), point_init(0, 0), point_init(1, 1),
                point_init(0, 0));
  EXPECT_TRUE(std::isnan(c.x));
  EXPECT_TRUE(std::isnan(c.y));

  // Directions that are not numbers.
  const double nan = std::numeric_limits<double>::quiet_NaN();
  c = intersect(point_init(0, 0), point_init(nan, nan), point_init(1, 1),
                point_init(nan, nan));
  EXPECT_TRUE(std::isnan(c.x));
  EXPECT_TRUE(std::isnan(c.y));
}

// Agrees with the closed-form crossing p1 + s d1, s = (p2 - p1) x d2 / d1 x d2,
// to within the float narrowing.
TEST(GetIntersect, AgreesWithClosedFormForRandomLines) {
  std::mt19937_64 rng(31337);
  std::uniform_real_distribution<double> pos(-2000.0, 2000.0);
  std::uniform_real_distribution<double> len(0.01, 300.0);
  std::uniform_real_distribution<double> angle(0.0, 2 * kPi);
  for (int n = 0; n < 20000; ++n) {
    const double a1 = angle(rng), a2 = angle(rng);
    if (std::fabs(std::sin(a1 - a2)) < 0.05) continue;
    const double l1 = len(rng), l2 = len(rng);
    const point p1 = point_init(pos(rng), pos(rng));
    const point p2 = point_init(pos(rng), pos(rng));
    const point d1 = point_init(l1 * std::cos(a1), l1 * std::sin(a1));
    const point d2 = point_init(l2 * std::cos(a2), l2 * std::sin(a2));

    const long double den = (long double)d1.x * d2.y - (long double)d1.y * d2.x;
    const long double s = (((long double)p2.x - p1.x) * d2.y -
                           ((long double)p2.y - p1.y) * d2.x) /
                          den;
    const long double X = p1.x + s * d1.x, Y = p1.y + s * d1.y;
    // Size of the terms the elimination works with.
    const double scale =
        std::max({std::fabs(p1.x), std::fabs(p1.y), std::fabs(p2.x),
                  std::fabs(p2.y), std::fabs((double)X), std::fabs((double)Y)});

    const Crossing c = intersect(p1, d1, p2, d2);
    const double tolx = 1.2e-7 * std::fabs((double)X) + 1e-11 * scale;
    const double toly = 1.2e-7 * std::fabs((double)Y) + 1e-11 * scale;
    ASSERT_NEAR(c.x, (double)X, tolx) << "case " << n;
    ASSERT_NEAR(c.y, (double)Y, toly) << "case " << n;
  }
}

TEST(GetIntersect, SymmetricInTheTwoLines) {
  std::mt19937_64 rng(4242);
  std::uniform_real_distribution<double> d(-100.0, 100.0);
  for (int n = 0; n < 2000; ++n) {
    const point p1 = point_init(d(rng), d(rng)), d1 = point_init(d(rng), d(rng));
    const point p2 = point_init(d(rng), d(rng)), d2 = point_init(d(rng), d(rng));
    const double sine = point_cross(d1, d2) / (point_length(d1) * point_length(d2));
    if (std::fabs(sine) < 0.05) continue;
    const Crossing a = intersect(p1, d1, p2, d2);
    const Crossing b = intersect(p2, d2, p1, d1);
    const double tol = 1e-5 * (1.0 + std::fabs(a.x) + std::fabs(a.y));
    ASSERT_NEAR(a.x, b.x, tol);
    ASSERT_NEAR(a.y, b.y, tol);
  }
}

}  // namespace
