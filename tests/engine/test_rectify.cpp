// Rectification of synthetic photographs: rectangles of known proportions
// through known cameras (focal lengths 1500 to 6000 px, tilts of 10 to 60
// degrees about one axis and two), estimated from their four corners and
// warped back onto upright rectangles.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "photographs.h"
#include "plain_buffers.h"
#include "rectify.h"

namespace {

const GeglRectangle kPhoto = {0, 0, 4000, 3000};
const double kDiagonal = 5000.0;

struct page {
  double w, h;
  const char *name;
};
const page kPages[] = {{100, 100, "1:1"}, {300, 400, "3:4"}, {1000, 1414, "1:1.414"}};

camera_view view(double focal, double tilt_x, double tilt_y, const page &p) {
  camera_view c;
  c.focal = focal;
  c.tilt_x = tilt_x;
  c.tilt_y = tilt_y;
  c.page_w = p.w;
  c.page_h = p.h;
  return c;
}

// The corners as a person might click them: from any corner, either way.
void clicked(const point corners[4], int start, bool reversed, point out[4]) {
  for (int i = 0; i < 4; ++i)
    out[i] = corners[(start + (reversed ? 4 - i : i)) % 4];
}

bool same_point(point a, point b) { return a.x == b.x && a.y == b.y; }

// Which of the rectangle's corners the estimate took as its top-left; 4 when
// none.
int first_corner(const rectify_estimate &e, const point corners[4]) {
  int k = 0;
  while (k < 4 && !same_point(e.corners[0], corners[k])) ++k;
  return k;
}

std::string describe(const rectify_estimate &e) {
  char text[512];
  rectify_describe(&e, text, sizeof text);
  return text;
}

// The crossing of the lines through a, b and through c, d.
point crossing(point a, point b, point c, point d) {
  const point r = point_from2(a, b), s = point_from2(c, d);
  const double t = point_cross(point_from2(a, c), s) / point_cross(r, s);
  return point_add(a, point_scale(r, t));
}

// Calls view_test(camera, page) through focal lengths of 1500, 3000 and
// 6000 px, each pair of tilts and each page.
template <typename Test>
void each_view(const double (&tilts)[8][2], Test view_test) {
  for (double focal : {1500.0, 3000.0, 6000.0})
    for (const auto &t : tilts)
      for (const page &p : kPages) {
        SCOPED_TRACE(::testing::Message() << "focal " << focal << ", tilts "
                                          << t[0] << ", " << t[1] << ", page "
                                          << p.name);
        view_test(view(focal, t[0], t[1], p), p);
      }
}

TEST(RectifyEstimate, AspectFromTwoVanishingPointsWithinTwoPercent) {
  const double tilts[8][2] = {{10, 10}, {20, -15}, {-30, 30}, {45, 20},
                              {-35, -40}, {60, 10}, {10, 60}, {60, 60}};
  int n = 0;
  each_view(tilts, [&](const camera_view &c, const page &p) {
    point corners[4], given[4];
    camera_corners(c, corners);
    clicked(corners, n % 4, n % 3 == 1, given);
    ++n;
    rectify_estimate e;
    ASSERT_EQ(rectify_estimate_init(&e, given, kPhoto), nullptr);
    EXPECT_EQ(e.method, RECTIFY_VANISHING_POINTS) << describe(e);
    // The first corner is the one nearest the top-left of the
    // quadrangle's box, and the rest follow round as the page's own
    // do: never mirrored.
    const int k = first_corner(e, corners);
    ASSERT_LT(k, 4);
    point box = corners[0];
    for (const point &q : corners)
      box = point_init(std::min(box.x, q.x), std::min(box.y, q.y));
    for (int i = 0; i < 4; ++i) {
      EXPECT_TRUE(same_point(e.corners[i], corners[(k + i) % 4])) << i;
      EXPECT_LE(point_length(point_from2(box, e.corners[0])),
                point_length(point_from2(box, corners[i])));
    }
    const double truth = k % 2 ? p.h / p.w : p.w / p.h;
    EXPECT_NEAR(e.aspect / truth, 1.0, 0.02);
    EXPECT_NEAR(e.focal / c.focal, 1.0, 0.02);
  });
}

TEST(RectifyEstimate, FallBacksSayWhichWasUsed) {
  const page &a4 = kPages[2];
  // Tilted about one axis only: two opposite sides stay parallel and the
  // focal length is not determined; 0.6 of the photograph's diagonal is
  // assumed.
  for (const auto &t : {std::pair<double, double>{30, 0}, {0, 25}}) {
    point corners[4];
    camera_corners(view(3000, t.first, t.second, a4), corners);
    rectify_estimate e;
    ASSERT_EQ(rectify_estimate_init(&e, corners, kPhoto), nullptr);
    EXPECT_EQ(e.method, RECTIFY_ONE_PAIR_PARALLEL);
    EXPECT_DOUBLE_EQ(e.focal, 0.6 * kDiagonal);
    EXPECT_NE(describe(e).find("from one vanishing point"), std::string::npos);
    EXPECT_NE(describe(e).find("assumed 3000 px"), std::string::npos);
  }
  // Square on: both pairs parallel, the ratio of the sides whatever the lens.
  for (double focal : {1500.0, 6000.0}) {
    point corners[4];
    camera_corners(view(focal, 0, 0, a4), corners);
    rectify_estimate e;
    ASSERT_EQ(rectify_estimate_init(&e, corners, kPhoto), nullptr);
    EXPECT_EQ(e.method, RECTIFY_BOTH_PAIRS_PARALLEL);
    EXPECT_NEAR(e.aspect, a4.w / a4.h, 1e-6);
    EXPECT_NE(describe(e).find("both pairs"), std::string::npos);
  }
  // A photograph said to be centred where both vanishing points lie to one
  // side (say, cropped off-centre): no real focal length.
  point corners[4];
  camera_corners(view(1500, 30, 30, a4), corners);
  const point v1 = crossing(corners[0], corners[1], corners[3], corners[2]);
  const point v2 = crossing(corners[0], corners[3], corners[1], corners[2]);
  const point centre = point_add(v1, point_from2(v2, v1));
  const GeglRectangle cropped = {int(centre.x) - 2000, int(centre.y) - 1500,
                                 4000, 3000};
  rectify_estimate e;
  ASSERT_EQ(rectify_estimate_init(&e, corners, cropped), nullptr);
  EXPECT_EQ(e.method, RECTIFY_NOT_REAL);
  EXPECT_DOUBLE_EQ(e.focal, 0.6 * kDiagonal);
  EXPECT_NE(describe(e).find("no real focal length"), std::string::npos);
  EXPECT_GT(e.aspect, 0.0);
}

TEST(RectifyEstimate, QuadranglesThatAreNoPhotographedRectangleAreRefused) {
  const point concave[4] = {{0, 0}, {100, 0}, {30, 30}, {0, 100}};
  const point crossed[4] = {{0, 0}, {100, 100}, {100, 0}, {0, 100}};
  const point flat[4] = {{0, 0}, {50, 0}, {100, 0}, {0, 100}};
  const point nan[4] = {{0, 0}, {100, 0}, {100, NAN}, {0, 100}};
  const point far[4] = {{0, 0}, {1e300, 0}, {100, 100}, {0, 100}};
  const char *const why[] = {"inside the triangle", "in order", "on a line",
                             "finite", "8388608"};
  const point *quads[] = {concave, crossed, flat, nan, far};
  for (int i = 0; i < 5; ++i) {
    rectify_estimate e;
    const char *refusal = rectify_estimate_init(&e, quads[i], kPhoto);
    ASSERT_NE(refusal, nullptr) << i;
    EXPECT_NE(std::string(refusal).find(why[i]), std::string::npos) << refusal;
  }
}

TEST(RectifyEstimate, SizeFromTheLongerMeanSideOrAsAsked) {
  point corners[4];
  camera_corners(view(3000, 25, -20, kPages[1]), corners);
  rectify_estimate e;
  ASSERT_EQ(rectify_estimate_init(&e, corners, kPhoto), nullptr);
  ASSERT_LT(e.aspect, 1.0);  // 3:4, upright
  const double longer = std::max(e.mean_width, e.mean_height);
  int32_t w = 0, h = 0;
  rectify_size(&e, e.aspect, 0, 0, &w, &h);
  EXPECT_EQ(h, std::lround(longer));
  EXPECT_EQ(w, std::lround(longer * e.aspect));
  rectify_size(&e, 2.0, 0, 0, &w, &h);  // a landscape ratio asked for
  EXPECT_EQ(w, std::lround(longer));
  EXPECT_EQ(h, std::lround(longer / 2.0));
  rectify_size(&e, e.aspect, 600, 0, &w, &h);
  EXPECT_EQ(w, 600);
  EXPECT_EQ(h, 800);
  rectify_size(&e, e.aspect, 0, 400, &w, &h);
  EXPECT_EQ(w, 300);
  EXPECT_EQ(h, 400);
  rectify_size(&e, e.aspect, 17, 1000, &w, &h);
  EXPECT_EQ(w, 17);
  EXPECT_EQ(h, 1000);
  rectify_size(&e, 1e-12, 5, 0, &w, &h);  // held within what a layer can be
  EXPECT_EQ(h, 1 << 30);

  warp_vals v{};
  rectify_vals(&e, 300, 400, &v);
  EXPECT_EQ(v.mapping, WARP_PERSPECTIVE);
  const float to[8] = {0, 0, 300, 0, 300, 400, 0, 400};
  EXPECT_EQ(std::memcmp(&v.dx0, to, sizeof to), 0);
  EXPECT_EQ(v.sx0, float(e.corners[0].x));
  EXPECT_EQ(v.sy3, float(e.corners[3].y));
  EXPECT_EQ(warp_vals_check(&v), nullptr);
}

// ------------------------------------------------------ where pixels land

// With the perspective mapping every grid point lands within half a pixel;
// the bilinear map, kept as the contrast, misses by tens to hundreds.
TEST(RectifyWarp, GridPointsLandWithinHalfAPixelWhereBilinearMisses) {
  const double tilts[8][2] = {{10, 0}, {0, 30}, {45, 0}, {60, 0},
                              {10, 10}, {30, -20}, {-45, 30}, {60, 60}};
  each_view(tilts, [&](const camera_view &c, const page &) {
    point corners[4];
    camera_corners(c, corners);
    rectify_estimate e;
    ASSERT_EQ(rectify_estimate_init(&e, corners, kPhoto), nullptr);
    int32_t w, h;
    rectify_size(&e, e.aspect, 0, 0, &w, &h);
    warp_vals v{};
    v.interpolation = 1;
    rectify_vals(&e, w, h, &v);
    ASSERT_EQ(warp_vals_check(&v), nullptr);
    const int first = first_corner(e, corners);
    EXPECT_LT(camera_grid_error(c, first, v, w, h), 0.5);
    v.mapping = WARP_BILINEAR;
    if (std::max(std::fabs(c.tilt_x), std::fabs(c.tilt_y)) >= 30) {
      EXPECT_GT(camera_grid_error(c, first, v, w, h), 10.0);
    }
  });
}

// The crossing of 127.5 nearest `at` along `values` (pixel i's centre at
// i + 0.5), or `at` + `reach` when there is none within it.
double edge_near(const std::vector<double> &values, double at, double reach) {
  double best = at + reach;
  for (size_t i = 0; i + 1 < values.size(); ++i) {
    const double a = values[i] - 127.5, b = values[i + 1] - 127.5;
    if ((a < 0) == (b < 0) || a == b) continue;
    const double x = i + 0.5 + a / (a - b);
    if (std::fabs(x - at) < std::fabs(best - at)) best = x;
  }
  return std::fabs(best - at) <= reach ? best : at + reach;
}

// Photographs of a checkerboard, rectified through the engine: every inner
// corner of its squares, found in the pixels where its edges cross 50 %,
// lands within half a pixel of where it belongs.
TEST(RectifyWarp, PhotographedCheckerboardComesBackSquare) {
  struct board_case {
    double focal, tilt_x, tilt_y;
  };
  const board_case cases[] = {{3000, 30, 20}, {1500, 45, -30}, {6000, 0, 40}};
  // 8 x 10 squares of 30 units, 60 pixels each on the output.
  const double square = 30, scale = 2;
  const int cols = 8, rows = 10;
  const int32_t width = int32_t(cols * square * scale);
  const int32_t height = int32_t(rows * square * scale);
  for (const board_case &bc : cases) {
    camera_view c = view(bc.focal, bc.tilt_x, bc.tilt_y,
                         page{cols * square, rows * square, "board"});
    c.fill = 0.15;  // about 450 pixels: the output magnifies
    c.shift_x = 0.2;
    point corners[4];
    camera_corners(c, corners);
    double x0 = 1e9, y0 = 1e9, x1 = -1e9, y1 = -1e9;
    for (const point &q : corners) {
      x0 = std::min(x0, q.x), y0 = std::min(y0, q.y);
      x1 = std::max(x1, q.x), y1 = std::max(y1, q.y);
    }
    const GeglRectangle box = {int(x0) - 4, int(y0) - 4, int(x1 - x0) + 9,
                               int(y1 - y0) + 9};
    const plain_layer photo = plain_new("R'G'B'A u8", box.width, box.height,
                                        box.x, box.y);
    plain_write(photo, camera_checkerboard(c, square, box));

    rectify_estimate e;
    ASSERT_EQ(rectify_estimate_init(&e, corners, kPhoto), nullptr);
    ASSERT_EQ(first_corner(e, corners), 0);
    double misses[2] = {0, 0};
    for (int32_t mapping : {WARP_PERSPECTIVE, WARP_BILINEAR}) {
      warp_vals v{};
      v.interpolation = 1;
      rectify_vals(&e, width, height, &v);
      v.mapping = mapping;
      const plain_layer out = plain_new("R'G'B'A u8", width, height);
      const warp_target target = {out.buffer.get(), 0, 0, {0, 0, width, height}};
      ASSERT_EQ(tessaform_warp_target(photo.buffer.get(), &photo.extent,
                                      &target, &v, nullptr, nullptr, nullptr),
                WARP_SUCCESS);
      const std::vector<unsigned char> px = plain_read(out);
      auto row = [&](int32_t y) {
        std::vector<double> r(static_cast<size_t>(width));
        for (int32_t x = 0; x < width; ++x) r[size_t(x)] = px[(size_t(y) * width + x) * 4];
        return r;
      };
      auto column = [&](int32_t x) {
        std::vector<double> r(static_cast<size_t>(height));
        for (int32_t y = 0; y < height; ++y) r[size_t(y)] = px[(size_t(y) * width + x) * 4];
        return r;
      };
      const double side = square * scale, reach = side / 2 - 1;
      for (int j = 1; j < rows; ++j)
        for (int i = 1; i < cols; ++i) {
          const double cx = i * side, cy = j * side;
          // The vertical edge a quarter square above and below the corner,
          // the horizontal one left and right of it.
          const int32_t above = int32_t(cy - side / 4), below = int32_t(cy + side / 4);
          const int32_t left = int32_t(cx - side / 4), right = int32_t(cx + side / 4);
          const double x = 0.5 * (edge_near(row(above), cx, reach) +
                                  edge_near(row(below), cx, reach));
          const double y = 0.5 * (edge_near(column(left), cy, reach) +
                                  edge_near(column(right), cy, reach));
          double &miss = misses[mapping == WARP_BILINEAR];
          miss = std::max(miss, std::hypot(x - cx, y - cy));
        }
    }
    SCOPED_TRACE(::testing::Message() << "focal " << bc.focal << ", tilts "
                                      << bc.tilt_x << ", " << bc.tilt_y);
    EXPECT_LT(misses[0], 0.5);
    EXPECT_GT(misses[1], 3.0);
  }
}

}  // namespace
