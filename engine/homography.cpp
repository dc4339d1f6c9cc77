// The perspective mapping: the projective map that takes the destination
// quadrangle's corners to the source quadrangle's, so straight lines stay
// straight, and the shape test that decides where it exists.
#include <cmath>
#include <limits>

#include "tessaform.h"

quad_shape quad_shape_of(const point q[4]) {
  int left = 0, right = 0;
  for (int i = 0; i < 4; ++i) {
    const point a = q[(i + 3) % 4], b = q[i], c = q[(i + 1) % 4];
    const double turn = point_cross(point_from2(a, b), point_from2(b, c));
    if (!std::isfinite(turn) || turn == 0.0) return QUAD_FLAT;
    (turn > 0.0 ? left : right) += 1;
  }
  if (left == 4 || right == 4) return QUAD_CONVEX;
  // Three turns one way: a corner lies inside the triangle of the other
  // three. Two and two: the corners are in convex position, visited in a
  // crossing order.
  return left == 2 ? QUAD_CROSSED : QUAD_CONCAVE;
}

namespace {

// The map of the unit square's corners (0,0), (1,0), (1,1), (0,1) onto q,
// as a 3 x 3 matrix acting on (u, v, 1).
void square_to_quad(const point q[4], double m[3][3]) {
  const double sx = q[0].x - q[1].x + q[2].x - q[3].x;
  const double sy = q[0].y - q[1].y + q[2].y - q[3].y;
  const double dx1 = q[1].x - q[2].x, dx2 = q[3].x - q[2].x;
  const double dy1 = q[1].y - q[2].y, dy2 = q[3].y - q[2].y;
  const double den = dx1 * dy2 - dx2 * dy1;
  const double g = (sx * dy2 - sy * dx2) / den;
  const double h = (dx1 * sy - dy1 * sx) / den;
  m[0][0] = q[1].x - q[0].x + g * q[1].x;
  m[0][1] = q[3].x - q[0].x + h * q[3].x;
  m[0][2] = q[0].x;
  m[1][0] = q[1].y - q[0].y + g * q[1].y;
  m[1][1] = q[3].y - q[0].y + h * q[3].y;
  m[1][2] = q[0].y;
  m[2][0] = g;
  m[2][1] = h;
  m[2][2] = 1.0;
}

// The adjugate: the inverse up to a factor, which a projective map ignores.
void adjugate(const double m[3][3], double a[3][3]) {
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) {
      const int r1 = (c + 1) % 3, r2 = (c + 2) % 3;
      const int c1 = (r + 1) % 3, c2 = (r + 2) % 3;
      a[r][c] = m[r1][c1] * m[r2][c2] - m[r1][c2] * m[r2][c1];
    }
}

point quad_centre(const point q[4]) {
  point c = point_init(0.0, 0.0);
  for (int i = 0; i < 4; ++i) c = point_add(c, q[i]);
  return point_scale(c, 0.25);
}

}  // namespace

bool homography_init(homography *h, const point src[4], const point dst[4]) {
  // Corners relative to each quadrangle's centre: far from the origin the
  // products of large coordinates would lose the pixel's fraction.
  h->from = quad_centre(dst);
  h->to = quad_centre(src);
  point s[4], d[4];
  for (int i = 0; i < 4; ++i) {
    s[i] = point_sub(src[i], h->to);
    d[i] = point_sub(dst[i], h->from);
  }
  double S[3][3], D[3][3], Dinv[3][3];
  square_to_quad(s, S);
  square_to_quad(d, D);
  adjugate(D, Dinv);
  double m[3][3];
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c)
      m[r][c] = S[r][0] * Dinv[0][c] + S[r][1] * Dinv[1][c] + S[r][2] * Dinv[2][c];
  // The destination's centre (0, 0 here) lies in front of the horizon:
  // scaled so its denominator is 1, every pixel in front has one above 0.
  const double scale = m[2][2];
  bool finite = std::isfinite(scale) && scale != 0.0;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) {
      h->m[r][c] = m[r][c] / scale;
      finite = finite && std::isfinite(h->m[r][c]);
    }
  return finite;
}

void homography_map(const homography *h, float x, float y, float *sx,
                    float *sy) {
  const double dx = double(x) - h->from.x, dy = double(y) - h->from.y;
  const double w = h->m[2][0] * dx + h->m[2][1] * dy + h->m[2][2];
  const double nx = h->m[0][0] * dx + h->m[0][1] * dy + h->m[0][2];
  const double ny = h->m[1][0] * dx + h->m[1][1] * dy + h->m[1][2];
  *sy = static_cast<float>(ny / w + h->to.y);
  // Behind the horizon the map would fold the plane over: nothing there.
  *sx = w > 0.0 ? static_cast<float>(nx / w + h->to.x)
                : std::numeric_limits<float>::quiet_NaN();
}

bool homography_jacobian(const homography *h, double x, double y,
                         point *along_x, point *along_y) {
  const double dx = x - h->from.x, dy = y - h->from.y;
  const double w = h->m[2][0] * dx + h->m[2][1] * dy + h->m[2][2];
  if (!(w > 0.0)) return false;
  const double px = (h->m[0][0] * dx + h->m[0][1] * dy + h->m[0][2]) / w;
  const double py = (h->m[1][0] * dx + h->m[1][1] * dy + h->m[1][2]) / w;
  *along_x = point_init((h->m[0][0] - px * h->m[2][0]) / w,
                        (h->m[1][0] - py * h->m[2][0]) / w);
  *along_y = point_init((h->m[0][1] - px * h->m[2][1]) / w,
                        (h->m[1][1] - py * h->m[2][1]) / w);
  return std::isfinite(along_x->x) && std::isfinite(along_x->y) &&
         std::isfinite(along_y->x) && std::isfinite(along_y->y);
}
